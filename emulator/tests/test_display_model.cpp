// The display controller model against the register layout of the
// hardware, with expected values written out by hand.
#include "display_model.h"

#include <gtest/gtest.h>
#include <tuple>

// The model over a register window of its own, layer 1 shown at 16 bits.
class DisplayModel : public testing::Test {
protected:
    uint32_t window[REGS_SIZE / 4] = {};
    uint32_t palette[LAYER_COUNT][256] = {};
    display_state d{nullptr, 0, window, palette, {}};

    void SetUp() override { window[p1(DC_CONTROL) / 4] = d.shown[LAYER_P1].control = 0x44320023; }
    static uint32_t p1(uint32_t reg) { return dc_layer_base[LAYER_P1] + reg; }
    uint32_t status() { return window[DC_STATUS / 4]; }
    // What layer 1 is shown with: control, hstride, vstride.
    std::tuple<uint32_t, uint32_t, uint32_t> shown()
    {
        const layer_setup &s = d.shown[LAYER_P1];
        return {s.control, s.hstride, s.vstride};
    }
};

TEST_F(DisplayModel, SyncFlagIsRaisedAtASyncAndClearedOnlyWhereAOneIsWritten)
{
    display_vsync(&d);
    EXPECT_EQ(status(), 0x400u) << "a sync raises the flag";
    display_write(&d, DC_STATUS, 0x003);
    EXPECT_EQ(status(), 0x403u) << "a store of the other bits keeps it";
    display_write(&d, DC_STATUS, 0x403);
    EXPECT_EQ(status(), 0x003u) << "a one written clears it";
    display_write(&d, DC_STATUS, 0x403);
    EXPECT_EQ(status(), 0x003u) << "a one written to a clear flag sets nothing";
    display_vsync(&d);
    EXPECT_EQ(status(), 0x403u) << "the next sync raises it again";
}

TEST_F(DisplayModel, LayerSettingsApplyAtTheNextSyncAndNotBefore)
{
    display_write(&d, p1(DC_HSTRIDE), 1);
    display_write(&d, p1(DC_VSTRIDE), 320);
    display_write(&d, p1(DC_CONTROL), 0x443A0033);   // 8 bits a pixel, apply
    EXPECT_EQ(shown(), std::make_tuple(0x44320023u, 0u, 0u)) << "before the sync";
    display_vsync(&d);
    EXPECT_EQ(shown(), std::make_tuple(0x443A0023u, 1u, 320u)) << "after it";
    EXPECT_EQ(window[p1(DC_CONTROL) / 4], 0x443A0023u) << "the apply bit is taken back";
}

TEST_F(DisplayModel, PaletteRegisterIsWriteOnlyAndFillsItsLayersPalette)
{
    display_write(&d, p1(DC_PALETTE), 0x0100FFFF);   // entry 1, RGB565 white
    display_write(&d, p1(DC_PALETTE), 0x0200F800);   // entry 2, RGB565 red
    EXPECT_EQ(std::make_pair(palette[LAYER_P1][1], palette[LAYER_P1][2]), std::make_pair(0xFFFFFFu, 0xFF0000u));
    EXPECT_EQ(window[p1(DC_PALETTE) / 4], 0u);
}
