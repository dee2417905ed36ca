#include "menu/combo.h"
#include "menu/menu.h"
#include "temp_dir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

TEST(MenuCursor, SkipsTheEmptyRowAndWraps)
{
    const int rows[][3] = {{0, 5, 1}, {1, 0, 2}, {2, 1, 4}, {4, 2, 5}, {5, 4, 0}};
    for (const auto &r : rows) {
        EXPECT_EQ(cursor_up(r[0]), r[1]) << "up from " << r[0];
        EXPECT_EQ(cursor_down(r[0]), r[2]) << "down from " << r[0];
    }
}

TEST(MenuSlots, SixteenPositionsBothWays)
{
    const uint32_t cycle[] = {0,      0x1,    0x4,    0x10,   0x40,     0x100,    0x200,    0x400,
                              0x800,  0x1000, 0x2000, 0x4000, 0x8000,   0x400000, 0x800000, 0x8000000};
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(slot_forward(cycle[i]), cycle[(i + 1) % 16]) << std::hex << cycle[i];
        EXPECT_EQ(slot_back(cycle[(i + 1) % 16]), cycle[i]) << std::hex << cycle[(i + 1) % 16];
    }
}

TEST(MenuSlots, ForeignMasksMoveAsAWholeToANamedBit)
{
    EXPECT_EQ(slot_forward(0x3), 0xCu);            // lowest bit 2: LEFT
    EXPECT_EQ(slot_back(0x30000), 0x18000u);       // lowest bit 15: Y
    EXPECT_EQ(slot_forward(0x80000001), 0x4u);     // bit 31 falls out
    EXPECT_EQ(slot_back(0x10000), 0x8000u);        // unnamed bit 16 down to Y
    EXPECT_EQ(slot_forward(0x10000), 0x400000u);   // up past 17-21 to VOL DOWN
}

class ComboFile : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        combo[0] = 0x100;
        combo[1] = 0x800;
        combo[2] = 0;
    }
    static void write_file(const std::string &bytes)
    {
        FILE *f = fopen("tavro.bcfg", "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
};

TEST_F(ComboFile, ShortFilesReplaceOnlyTheBytesTheyHold)
{
    load_combo();
    EXPECT_EQ(combo[0], 0x100u) << "no file leaves the default";
    write_file(std::string("\x00\x20\x00\x00", 4));
    load_combo();
    EXPECT_EQ(combo[0], 0x2000u);
    EXPECT_EQ(combo[1], 0x800u);
    combo[1] = 0x12340800;
    write_file(std::string("\x01\x00\x00\x00\x10\x00", 6));
    load_combo();
    EXPECT_EQ(combo[0], 0x1u);
    EXPECT_EQ(combo[1], 0x12340010u) << "the two high bytes are kept";
    write_file(std::string("\x01\x00\x00\x00\x10\x00\x00\x00\x00\x10\x00\x00\xFF", 13));
    load_combo();
    EXPECT_EQ(combo[1], 0x10u);
    EXPECT_EQ(combo[2], 0x1000u);
}

TEST_F(ComboFile, SavesTwelveLittleEndianBytes)
{
    save_combo();
    FILE *f = fopen("tavro.bcfg", "rb");
    ASSERT_NE(f, nullptr);
    unsigned char bytes[16];
    size_t n = fread(bytes, 1, sizeof bytes, f);
    fclose(f);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), n),
              std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00", 12));
}
