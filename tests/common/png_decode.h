// Reads a PNG back for the tests: its chunk names, header and RGB pixels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DecodedPng {
    bool ok = false;
    std::string error;
    std::vector<std::string> chunks;  // in file order
    uint32_t width = 0, height = 0;
    int bit_depth = 0, color_type = 0, interlace = 0, compression = 0, filter = 0;
    std::vector<uint8_t> rgb;  // width * height * 3, when the header is 8-bit RGB
};

DecodedPng decode_png(const std::string &path);

// Writes 8-bit RGB pixels as a PNG, for pictures a test hands to the device.
bool encode_png(const std::string &path, uint32_t width, uint32_t height,
                const std::vector<uint8_t> &rgb);
