#include "device/display.h"
#include "display_model.h"
#include "fakes.h"

TEST(DisplaySync, WaitsForEachEventAndAcknowledgesOnlyItsFlag)
{
    register_file[DC_STATUS] = 0x8001;  // with bits that are no sync flag
    status_reads = 0;
    wait_display_sync();
    wait_display_sync();
    EXPECT_GE(status_reads, 6) << "a wait ended before its event";
    EXPECT_EQ(register_file[DC_STATUS], 0x8001u) << std::hex << register_file[DC_STATUS];
}
