#include "device_models.h"

#include "layout.h"

#include <errno.h>
#include <linux/fb.h>
#include <sched.h>
#include <string.h>
#include <unistd.h>

static bool within(uint32_t n, uint32_t from, uint32_t to)
{
    return from && n >= from && n <= to;
}

// The word file is read at its start each time, so it never runs dry. A
// writer that truncates before writing may leave it short for a moment:
// read again.
ssize_t button_read(button_state *b, int fd, void *buf, size_t n)
{
    uint32_t count = b->reads ? __atomic_add_fetch(b->reads, 1, __ATOMIC_SEQ_CST) : 0;
    if (b->faults && within(count, b->faults->fail_from, b->faults->fail_to)) {
        errno = EIO;
        return -1;
    }
    size_t want = n < 4 ? n : 4;
    if (b->faults && within(count, b->faults->short_from, b->faults->short_to) && want > 2)
        want = 2;
    ssize_t got = -1;
    for (int tries = 0; tries < 1000; tries++) {
        got = pread(fd, buf, want, 0);
        if (got < 0 || (size_t)got == want)
            break;
        sched_yield();
    }
    return got;
}

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
    if (request == FBIOGETCMAP && f->palette) {
        fb_cmap *map = (fb_cmap *)arg;
        if (map->start >= 256 || map->len > 256 - map->start) {
            errno = EINVAL;
            return -1;
        }
        for (uint32_t i = 0; i < map->len; i++) {
            uint32_t c = f->palette[map->start + i];
            map->red[i] = (uint16_t)((c >> 16 & 0xFF) * 0x101);
            map->green[i] = (uint16_t)((c >> 8 & 0xFF) * 0x101);
            map->blue[i] = (uint16_t)((c & 0xFF) * 0x101);
            if (map->transp)
                map->transp[i] = 0;
        }
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
