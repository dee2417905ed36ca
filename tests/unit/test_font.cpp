#include "menu/font.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

static std::vector<int> rows(int code)
{
    return std::vector<int>(font + 8 * code, font + 8 * code + 8);
}

TEST(Font, KeepsTheGlyphsTheMenuWasDrawnWith)
{
    EXPECT_EQ(rows('>'), (std::vector<int>{0x70, 0x38, 0x1C, 0x0E, 0x1C, 0x38, 0x70, 0x00}));
    EXPECT_EQ(rows('A'), (std::vector<int>{0x38, 0x6C, 0xC6, 0xC6, 0xFE, 0xC6, 0xC6, 0x00}));
    EXPECT_EQ(rows('g'), (std::vector<int>{0x00, 0x3E, 0x66, 0x66, 0x66, 0x3E, 0x06, 0x3C}));
    EXPECT_EQ(rows('A' + 128), (std::vector<int>{0x04, 0x0A, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x00}));
}

TEST(Font, LeavesTheBlankCodesEmpty)
{
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 14, 32, 160})
        EXPECT_EQ(rows(code), std::vector<int>(8, 0)) << "code " << code;
}

// Bold glyphs sit side by side with no gap, so column 7 and row 7 are the
// spacing between characters and lines.
TEST(Font, KeepsBoldAsciiInsideItsCell)
{
    for (int code = 33; code <= 126; code++) {
        std::vector<int> glyph = rows(code);
        int all = 0;
        for (int row : glyph)
            all |= row;
        EXPECT_NE(all, 0) << "code " << code << " is empty";
        if (code != '@' && code != '_') {
            EXPECT_EQ(all & 0x01, 0) << "code " << code << " uses column 7";
        }
        if (!strchr(";gjpqy@_", code)) {
            EXPECT_EQ(glyph[7], 0) << "code " << code << " uses row 7";
        }
        for (int other = code + 1; other <= 126; other++)
            EXPECT_NE(glyph, rows(other)) << "codes " << code << " and " << other << " look alike";
    }
}

TEST(Font, DrawsSmallCapitalsInRowsTwoToSix)
{
    for (int code = 129; code <= 154; code++) {
        std::vector<int> glyph = rows(code);
        EXPECT_EQ(glyph[0] | glyph[1] | glyph[7], 0) << "code " << code;
        EXPECT_NE(glyph[2] | glyph[3] | glyph[4] | glyph[5] | glyph[6], 0) << "code " << code;
    }
}
