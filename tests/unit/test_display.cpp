#include "device/display.h"
#include "fakes.h"

TEST(DisplaySync, WaitsForEachEventAndAcknowledgesOnlyItsFlag)
{
    register_file[0x308C] = 0x8001;
    status_reads = 0;
    wait_display_sync();
    wait_display_sync();
    EXPECT_GE(status_reads, 6) << "a wait ended before its event";
    EXPECT_EQ(register_file[0x308C], 0x8001u) << std::hex << register_file[0x308C];
}
