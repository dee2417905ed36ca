// tavro on a device that refuses it what it asks for: how it goes on.
#include "device_run.h"

using DeviceFault = DeviceTest;

// The copy runs at raised priority where it may; a system that refuses it
// (no CAP_SYS_NICE) gets one line, and the shot all the same.
TEST_F(DeviceFault, ARefusedPriorityIsReportedAndTheShotStillTaken)
{
    EXPECT_RUN(tavro({"shot.png"}, {"--screen", "16x8", "--setpriority-error", "13"}), 0,
               "tavro: about to dump 03101000, 16x8@16, stride=16, size=256\n",
               "tavro: setpriority failed: -1\ntavro: done.\n");
    DecodedPng png = decode_png(in_work("shot.png"));
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(16u, 8u)) << png.error;
    EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 -1\n") << "asked for, then set back";
}
