// Copying the visible display layer.
#pragma once
#include <cstdint>

// Copies the visible layer into the raw buffer and returns its bits per
// pixel, or -1 when it cannot be copied. A depth that convert_rows does not
// know is returned as it is, with nothing allocated or copied. Width,
// height and stride (in pixels) are written in every case.
int32_t grab_screen(int32_t *width, int32_t *height, int32_t *stride);

// The largest frame the grab accepts; no display of the device comes near it.
constexpr int64_t MAX_FRAME_BYTES = 64 << 20;
