#include "png_decode.h"

#include <cstdio>
#include <cstring>
#include <png.h>

DecodedPng decode_png(const std::string &path)
{
    DecodedPng out;
    FILE *fp = fopen(path.c_str(), "rb");
    std::vector<uint8_t> file;
    for (int c; fp && (c = fgetc(fp)) != EOF;)
        file.push_back(uint8_t(c));
    if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) {
        out.error = "not a PNG: " + path;
        if (fp)
            fclose(fp);
        return out;
    }
    for (size_t at = 8; at + 8 <= file.size(); at += 12 + (size_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]))
        out.chunks.emplace_back(reinterpret_cast<const char *>(&file[at + 4]), 4);
    rewind(fp);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    out.error = "libpng could not decode " + path;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, fp);
        png_read_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        out.bit_depth = png_get_bit_depth(png, info);
        out.color_type = png_get_color_type(png, info);
        out.interlace = png_get_interlace_type(png, info);
        out.compression = png_get_compression_type(png, info);
        out.filter = png_get_filter_type(png, info);
        if (out.bit_depth == 8 && out.color_type == PNG_COLOR_TYPE_RGB) {
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
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}
