// The display controller model. Two sides share the register window through
// the memory file and the palettes through ROOT/shared: the controller (the
// runner's clock) raises the sync flag and latches applied layer settings;
// the write handler runs inside the program, on the stores the shim
// catches, and must stay async-signal-safe. Reads go straight to the shared
// memory: the controller never sees them.
#include "display_model.h"

#include <string.h>

const uint32_t dc_layer_base[LAYER_COUNT] = {0x400C, 0x4040, 0x440C, 0x4440};
const char *const dc_layer_name[LAYER_COUNT] = {"p0", "p1", "s0", "s1"};
// Drawn in this order, later ones on top.
static const int compose_order[LAYER_COUNT] = {LAYER_P0, LAYER_S0, LAYER_P1, LAYER_S1};

// Bytes of a line or pixel that no picture covers, so a capture of them shows.
static const uint8_t FILLER = 0xA5;

int layer_block(int layer)
{
    return layer == LAYER_S0 || layer == LAYER_S1;
}

int format_bytes(uint32_t code)
{
    switch (code) {
    case DC_FORMAT_8: return 1;
    case DC_FORMAT_16: return 2;
    case DC_FORMAT_24: return 3;
    }
    return 0;
}

static uint32_t rgb565_to_rgb(uint32_t c)
{
    uint32_t r = (c >> 11) & 0x1F, g = (c >> 5) & 0x3F, b = c & 0x1F;
    r = (r << 3) | (r >> 2);
    g = (g << 2) | (g >> 4);
    b = (b << 3) | (b >> 2);
    return r << 16 | g << 8 | b;
}

static uint32_t block_base(int block)
{
    return block ? DC_BLOCK_SECONDARY : DC_BLOCK_PRIMARY;
}

// The layer whose palette register sits at offset, or -1.
static int palette_layer(uint32_t offset)
{
    for (int l = 0; l < LAYER_COUNT; l++)
        if (offset == dc_layer_base[l] + DC_PALETTE)
            return l;
    return -1;
}

void display_init(display_state *d, uint8_t *mem, uint64_t mem_size, uint32_t (*palette)[256],
                  const display_config *cfg)
{
    memset(d, 0, sizeof *d);
    d->mem = mem;
    d->mem_size = mem_size;
    d->palette = palette;
    for (int l = 0; l < LAYER_COUNT; l++) {
        d->shown[l] = cfg->layer[l];
        for (uint32_t i = 0; i < 256; i++)
            palette[l][i] = i << 16 | i << 8 | i;
    }
    if (mem_size < REGS_PHYS + REGS_SIZE)
        return;
    d->regs = (volatile uint32_t *)(mem + REGS_PHYS);
    d->regs[DC_STATUS / 4] = cfg->status & ~DC_STATUS_SYNC;
    for (int b = 0; b < 2; b++)
        d->regs[(block_base(b) + DC_SCREEN_SIZE) / 4] =
            (uint32_t)(cfg->height[b] - 1) << 16 | (uint32_t)(cfg->width[b] - 1);
    for (int l = 0; l < LAYER_COUNT; l++) {
        volatile uint32_t *g = d->regs + dc_layer_base[l] / 4;
        g[DC_CONTROL / 4] = cfg->layer[l].control & ~DC_CONTROL_APPLY;
        g[DC_HSTRIDE / 4] = cfg->layer[l].hstride;
        g[DC_VSTRIDE / 4] = cfg->layer[l].vstride;
        g[DC_ADDRESS / 4] = cfg->layer[l].address;
    }
}

// A store by the program. The status flag clears where a 1 is written and
// the controller may set it meanwhile, hence the compare-and-swap; a
// palette register is write-only: its entry goes to the layer's palette.
void display_write(display_state *d, uint32_t offset, uint32_t value)
{
    volatile uint32_t *r = d->regs + offset / 4;
    int l = palette_layer(offset);
    if (offset == DC_STATUS) {
        uint32_t old = __atomic_load_n(r, __ATOMIC_SEQ_CST);
        uint32_t now;
        do
            now = (value & ~DC_STATUS_SYNC) | (old & DC_STATUS_SYNC & ~value);
        while (!__atomic_compare_exchange_n(r, &old, now, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST));
    } else if (l >= 0) {
        if (d->palette)
            d->palette[l][value >> 24] = rgb565_to_rgb(value & 0xFFFF);
    } else {
        *r = value;
    }
}

// Take over the settings of every layer whose apply bit is set.
void display_update(display_state *d)
{
    if (!d->regs)
        return;
    for (int l = 0; l < LAYER_COUNT; l++) {
        volatile uint32_t *g = d->regs + dc_layer_base[l] / 4;
        uint32_t control = g[DC_CONTROL / 4];
        if (!(control & DC_CONTROL_APPLY))
            continue;
        d->shown[l].control = control & ~DC_CONTROL_APPLY;
        d->shown[l].hstride = g[DC_HSTRIDE / 4];
        d->shown[l].vstride = g[DC_VSTRIDE / 4];
        d->shown[l].address = g[DC_ADDRESS / 4];
        __atomic_fetch_and(&g[DC_CONTROL / 4], ~DC_CONTROL_APPLY, __ATOMIC_SEQ_CST);
    }
}

