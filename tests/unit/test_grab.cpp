#include "capture/grab.h"
#include "capture_fixture.h"

#include <cstring>

using GrabScreen = CaptureTest;

// One process grabs many frames: the buffers follow the largest one, and a
// layer no frame could have allocates and copies nothing.
TEST_F(GrabScreen, BuffersFollowTheLargestGeometryAndRefusalsAllocateNothing)
{
    struct Step { int width, height; uint32_t hstride, vstride; int bpp, slots, row_width; };
    const Step steps[] = {
        {320, 240, 0, 640, -1, 0, 0},          {320, 240, 2, 0, -1, 0, 0},
        {320, 240, 1, 0xFFFFFFFF, -1, 0, 0},   {4096, 4096, 3, 3 * 8192, -1, 0, 0},
        {320, 240, 0x20000000, 640, -1, 0, 0}, {8, 2, 2, 16, 16, 2, 8},
        {4, 4, 2, 8, 16, 4, 4},                {6, 3, 2, 12, 16, 4, 6},
        {2, 1, 2, 4, 16, 4, 6},
    };
    for (const Step &s : steps) {
        fake_registers_reset();
        set_screen(0x4000, s.width, s.height);
        set_layer(0x4040, true, 0x4432, s.hstride, s.vstride, 0x01000000);
        int32_t width, height, stride;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(grab_screen(&width, &height, &stride), s.bpp) << s.hstride << " " << s.vstride;
        testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("tavro: unusable layer") != std::string::npos, s.bpp < 0) << err;
        EXPECT_EQ(row_slots, s.slots);
        EXPECT_EQ(row_width, s.row_width);
        EXPECT_GE(raw_capacity, s.bpp < 0 ? 0 : 2 * s.width * s.height);
        EXPECT_EQ(raw_capacity == 0, s.slots == 0);
        for (int i = 0; i < row_slots; i++)  // the sanitizer build checks each size
            memset(row_table[i], 0x55, size_t(row_width) * 3);
    }
}
