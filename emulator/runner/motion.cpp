#include "motion.h"

#include <stdlib.h>
#include <string.h>

static uint8_t *picture[LAYER_COUNT];
static int picture_w[LAYER_COUNT], picture_h[LAYER_COUNT];
static uint64_t frames;                 // frames drawn so far

int motion_keep(int layer, const uint8_t *rgb, int w, int h)
{
    size_t size = (size_t)w * h * 3;
    free(picture[layer]);
    picture[layer] = (uint8_t *)malloc(size);
    if (!picture[layer])
        return -1;
    memcpy(picture[layer], rgb, size);
    picture_w[layer] = w;
    picture_h[layer] = h;
    return 0;
}

// Format, enable bit, strides and address as they were set up.
static bool same_setup(uint32_t control, uint32_t hstride, uint32_t vstride, uint32_t address,
                       const layer_setup *s)
{
    uint32_t kept = 0xFFFF0000 | DC_CONTROL_ENABLE;
    return !((control ^ s->control) & kept) && hstride == s->hstride && vstride == s->vstride &&
           address == s->address;
}

static bool left_alone(const display_state *d, int l, const layer_setup *s)
{
    volatile uint32_t *g = d->regs + dc_layer_base[l] / 4;
    const layer_setup *shown = &d->shown[l];
    return same_setup(g[DC_CONTROL / 4], g[DC_HSTRIDE / 4], g[DC_VSTRIDE / 4], g[DC_ADDRESS / 4], s) &&
           same_setup(shown->control, shown->hstride, shown->vstride, shown->address, s);
}

void motion_step(display_state *d, const display_config *cfg)
{
    if (!d->regs)
        return;
    frames++;
    for (int l = 0; l < LAYER_COUNT; l++) {
        int w = picture_w[l], h = picture_h[l];
        const layer_setup *s = &cfg->layer[l];
        if (!picture[l] || !(s->control & DC_CONTROL_ENABLE) || !left_alone(d, l, s))
            continue;
        uint8_t *frame = (uint8_t *)malloc((size_t)w * h * 3);
        if (!frame)
            return;
        size_t shift = frames % (uint64_t)w * 3, line = (size_t)w * 3;
        for (int y = 0; y < h; y++) {
            const uint8_t *row = picture[l] + y * line;
            memcpy(frame + y * line, row + shift, line - shift);
            memcpy(frame + y * line + line - shift, row, shift);
        }
        display_fill_layer(d, l, frame, w, h);
        free(frame);
    }
}
