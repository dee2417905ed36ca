#include "capture/convert.h"
#include "capture_fixture.h"

using ConvertRows = CaptureTest;

static std::vector<uint8_t> row(int y, int width)
{
    return std::vector<uint8_t>(row_table[y], row_table[y] + width * 3);
}

TEST_F(ConvertRows, WidensRgb565ByRepeatingTopBits)
{
    // Little-endian words: 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821, 0x0000.
    give_raw({0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84, 0x21, 0x08, 0x00, 0x00});
    give_rows(7, 1);
    EXPECT_EQ(convert_rows(16, 7, 1, 7), 0);
    EXPECT_EQ(row(0, 7), (std::vector<uint8_t>{255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 130, 132,
                                               8, 4, 8, 0, 0, 0}));
}

TEST_F(ConvertRows, SwapsBlueGreenRedAndSkipsStridePadding)
{
    // Two lines of two pixels, stride three: the third pixel is padding.
    give_raw({0x11, 0x22, 0x33, 0x01, 0x02, 0x03, 0xEE, 0xEE, 0xEE,
              0x44, 0x55, 0x66, 0x04, 0x05, 0x06, 0xEE, 0xEE, 0xEE});
    give_rows(2, 2);
    EXPECT_EQ(convert_rows(24, 2, 2, 3), 0);
    EXPECT_EQ(row(0, 2), (std::vector<uint8_t>{0x33, 0x22, 0x11, 0x03, 0x02, 0x01}));
    EXPECT_EQ(row(1, 2), (std::vector<uint8_t>{0x66, 0x55, 0x44, 0x06, 0x05, 0x04}));
}

TEST_F(ConvertRows, IndexedPixelsGoThroughThePalette)
{
    palette[0x00] = 0x000000;
    palette[0x01] = 0x102030;
    palette[0x02] = 0x405060;
    palette[0x80] = 0xFF808080;  // the top byte is no colour
    give_raw({0x01, 0x80, 0x02, 0x00});
    give_rows(4, 1);
    EXPECT_EQ(convert_rows(8, 4, 1, 4), 0);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x80, 0x80, 0x80, 0x40, 0x50,
                                               0x60, 0, 0, 0}));

    // Four bits: low nibble first; an odd width leaves the last high nibble.
    palette[0x03] = 0x708090;
    give_raw({0x21, 0x03, 0x31});
    give_rows(5, 1);
    EXPECT_EQ(convert_rows(4, 5, 1, 6), 0);
    EXPECT_EQ(row(0, 5), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80,
                                               0x90, 0, 0, 0, 0x10, 0x20, 0x30}));
}

TEST_F(ConvertRows, UnknownDepthsAndEmptyFramesChangeNoRow)
{
    give_raw(std::vector<uint8_t>(16, 0xFF));
    give_rows(2, 2);
    for (int y = 0; y < 2; y++)
        std::fill(row_table[y], row_table[y] + 6, 0x99);
    for (int bpp : {32, 0, -1, 12}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(convert_rows(bpp, 2, 2, 2), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "tavro: bad bpp: " + std::to_string(bpp) + "\n");
    }
    EXPECT_EQ(convert_rows(16, 0, 2, 2), 0);
    EXPECT_EQ(convert_rows(16, 2, 0, 2), 0);
    EXPECT_EQ(row(0, 2), std::vector<uint8_t>(6, 0x99));
    EXPECT_EQ(row(1, 2), std::vector<uint8_t>(6, 0x99));
}

TEST_F(ConvertRows, NeverReadsPastTheCopy)
{
    // Width 3 over a stride of 2: each line runs into the next one, and the
    // last one past the four copied pixels, which must come out black.
    give_raw({0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF});
    give_rows(3, 2);
    for (int y = 0; y < 2; y++)
        std::fill(row_table[y], row_table[y] + 9, 0x99);
    EXPECT_EQ(convert_rows(16, 3, 2, 2), 0);
    EXPECT_EQ(row(0, 3), (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(row(1, 3), (std::vector<uint8_t>{0, 0, 255, 255, 255, 255, 0, 0, 0}));

    // Only the copy counts, not what the buffer may hold beyond it.
    raw_length = 3;
    EXPECT_EQ(convert_rows(16, 3, 2, 2), 0);
    EXPECT_EQ(row(0, 3), (std::vector<uint8_t>{255, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(row(1, 3), std::vector<uint8_t>(9, 0));
}
