#include "device/display.h"
#include "fake_registers.h"

#include <gtest/gtest.h>

TEST(DisplaySync, WaitsForEachEventAndAcknowledgesOnlyItsFlag)
{
    fake_registers_reset({false, false, true, false, true});
    register_file[0x308C] = 0x8001;
    wait_display_sync();
    wait_display_sync();
    EXPECT_GE(status_reads, 5u) << "a wait ended before its event";
    EXPECT_EQ(register_file[0x308C], 0x8001u) << std::hex << register_file[0x308C];
}
