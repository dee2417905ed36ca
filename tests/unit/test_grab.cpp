#include "capture/grab.h"
#include "capture_buffers.h"
#include "device/devices.h"
#include "fakes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

// One process grabs many frames: the buffers follow the largest one, and a
// layer that is refused, or whose depth has no conversion, allocates nothing.
TEST(GrabScreen, BuffersFollowTheLargestFrameAndRefusalsAllocateNothing)
{
    // Each step: the screen and the layer's strides, then what the grab
    // returns and the row slots, row width and raw bytes it leaves.
    struct Step { int width, height; uint32_t hstride, vstride; int bpp, slots, row_width, capacity; };
    const Step steps[] = {
        {320, 240, 2, 0, -1, 0, 0, 16}, {320, 240, 4, 1280, 32, 0, 0, 16},
        {8, 2, 2, 16, 16, 2, 8, 32},    {4, 4, 2, 8, 16, 4, 4, 32},
        {6, 3, 2, 12, 16, 4, 6, 36},    {2, 1, 2, 4, 16, 4, 6, 36},
    };
    set_capture({}, 0, 0);
    mem_fd = open("/dev/zero", O_RDONLY);  // frame memory that reads as zeros
    ASSERT_GE(mem_fd, 0);
    for (const Step &s : steps) {
        register_file.clear();
        register_file[0x4004] = uint32_t(s.height - 1) << 16 | uint32_t(s.width - 1);
        register_file[0x4058] = 0x4432 << 16 | 0x20 | 0x3;  // primary layer 1 on, RGB565
        register_file[0x405C] = s.hstride;
        register_file[0x4060] = s.vstride;
        int32_t width, height, stride;
        EXPECT_EQ(grab_screen(&width, &height, &stride), s.bpp) << s.hstride << " " << s.vstride;
        EXPECT_EQ(std::make_tuple(row_slots, row_width, raw_capacity),
                  std::make_tuple(s.slots, s.row_width, s.capacity));
        for (int i = 0; i < row_slots; i++)  // the sanitizer build checks each size
            memset(row_table[i], 0x55, size_t(row_width) * 3);
    }
    close(mem_fd);
}