void display_vsync(display_state *d)
{
    if (!d->regs)
        return;
    display_update(d);
    __atomic_fetch_or(&d->regs[DC_STATUS / 4], DC_STATUS_SYNC, __ATOMIC_SEQ_CST);
}

// Without sight of the program's stores the flag can only be a pulse.
void display_end_pulse(display_state *d)
{
    if (d->regs)
        __atomic_fetch_and(&d->regs[DC_STATUS / 4], ~DC_STATUS_SYNC, __ATOMIC_SEQ_CST);
}

static void encode_pixel(uint32_t format, const uint8_t *rgb, uint8_t *out)
{
    uint32_t r = rgb[0], g = rgb[1], b = rgb[2], v;
    switch (format) {
    case DC_FORMAT_8:
        out[0] = (uint8_t)((r * 77 + g * 150 + b * 29) >> 8);   // grey level
        break;
    case DC_FORMAT_16:
        v = (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
        out[0] = (uint8_t)v;
        out[1] = (uint8_t)(v >> 8);
        break;
    case DC_FORMAT_24:
        out[0] = (uint8_t)b;
        out[1] = (uint8_t)g;
        out[2] = (uint8_t)r;
        break;
    }
}

static void decode_pixel(uint32_t format, const uint8_t *in, const uint32_t *palette, uint8_t *rgb)
{
    uint32_t c = 0;
    switch (format) {
    case DC_FORMAT_8: c = palette[in[0]]; break;
    case DC_FORMAT_16: c = rgb565_to_rgb(in[0] | in[1] << 8); break;
    case DC_FORMAT_24: c = (uint32_t)in[2] << 16 | in[1] << 8 | in[0]; break;
    }
    rgb[0] = (uint8_t)(c >> 16);
    rgb[1] = (uint8_t)(c >> 8);
    rgb[2] = (uint8_t)c;
}

// Writes a w x h picture (RGB888) into the layer's frame memory in its own
// format and strides. Line and pixel padding get the filler, as far as a
// line of the picture at 4 bytes a pixel reaches, so that a hostile stride
// costs no more than the picture; nothing is written past the end of memory.
void display_fill_layer(display_state *d, int layer, const uint8_t *rgb, int w, int h)
{
    const layer_setup *s = &d->shown[layer];
    uint32_t format = s->control >> DC_FORMAT_SHIFT;
    uint64_t line = (uint64_t)w * s->hstride;
    if (s->vstride > line)
        line = s->vstride;
    if (line > (uint64_t)w * 4 + 64)
        line = (uint64_t)w * 4 + 64;
    for (int y = 0; y < h; y++) {
        uint64_t start = s->address + (uint64_t)y * s->vstride;
        if (start >= d->mem_size)
            break;
        uint8_t *p = d->mem + start;
        uint64_t room = d->mem_size - start;
        memset(p, FILLER, line < room ? line : room);
        for (int x = 0; x < w; x++) {
            uint8_t px[3];
            uint64_t at = (uint64_t)x * s->hstride;
            encode_pixel(format, rgb + ((size_t)y * w + x) * 3, px);
            for (int i = 0; i < format_bytes(format) && at + i < room; i++)
                p[at + i] = px[i];
        }
    }
}

void display_screen(const display_state *d, int block, int *w, int *h)
{
    uint32_t size = d->regs ? d->regs[(block_base(block) + DC_SCREEN_SIZE) / 4] : 0;
    *w = (int)(size & 0xFFF) + 1;
    *h = (int)((size >> 16) & 0xFFF) + 1;
}

// What display block b's own screen shows: its enabled layers as latched,
// from the top-left corner, clipped to w x h.
void display_render(const display_state *d, int block, uint8_t *rgb, int w, int h)
{
    memset(rgb, 0, (size_t)w * h * 3);
    if (!d->regs)
        return;
    int lw, lh;
    display_screen(d, block, &lw, &lh);
    for (int i = 0; i < LAYER_COUNT; i++) {
        int l = compose_order[i];
        const layer_setup *s = &d->shown[l];
        uint32_t format = s->control >> DC_FORMAT_SHIFT;
        int bytes = format_bytes(format);
        if (layer_block(l) != block || !(s->control & DC_CONTROL_ENABLE) || !bytes)
            continue;
        for (int y = 0; y < lh && y < h; y++)
            for (int x = 0; x < lw && x < w; x++) {
                uint64_t at = s->address + (uint64_t)y * s->vstride + (uint64_t)x * s->hstride;
                if (at + bytes <= d->mem_size)
                    decode_pixel(format, d->mem + at, d->palette[l], rgb + ((size_t)y * w + x) * 3);
            }
    }
}
