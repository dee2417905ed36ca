// Text in the built-in font on the menu's surface.
#pragma once
#include <cstdint>

// Lays text in the built-in font over a 320-pixel-wide image, with the top
// left of its first character at (x, y); whatever falls outside is left out.
void draw_text(uint8_t *image, int x, int y, const char *text);
