#include "capture/grab.h"

#include <gtest/gtest.h>
#include <tuple>

// Each row: the registers, then the frame they describe or its refusal.
TEST(DecodeGeometry, StridesAndScreenSizeGiveTheFrameOrARefusal)
{
    struct Case { uint32_t hstride, vstride, screen; bool usable; int32_t width, height; int64_t bpp, stride, size; };
    const Case cases[] = {
        // 320x240; the high nibbles of both size fields are ignored
        {2, 640, 0xF0EFF13F, true, 320, 240, 16, 320, 153600},
        // a line longer than the screen: the size follows the stride, not the width
        {2, 700, 0x00EF013F, true, 320, 240, 16, 350, 168000},
        // a stride that is no whole number of pixels is cut down
        {3, 7, 0x00000000, true, 1, 1, 24, 2, 6},
        // the largest screen field: 4096x4096
        {1, 4096, 0x0FFF0FFF, true, 4096, 4096, 8, 4096, 16777216},
        // nothing to copy: no depth, no line, or a line shorter than a pixel
        {0, 640, 0x00EF013F, false, 320, 240, 0, 0, 0},
        {2, 0, 0x00EF013F, false, 320, 240, 16, 0, 0},
        {3, 2, 0x00EF013F, false, 320, 240, 24, 0, 0},
        // past 64 MiB, a line of more pixels than 32 bits hold, a depth beyond them
        {4, 16388, 0x0FFF0FFF, false, 4096, 4096, 32, 4097, 67125248},
        {1, 0xFFFFFFFF, 0x00000000, false, 1, 1, 8, 0, 4294967295},
        {0x20000000, 0xFFFFFFFF, 0x00000000, false, 1, 1, 0x100000000, 7, 3758096384},
    };
    for (const Case &c : cases) {
        FrameGeometry g;
        EXPECT_EQ(decode_geometry(c.hstride, c.vstride, c.screen, &g), c.usable)
            << c.hstride << " " << c.vstride << " " << std::hex << c.screen;
        EXPECT_EQ(std::make_tuple(g.width, g.height, g.bpp, g.stride, g.size),
                  std::make_tuple(c.width, c.height, c.bpp, c.stride, c.size));
    }
}
