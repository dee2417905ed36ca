#include "menu/combo.h"
#include "fakes.h"

#include <fstream>
#include <iterator>

using ComboFile = InTempDir;

TEST_F(ComboFile, FileReplacesOnlyTheBytesItHoldsAndIsSavedAsTwelve)
{
    combo[0] = 0x100, combo[1] = 0x12340800, combo[2] = 0;
    load_combo();
    EXPECT_EQ(combo[0], 0x100u) << "no file leaves the combo";
    std::ofstream("tavro.bcfg", std::ios::binary) << std::string("\x01\x00\x00\x00\x10\x00", 6);
    load_combo();
    EXPECT_EQ(combo[0], 0x1u);
    EXPECT_EQ(combo[1], 0x12340010u) << "the two high bytes are kept";
    std::ofstream("tavro.bcfg", std::ios::binary)
        << std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x00\x00\x10\x00\xFF", 13);
    load_combo();
    EXPECT_EQ(combo[2], 0x100000u);
    combo[2] = 0x04030201;
    save_combo();
    std::ifstream saved("tavro.bcfg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
              std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x01\x02\x03\x04", 12));
}
