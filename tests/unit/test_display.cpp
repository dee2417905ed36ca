#include "device/display.h"
#include "fake_registers.h"

#include <gtest/gtest.h>

TEST(DisplaySync, WaitsForEachEventAndAcknowledgesOnlyItsFlag)
{
    fake_registers_reset();
    register_file[0x308C] = 0x8001;
    fake_sync_script({false, false, true, false, true});
    wait_display_sync();
    wait_display_sync();
    EXPECT_GE(fake_reads_of(0x308C), 5) << "a wait ended before its event";
    EXPECT_EQ(register_file[0x308C], 0x8001u) << std::hex << register_file[0x308C];
}

TEST(DisplayFormats, KnowsExactlyTheThreeFormats)
{
    const uint32_t cases[][2] = {{0x443A, 8}, {0x4432, 16}, {0xC653, 24}, {0, 0}, {0x4433, 0}, {0xC652, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(format_bpp(c[0]), int(c[1])) << std::hex << c[0];
}
