// Shots read back as PNG files, strictly.
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
