#include "png_decode.h"

#include <cstring>
#include <png.h>

DecodedPng decode_png(const std::string &path)
{
    DecodedPng out;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        // What the file holds, before any conversion: only 8-bit RGB is read.
        if (image.format == PNG_FORMAT_RGB) {
            out.width = image.width;
            out.height = image.height;
            out.rgb.resize(PNG_IMAGE_SIZE(image));
            out.ok = png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
        }
        png_image_free(&image);
    }
    if (!out.ok)
        out.error = path + ": " + (image.warning_or_error ? image.message : "not 8-bit RGB");
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
