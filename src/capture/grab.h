// Copying the visible display layer.
#pragma once
#include <cstdint>

// Copies the visible layer into the raw buffer and returns its bits per
// pixel, or -1 when it cannot be copied. A depth that convert_rows does not
// know is returned as it is, with nothing allocated or copied. Width,
// height and stride (in pixels) are written in every case.
int32_t grab_screen(int32_t *width, int32_t *height, int32_t *stride);

// The frame a layer's registers describe; filled in whole, also when refused.
struct FrameGeometry {
    int32_t width;   // pixels, from the screen size register
    int32_t height;  // lines, from the screen size register
    int64_t bpp;     // bits per pixel: 8 per byte of the horizontal stride
    int32_t stride;  // pixels from one line to the next; 0 when past 32 bits
    int64_t size;    // bytes of the frame: stride pixels on each line
};

// Decodes the layer's strides and its block's screen size register. False
// for a geometry no real frame has: nothing to copy, more than 32 bits, or
// beyond MAX_FRAME_BYTES.
bool decode_geometry(uint32_t hstride, uint32_t vstride, uint32_t screen_size, FrameGeometry *g);

// The largest frame the grab accepts; no display of the device comes near it.
constexpr int64_t MAX_FRAME_BYTES = 64 << 20;
