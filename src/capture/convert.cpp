#include "capture/convert.h"
#include "capture/buffers.h"

#include <cstdio>
#include <cstring>

static void put_indexed(uint8_t *out, uint8_t index)
{
    uint32_t e = palette[index];
    out[0] = uint8_t(e >> 16);
    out[1] = uint8_t(e >> 8);
    out[2] = uint8_t(e);
}

// RGB565 widened by repeating each channel's top bits in its low bits.
static void put_rgb565(uint8_t *out, const uint8_t *in)
{
    uint32_t word = in[0] | in[1] << 8;
    out[0] = uint8_t((word >> 11) * 264 >> 5);
    out[1] = uint8_t((word >> 5 & 0x3F) * 260 >> 6);
    out[2] = uint8_t((word & 0x1F) * 264 >> 5);
}

// Fills row with the first n pixels of the source line at src.
static void convert_line(int32_t bpp, uint8_t *row, const uint8_t *src, int32_t n)
{
    switch (bpp) {
    case 4:
        for (int32_t x = 0; x < n; x++)
            put_indexed(row + x * 3, x & 1 ? src[x / 2] >> 4 : src[x / 2] & 0xF);
        break;
    case 8:
        for (int32_t x = 0; x < n; x++)
            put_indexed(row + x * 3, src[x]);
        break;
    case 16:
        for (int32_t x = 0; x < n; x++)
            put_rgb565(row + x * 3, src + x * 2);
        break;
    case 24:
        for (int32_t x = 0; x < n; x++) {
            row[x * 3] = src[x * 3 + 2];
            row[x * 3 + 1] = src[x * 3 + 1];
            row[x * 3 + 2] = src[x * 3];
        }
        break;
    }
}

int convert_rows(int32_t bpp, int32_t width, int32_t height, int32_t stride)
{
    if (!depth_known(bpp)) {
        fprintf(stderr, "tavro: bad bpp: %i\n", bpp);
        return -1;
    }
    if (width <= 0)
        return 0;
    for (int32_t y = 0; y < height; y++) {
        // Line starts in 64 bits: a wide stride on a tall frame must not wrap.
        int64_t start = int64_t(y) * stride * bpp / 8;
        int64_t available = start >= 0 && start < raw_length ? (raw_length - start) * 8 / bpp : 0;
        int32_t n = available < width ? int32_t(available) : width;
        convert_line(bpp, row_table[y], raw_buffer + (n ? start : 0), n);
        // Where the line runs on past the copy there is nothing to show.
        memset(row_table[y] + n * 3, 0, size_t(width - n) * 3);
    }
    return 0;
}
