#include "capture/grab.h"
#include "device/devices.h"
#include "display_model.h"
#include "fakes.h"

#include <fcntl.h>
#include <tuple>

// The register of primary layer 1 at offset, within its group.
static uint32_t p1(uint32_t offset)
{
    return dc_layer_base[LAYER_P1] + offset;
}

// One process grabs many frames: the buffers follow the largest one, and a
// layer that is refused, or whose depth has no conversion, allocates nothing.
TEST(GrabScreen, BuffersFollowTheLargestFrameAndRefusalsAllocateNothing)
{
    struct Layer { int width, height; uint32_t hstride, vstride; };
    struct Buffers { int32_t row_slots, row_width, raw_capacity; };
    struct Step { const char *what; Layer layer; int bpp; Buffers after; };
    const Step steps[] = {
        {"no line: refused", {320, 240, 2, 0}, -1, {0, 0, 16}},
        {"32 bits, which have no conversion", {320, 240, 4, 1280}, 32, {0, 0, 16}},
        {"the first frame", {8, 2, 2, 16}, 16, {2, 8, 32}},
        {"more lines of fewer pixels: every row takes their width", {4, 4, 2, 8}, 16, {4, 4, 32}},
        {"wider lines: every row grows", {6, 3, 2, 12}, 16, {4, 6, 36}},
        {"a smaller frame: nothing shrinks", {2, 1, 2, 4}, 16, {4, 6, 36}},
    };
    set_capture({}, 0, 0);
    mem_fd = open("/dev/zero", O_RDONLY);  // frame memory that reads as zeros
    ASSERT_GE(mem_fd, 0);
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        const Layer &l = s.layer;
        register_file = {
            {DC_BLOCK_PRIMARY + DC_SCREEN_SIZE, uint32_t(l.height - 1) << 16 | uint32_t(l.width - 1)},
            {p1(DC_CONTROL), DC_FORMAT_16 << DC_FORMAT_SHIFT | DC_CONTROL_ENABLE | 0x3},
            {p1(DC_HSTRIDE), l.hstride},
            {p1(DC_VSTRIDE), l.vstride},
        };
        int32_t width, height, stride;
        EXPECT_EQ(grab_screen(&width, &height, &stride), s.bpp);
        EXPECT_EQ(std::make_tuple(row_slots, row_width, raw_capacity),
                  std::make_tuple(s.after.row_slots, s.after.row_width, s.after.raw_capacity));
        for (int i = 0; i < row_slots; i++)  // the sanitizer build checks each size
            memset(row_table[i], 0x55, size_t(row_width) * 3);
    }
    close(mem_fd);
}

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
