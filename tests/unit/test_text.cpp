#include "menu/overlay.h"
#include "menu/text.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// An overlay with guard bytes on both sides, which no drawing may touch.
class DrawText : public testing::Test {
protected:
    static constexpr size_t GUARD = 4096;
    std::vector<uint8_t> memory = std::vector<uint8_t>(OVERLAY_BYTES + 2 * GUARD, 0);
    uint8_t *image = memory.data() + GUARD;

    int set_pixels() const
    {
        int n = 0;
        for (int i = 0; i < OVERLAY_BYTES; i++)
            n += image[i];
        return n;
    }
    // The 8 x 8 cell at (x, y) as glyph bytes, bit 7 the leftmost column.
    std::vector<uint8_t> cell(int x, int y) const
    {
        std::vector<uint8_t> rows;
        for (int r = 0; r < 8; r++) {
            uint8_t bits = 0;
            for (int k = 0; k < 8; k++)
                bits |= image[(y + r) * OVERLAY_WIDTH + x + k] ? 0x80 >> k : 0;
            rows.push_back(bits);
        }
        return rows;
    }
    void expect_guards_untouched()
    {
        for (size_t i = 0; i < GUARD; i++) {
            ASSERT_EQ(memory[i], 0) << "wrote before the overlay";
            ASSERT_EQ(memory[GUARD + OVERLAY_BYTES + i], 0) << "wrote past the overlay";
        }
    }
};

static const std::vector<uint8_t> GREATER = {0x70, 0x38, 0x1C, 0x0E, 0x1C, 0x38, 0x70, 0x00};
static const std::vector<uint8_t> BOLD_A = {0x38, 0x6C, 0xC6, 0xC6, 0xFE, 0xC6, 0xC6, 0x00};
static const std::vector<uint8_t> THIN_A = {0x04, 0x0A, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x00};

TEST_F(DrawText, DrawsGlyphsWhereAskedAndNothingElse)
{
    draw_text(image, 60, 76, "");
    draw_text(image, 60, 76, "    ");
    EXPECT_EQ(set_pixels(), 0);
    draw_text(image, 50, 76, ">");
    EXPECT_EQ(cell(50, 76), GREATER);
    EXPECT_EQ(set_pixels(), 21);
    draw_text(image, 100, 10, "\xC1");
    EXPECT_EQ(cell(100, 10), THIN_A) << "high bytes are glyph codes, not negative indices";
    // Text is laid over what is there: the union of both glyphs.
    draw_text(image, 200, 200, "A");
    draw_text(image, 200, 200, ">");
    std::vector<uint8_t> both;
    for (int r = 0; r < 8; r++)
        both.push_back(BOLD_A[r] | GREATER[r]);
    EXPECT_EQ(cell(200, 200), both);
}

TEST_F(DrawText, EachCharacterAdvancesEightPixels)
{
    draw_text(image, 60, 100, "A A>");
    EXPECT_EQ(cell(60, 100), BOLD_A);
    EXPECT_EQ(cell(68, 100), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(cell(76, 100), BOLD_A);
    EXPECT_EQ(cell(84, 100), GREATER);
}

TEST_F(DrawText, ClipsAtEveryEdge)
{
    const std::string long_text(60, 'A');
    const int places[][2] = {{-4, -3}, {316, 236}, {-8, 100}, {320, 100}, {100, 240}, {100, -8},
                             {0, 235}, {250, 0},   {INT_MIN, INT_MIN}, {INT_MAX - 3, INT_MAX - 3}};
    for (const auto &p : places)
        draw_text(image, p[0], p[1], long_text.c_str());
    expect_guards_untouched();
    // What lies inside is still drawn: in the corner, row 3 of the first "A"
    // (its right half) and of the second (its left half).
    std::vector<uint8_t> corner = cell(0, 0);
    EXPECT_EQ(corner[0], 0x6C);
    EXPECT_EQ(corner[4], 0) << "row 7 of the glyph is blank";
}
