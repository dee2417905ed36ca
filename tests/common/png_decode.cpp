#include "png_decode.h"

#include <fstream>
#include <iterator>
#include <png.h>

// libpng's simple reader stops after the last row, so the end chunk is
// checked by hand: a file cut off anywhere, also just before it, is refused.
DecodedPng decode_png(const std::string &path)
{
    DecodedPng out;
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {}), end("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) && image.format == PNG_FORMAT_RGB) {
        out.width = image.width;
        out.height = image.height;
        out.rgb.resize(PNG_IMAGE_SIZE(image));
        out.ok = png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) &&
                 bytes.size() > end.size() && bytes.compare(bytes.size() - end.size(), end.size(), end) == 0;
    }
    png_image_free(&image);
    if (!out.ok)
        out.error = "not a whole 8-bit RGB PNG: " + path;
    return out;
}
