#include "menu/combo.h"
#include "temp_dir.h"

#include <cstdio>

using ComboFile = InTempDir;

static void write_file(const std::string &bytes)
{
    FILE *f = fopen("tavro.bcfg", "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

TEST_F(ComboFile, FileReplacesOnlyTheBytesItHoldsAndIsSavedAsTwelve)
{
    combo[0] = 0x100, combo[1] = 0x12340800, combo[2] = 0;
    load_combo();
    EXPECT_EQ(combo[0], 0x100u) << "no file leaves the combo";
    write_file(std::string("\x01\x00\x00\x00\x10\x00", 6));
    load_combo();
    EXPECT_EQ(combo[0], 0x1u);
    EXPECT_EQ(combo[1], 0x12340010u) << "the two high bytes are kept";
    write_file(std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x00\x00\x10\x00\xFF", 13));
    load_combo();
    EXPECT_EQ(combo[2], 0x100000u);
    combo[2] = 0x04030201;
    save_combo();
    FILE *f = fopen("tavro.bcfg", "rb");
    char bytes[16];
    size_t n = f ? fread(bytes, 1, sizeof bytes, f) : 0;
    if (f)
        fclose(f);
    EXPECT_EQ(std::string(bytes, n), std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x01\x02\x03\x04", 12));
}
