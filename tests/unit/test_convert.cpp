#include "capture/convert.h"
#include "fakes.h"

static std::vector<uint8_t> rows(int width, int height)
{
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; y++)
        rgb.insert(rgb.end(), row_table[y], row_table[y] + width * 3);
    return rgb;
}

// Each row: depth, width, height and stride in pixels, the bytes copied,
// and the RGB rows they give, one after the other.
TEST(ConvertRows, EachDepthGivesItsColoursAndNothingPastTheCopy)
{
    for (uint32_t i = 0; i < 4; i++)
        palette[i] = 0x102030 * i;
    palette[0x80] = 0xFF808080;  // the top byte is no colour
    struct Case { const char *what; int bpp, width, height, stride; std::vector<uint8_t> copy, rgb; };
    const Case cases[] = {
        {"16 bits: little-endian 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821, 0, top bits repeated", 16, 7, 1, 7,
         {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84, 0x21, 0x08, 0x00, 0x00},
         {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 130, 132, 8, 4, 8, 0, 0, 0}},
        {"24 bits: blue, green, red in memory, the third pixel of each line padding", 24, 2, 2, 3,
         {0x11, 0x22, 0x33, 0x01, 0x02, 0x03, 0xEE, 0xEE, 0xEE, 0x44, 0x55, 0x66, 0x04, 0x05, 0x06},
         {0x33, 0x22, 0x11, 0x03, 0x02, 0x01, 0x66, 0x55, 0x44, 0x06, 0x05, 0x04}},
        {"8 bits: palette entries, their top byte no colour", 8, 4, 1, 4, {0x01, 0x80, 0x02, 0x00},
         {0x10, 0x20, 0x30, 0x80, 0x80, 0x80, 0x20, 0x40, 0x60, 0, 0, 0}},
        {"4 bits: low nibble first, an odd width leaving the last high nibble", 4, 5, 1, 6, {0x21, 0x03, 0x31},
         {0x10, 0x20, 0x30, 0x20, 0x40, 0x60, 0x30, 0x60, 0x90, 0, 0, 0, 0x10, 0x20, 0x30}},
        {"lines longer than the stride run into the next, and the last past the copy comes out black", 16, 3,
         2, 2, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF},
         {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 255, 0, 0, 0}},
        {"a half pixel at the end of the copy comes out black", 16, 3, 2, 2, {0x00, 0xF8, 0xE0},
         {255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        set_capture(c.copy, c.width, c.height, 0x99);
        EXPECT_EQ(convert_rows(c.bpp, c.width, c.height, c.stride), 0);
        EXPECT_EQ(rows(c.width, c.height), c.rgb) << c.what;
    }
}

// A depth the conversion does not know, or an empty frame, leaves every row as it was.
TEST(ConvertRows, UnknownDepthsAndEmptyFramesChangeNoRow)
{
    set_capture(std::vector<uint8_t>(16, 0xFF), 2, 2, 0x99);
    for (int bpp : {32, 0, -1, 12})
        EXPECT_EQ(convert_rows(bpp, 2, 2, 2), -1) << bpp;
    EXPECT_EQ(convert_rows(16, 0, 2, 2), 0);
    EXPECT_EQ(convert_rows(16, 2, 0, 2), 0);
    EXPECT_EQ(rows(2, 2), std::vector<uint8_t>(12, 0x99));
}
