// Capture buffers set by hand, as a grab would leave them.
#pragma once
#include "capture/buffers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

// Rows of width pixels, each byte set to fill, and the copy; the buffer goes
// on past the copy with 0xFF bytes, which a conversion must never show.
inline void set_capture(const std::vector<uint8_t> &copy, int width, int height, uint8_t fill = 0)
{
    for (int i = 0; i < row_slots; i++)
        free(row_table[i]);
    free(row_table);
    row_table = static_cast<uint8_t **>(calloc(height, sizeof *row_table));
    for (int i = 0; i < height; i++)
        row_table[i] = static_cast<uint8_t *>(memset(malloc(size_t(width) * 3), fill, size_t(width) * 3));
    row_slots = height;
    row_width = width;
    raw_length = int32_t(copy.size());
    raw_capacity = raw_length + 16;
    raw_buffer = static_cast<uint8_t *>(memset(realloc(raw_buffer, raw_capacity), 0xFF, raw_capacity));
    std::copy(copy.begin(), copy.end(), raw_buffer);
}
