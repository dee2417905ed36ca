// The menu's built-in 8x8 bitmap font: 256 glyphs of 8 bytes.
//
// The glyph of character code v is font[8 * v] to font[8 * v + 7], one byte
// per pixel row from the top. Bit 7 (0x80) is the leftmost column and bit 0
// the rightmost; a set bit is a text pixel.
//
// Codes 33-126 are bold ASCII, 161-254 the same characters in a thin style
// and 129-154 small capitals A-Z; the other codes are blanks and symbols.
#pragma once
#include <cstdint>

extern const uint8_t font[2048];
