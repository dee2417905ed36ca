#include "runner.h"
#include "picture.h"

#include <stdio.h>
#include <stdlib.h>

int save_screenshot(display_state *d, const char *file)
{
    int w, h;
    display_update(d);
    display_screen(d, 0, &w, &h);
    uint8_t *rgb = (uint8_t *)malloc((size_t)w * h * 3);
    if (rgb)
        display_render(d, 0, rgb, w, h);
    int saved = rgb ? save_png(file, rgb, w, h) : -1;
    free(rgb);
    if (saved)
        fprintf(stderr, "tavro-emu: cannot write screenshot %s\n", file);
    return saved;
}
