// The display controller model against the register layout of the
// hardware, with expected values written out by hand.
#include "display_model.h"

#include <gtest/gtest.h>

TEST(DisplayModel, SyncFlagClearsWhereAOneIsWrittenAndLayersApplyAtTheNextSync)
{
    // The model over a register window of its own, layer 1 shown at 16 bits.
    static uint32_t window[0x10000 / 4], palette[LAYER_COUNT][256];
    display_state d{nullptr, 0, window, palette, {}, 0};
    window[0x4058 / 4] = d.shown[LAYER_P1].control = 0x44320023;
    // Each row: a store (offset 0: a sync), then the status and the control
    // layer 1 is shown with.
    static const struct { uint32_t offset, value, status, shown; } steps[] = {
        {0, 0, 0x400, 0x44320023}, {0x308C, 0x003, 0x403, 0x44320023}, {0x308C, 0x403, 0x003, 0x44320023},
        {0x308C, 0x403, 0x003, 0x44320023}, {0x405C, 1, 0x003, 0x44320023}, {0x4060, 320, 0x003, 0x44320023},
        {0x4058, 0x443A0033, 0x003, 0x44320023}, {0x4070, 0x0100FFFF, 0x003, 0x44320023}, {0, 0, 0x403, 0x443A0023},
    };
    for (const auto &s : steps) {
        if (s.offset)
            display_write(&d, s.offset, s.value);
        else
            display_vsync(&d);
        EXPECT_EQ(d.regs[0x308C / 4], s.status) << std::hex << s.offset << " " << s.value;
        EXPECT_EQ(d.shown[LAYER_P1].control, s.shown) << std::hex << s.offset << " " << s.value;
    }
    EXPECT_EQ(d.shown[LAYER_P1].hstride * 1000 + d.shown[LAYER_P1].vstride, 1320u);
    EXPECT_EQ(palette[LAYER_P1][1], 0xFFFFFFu);
}
