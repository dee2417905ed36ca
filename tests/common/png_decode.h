// PNG files for the tests: pictures handed to the device, shots read back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DecodedPng {
    bool ok = false;  // the file is a whole 8-bit RGB PNG
    std::string error;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3
};

DecodedPng decode_png(const std::string &path);

// Writes 8-bit RGB pixels as a PNG, for pictures a test hands to the device.
bool encode_png(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint8_t> &rgb);
