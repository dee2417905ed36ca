#include "capture/convert.h"
#include "capture/buffers.h"

#include <climits>
#include <cstdio>
#include <cstring>

static void put_indexed(uint8_t *out, uint8_t index)
{
    uint32_t e = palette[index];
    out[0] = uint8_t(e >> 16);
    out[1] = uint8_t(e >> 8);
    out[2] = uint8_t(e);
}

// RGB565 widened by repeating each channel's top bits in its low bits, as
// the three bytes of a little-endian word (red in bits 0-7).
static constexpr uint32_t widen_rgb565(uint32_t p)
{
    return ((p >> 11) * 264 >> 5) | ((p >> 5 & 0x3F) * 260 >> 6) << 8 |
           ((p & 0x1F) * 264 >> 5) << 16;
}

// A pixel's word is the OR of one entry for each of its bytes: the repeated
// bits of green come from the high byte alone, so the halves never mix.
struct ByteTable {
    uint32_t entry[256];
};

static constexpr ByteTable rgb565_table(int shift)
{
    ByteTable t = {};
    for (uint32_t b = 0; b < 256; b++)
        t.entry[b] = widen_rgb565(b << shift);
    return t;
}

static constexpr ByteTable HIGH_BYTE = rgb565_table(8);
static constexpr ByteTable LOW_BYTE = rgb565_table(0);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read little-endian");

static uint32_t rgb565_at(const uint8_t *in)
{
    return HIGH_BYTE.entry[in[1]] | LOW_BYTE.entry[in[0]];
}

static void put_rgb(uint8_t *out, uint32_t rgb)
{
    out[0] = uint8_t(rgb);
    out[1] = uint8_t(rgb >> 8);
    out[2] = uint8_t(rgb >> 16);
}

// Four pixels at a time where the line and the row start on a word: two
// words in, three words out.
static void convert_rgb565(uint8_t *row, const uint8_t *src, int32_t n)
{
    int32_t x = 0;
    if ((reinterpret_cast<uintptr_t>(src) | reinterpret_cast<uintptr_t>(row)) % 4 == 0) {
        const uint8_t *in = static_cast<const uint8_t *>(__builtin_assume_aligned(src, 4));
        uint8_t *out = static_cast<uint8_t *>(__builtin_assume_aligned(row, 4));
        for (; x + 4 <= n; x += 4) {
            uint32_t a, b;
            memcpy(&a, in + x * 2, 4);
            memcpy(&b, in + x * 2 + 4, 4);
            uint32_t p0 = HIGH_BYTE.entry[a >> 8 & 0xFF] | LOW_BYTE.entry[a & 0xFF];
            uint32_t p1 = HIGH_BYTE.entry[a >> 24] | LOW_BYTE.entry[a >> 16 & 0xFF];
            uint32_t p2 = HIGH_BYTE.entry[b >> 8 & 0xFF] | LOW_BYTE.entry[b & 0xFF];
            uint32_t p3 = HIGH_BYTE.entry[b >> 24] | LOW_BYTE.entry[b >> 16 & 0xFF];
            uint32_t words[3] = {p0 | p1 << 24, p1 >> 8 | p2 << 16, p2 >> 16 | p3 << 8};
            memcpy(out + x * 3, words, sizeof words);
        }
    }
    for (; x < n; x++)
        put_rgb(row + x * 3, rgb565_at(src + x * 2));
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
        convert_rgb565(row, src, n);
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

// Whole pixels in the bytes left of the copy, without a division on a
// 64-bit value (a library call per line on the device).
static int32_t pixels_in(uint32_t bytes, int32_t bpp)
{
    switch (bpp) {
    case 4: return bytes > INT32_MAX / 2 ? INT32_MAX : int32_t(bytes * 2);
    case 8: return int32_t(bytes);
    case 16: return int32_t(bytes / 2);
    default: return int32_t(bytes / 3);
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
        int32_t n = 0;
        if (start >= 0 && start < raw_length)
            n = pixels_in(uint32_t(raw_length - start), bpp);
        if (n > width)
            n = width;
        convert_line(bpp, row_table[y], raw_buffer + (n ? start : 0), n);
        // Where the line runs on past the copy there is nothing to show.
        if (n < width)
            memset(row_table[y] + n * 3, 0, size_t(width - n) * 3);
    }
    return 0;
}
