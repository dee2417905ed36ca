#include "control/shot.h"
#include "capture/convert.h"
#include "capture/grab.h"
#include "capture/png_out.h"

#include <cstdint>
#include <cstdio>

int take_shot(const char *name)
{
    int32_t width = 0, height = 0, stride = 0;
    int32_t bpp = grab_screen(&width, &height, &stride);
    // Without converted rows there is nothing to write.
    if (convert_rows(bpp, width, height, stride) != 0)
        return -1;
    if (write_png(name, width, height) != 0) {
        fputs("tavro: write_png() failed\n", stderr);
        return -1;
    }
    return 0;
}
