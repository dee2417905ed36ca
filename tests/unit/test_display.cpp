#include "device/display.h"
#include "device/registers.h"
#include "fake_registers.h"

#include <gtest/gtest.h>

class DisplaySync : public testing::Test {
protected:
    void SetUp() override { fake_registers_reset(); }
};

TEST_F(DisplaySync, AcknowledgesAPendingSyncWithoutSpinningAndKeepsOtherBits)
{
    register_file[0x308C] = 0x8001;
    fake_sync_script({true});
    wait_display_sync();
    ASSERT_EQ(register_log.size(), 3u);
    EXPECT_EQ(fake_reads_of(0x308C), 2);
    EXPECT_TRUE(register_log[2].write);
    EXPECT_EQ(register_log[2].value, 0x8401u);
    EXPECT_EQ(register_file[0x308C], 0x8001u);
}

TEST_F(DisplaySync, PollsOncePerSpinUntilTheFlagRises)
{
    for (int clear = 1; clear <= 4; clear++) {
        fake_registers_reset();
        std::vector<bool> script(clear, false);
        script.push_back(true);
        fake_sync_script(script);
        wait_display_sync();
        EXPECT_EQ(fake_reads_of(0x308C), clear + 2) << clear << " clear polls";
        EXPECT_EQ(register_file[0x308C], 0u);
    }
}

TEST_F(DisplaySync, TwoWaitsInARowNeedTwoSyncEvents)
{
    fake_sync_script({true, false, false, false, true});
    wait_display_sync();
    wait_display_sync();
    EXPECT_EQ(fake_reads_of(0x308C), 6);
    int writes = 0;
    for (const RegisterAccess &a : register_log)
        writes += a.write;
    EXPECT_EQ(writes, 2);
}

TEST(DisplayFormats, KnowsExactlyTheThreeFormats)
{
    EXPECT_EQ(format_bpp(0x443A), 8);
    EXPECT_EQ(format_bpp(0x4432), 16);
    EXPECT_EQ(format_bpp(0xC653), 24);
    for (uint32_t code : {0x0u, 0x4433u, 0x443Bu, 0xC652u, 0xFFFFu})
        EXPECT_EQ(format_bpp(code), 0) << std::hex << code;
}

TEST(DisplayFormats, FormatChangeKeepsTheLowBitsAndSetsApply)
{
    fake_registers_reset();
    register_file[0x4058] = 0x44320023;
    set_layer_format(PRIMARY_LAYER1, FORMAT_8BPP);
    EXPECT_EQ(register_file[0x4058], 0x443A0033u);
    set_layer_format(PRIMARY_LAYER1, FORMAT_16BPP);
    EXPECT_EQ(register_file[0x4058], 0x44320033u);
}
