#include "framebuffer.h"

#include <errno.h>
#include <linux/fb.h>
#include <string.h>

static uint64_t le(const uint8_t *p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

int fb_load(fb_state *f, const fb0_record *rec, size_t size)
{
    memset(f, 0, sizeof *f);
    if (size < sizeof *rec)
        return -1;
    memcpy(f->id, rec->id, sizeof f->id);
    f->smem_start = le(rec->smem_start, 8);
    f->smem_len = (uint32_t)le(rec->smem_len, 4);
    f->line_length = (uint32_t)le(rec->line_length, 4);
    f->xres = (uint32_t)le(rec->xres, 4);
    f->yres = (uint32_t)le(rec->yres, 4);
    f->bits_per_pixel = (uint32_t)le(rec->bits_per_pixel, 4);
    return 0;
}

static void colours(const fb_state *f, fb_var_screeninfo *var)
{
    switch (f->bits_per_pixel) {
    case 16:
        var->red = {11, 5, 0};
        var->green = {5, 6, 0};
        var->blue = {0, 5, 0};
        break;
    case 24:
        var->red = {16, 8, 0};
        var->green = {8, 8, 0};
        var->blue = {0, 8, 0};
        break;
    default:   // palette index
        var->red = var->green = var->blue = {0, 8, 0};
        break;
    }
}

int fb_ioctl(const fb_state *f, unsigned long request, void *arg)
{
    if (request == FBIOGET_FSCREENINFO) {
        fb_fix_screeninfo *fix = (fb_fix_screeninfo *)arg;
        memset(fix, 0, sizeof *fix);
        memcpy(fix->id, f->id, sizeof fix->id);
        fix->smem_start = (unsigned long)f->smem_start;
        fix->smem_len = f->smem_len;
        fix->line_length = f->line_length;
        fix->type = FB_TYPE_PACKED_PIXELS;
        fix->visual = f->bits_per_pixel == 8 ? FB_VISUAL_PSEUDOCOLOR : FB_VISUAL_TRUECOLOR;
        return 0;
    }
    if (request == FBIOGET_VSCREENINFO) {
        fb_var_screeninfo *var = (fb_var_screeninfo *)arg;
        memset(var, 0, sizeof *var);
        var->xres = var->xres_virtual = f->xres;
        var->yres = var->yres_virtual = f->yres;
        var->bits_per_pixel = f->bits_per_pixel;
        colours(f, var);
        var->height = var->width = 0xFFFFFFFF;   // size unknown
        return 0;
    }
    errno = EINVAL;
    return -1;
}

size_t fb_span(const fb_state *f, uint64_t pos, size_t n, uint64_t *phys)
{
    *phys = f->smem_start + pos;
    if (pos >= f->smem_len)
        return 0;
    return n < f->smem_len - pos ? n : (size_t)(f->smem_len - pos);
}
