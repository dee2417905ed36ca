#include "png_decode.h"

#include <csetjmp>
#include <cstdio>
#include <png.h>

// Read to the end with libpng's own checks, so that a file cut off anywhere,
// also just before its end chunk, is refused.
DecodedPng decode_png(const std::string &path)
{
    DecodedPng out;
    out.error = "not a whole 8-bit RGB PNG: " + path;
    FILE *fp = fopen(path.c_str(), "rb");
    if (!fp)
        return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, fp);
        png_read_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        if (png_get_bit_depth(png, info) == 8 && png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB) {
            out.rgb.resize(size_t(out.width) * out.height * 3);
            for (uint32_t y = 0; y < out.height; y++)
                png_read_row(png, &out.rgb[size_t(y) * out.width * 3], nullptr);
            png_read_end(png, nullptr);
            out.ok = true;
            out.error.clear();
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(fp);
    return out;
}

bool encode_png(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint8_t> &rgb)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}
