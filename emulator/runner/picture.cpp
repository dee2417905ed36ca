#include "picture.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

static void put(uint8_t *p, uint32_t c)
{
    p[0] = (uint8_t)(c >> 16);
    p[1] = (uint8_t)(c >> 8);
    p[2] = (uint8_t)c;
}

// Fully saturated colour around the wheel, h in 0..1535.
static uint32_t hue(int h)
{
    int f = h & 0xFF;
    switch ((h >> 8) % 6) {
    case 0: return 0xFF0000 | f << 8;
    case 1: return (uint32_t)(0xFF - f) << 16 | 0xFF00;
    case 2: return 0x00FF00 | f;
    case 3: return (uint32_t)(0xFF - f) << 8 | 0xFF;
    case 4: return (uint32_t)f << 16 | 0xFF;
    default: return 0xFF0000 | (0xFF - f);
    }
}

static uint32_t scale(uint32_t c, int level)
{
    uint32_t r = (c >> 16) * level / 255, g = ((c >> 8) & 0xFF) * level / 255, b = (c & 0xFF) * level / 255;
    return r << 16 | g << 8 | b;
}

// Colour bars on top, a hue sweep darkening downwards, a grey ramp at the
// bottom, a disc in the middle and a white frame on the outermost pixels.
// The variant turns the hues, so that layers can be told apart.
void make_pattern(uint8_t *rgb, int w, int h, int variant)
{
    static const uint32_t bars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                     0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    int cx = w / 2, cy = h / 2, rad = (h < w ? h : w) / 5;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c;
            int dx = x - cx, dy = y - cy;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
                c = 0xFFFFFF;
            else if (dx * dx + dy * dy < rad * rad)
                c = hue((variant * 256 + 768 + (dx + rad) * 512 / (2 * rad + 1)) % 1536);
            else if (y < h / 4)
                c = bars[(x * 8 / w + variant) % 8];
            else if (y >= h - h / 8)
                c = scale(0xFFFFFF, x * 255 / (w > 1 ? w - 1 : 1));
            else
                c = scale(hue((x * 1536 / w + variant * 384) % 1536), 255 - (y - h / 4) * 200 / (h - h / 4 - h / 8 + 1));
            put(rgb + ((size_t)y * w + x) * 3, c);
        }
}

// Pixel (x, y) is the source's (x mod sw, y mod sh): a picture of the
// screen's own size comes through unchanged.
void tile_picture(const uint8_t *src, int sw, int sh, uint8_t *dst, int w, int h)
{
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            memcpy(dst + ((size_t)y * w + x) * 3, src + ((size_t)(y % sh) * sw + x % sw) * 3, 3);
}

uint8_t *load_png(const char *path, int *w, int *h)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path))
        return nullptr;
    image.format = PNG_FORMAT_RGB;
    uint8_t *rgb = (uint8_t *)malloc(PNG_IMAGE_SIZE(image));
    if (!rgb || !png_image_finish_read(&image, nullptr, rgb, 0, nullptr)) {
        free(rgb);
        png_image_free(&image);
        return nullptr;
    }
    *w = (int)image.width;
    *h = (int)image.height;
    return rgb;
}

int save_png(const char *path, const uint8_t *rgb, int w, int h)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)w;
    image.height = (png_uint_32)h;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path, 0, rgb, 0, nullptr) ? 0 : -1;
}
