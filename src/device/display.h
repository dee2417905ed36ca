// What the program needs of the display controller beyond plain accesses.
#pragma once
#include <cstdint>

// Bits per pixel of a format code, or 0 for a code the program does not know.
int format_bpp(uint32_t code);

// Busy-waits for the next display sync and acknowledges it.
void wait_display_sync();

// Gives a layer a new pixel format; its strides must be written first.
void set_layer_format(uint32_t group, uint32_t code);
