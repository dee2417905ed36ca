#include "png_decode.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>

static std::vector<std::string> chunk_names(const std::vector<uint8_t> &file)
{
    std::vector<std::string> names;
    for (size_t at = 8; at + 8 <= file.size();) {
        uint32_t length = uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        names.emplace_back(reinterpret_cast<const char *>(&file[at + 4]), 4);
        at += 12 + size_t(length);
    }
    return names;
}

static void read_rows(png_structp png, png_infop info, DecodedPng &out)
{
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bit_depth = png_get_bit_depth(png, info);
    out.color_type = png_get_color_type(png, info);
    out.interlace = png_get_interlace_type(png, info);
    out.compression = png_get_compression_type(png, info);
    out.filter = png_get_filter_type(png, info);
    if (out.bit_depth != 8 || out.color_type != PNG_COLOR_TYPE_RGB)
        return;
    out.rgb.resize(size_t(out.width) * out.height * 3);
    for (uint32_t y = 0; y < out.height; y++)
        png_read_row(png, &out.rgb[size_t(y) * out.width * 3], nullptr);
    png_read_end(png, nullptr);
    out.ok = true;
}

DecodedPng decode_png(const std::string &path)
{
    DecodedPng out;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) {
        out.error = "not a PNG: " + path;
        return out;
    }
    out.chunks = chunk_names(file);
    FILE *fp = fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        out.ok = false;
        out.error = "libpng could not decode " + path;
    } else {
        png_init_io(png, fp);
        read_rows(png, info, out);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(fp);
    return out;
}

bool encode_png(const std::string &path, uint32_t width, uint32_t height,
                const std::vector<uint8_t> &rgb)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}
