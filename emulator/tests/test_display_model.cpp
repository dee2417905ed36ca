// The display controller model against the register layout and pixel
// formats of the hardware, with expected values written out by hand.
#include "display_model.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>

namespace {

struct DisplayModel : testing::Test {
    uint64_t size = 0xC0010000;
    uint8_t *mem = (uint8_t *)mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                                   -1, 0);
    display_config cfg{};
    display_state d{};
    uint32_t palette[LAYER_COUNT][256];

    void SetUp() override
    {
        ASSERT_NE(mem, MAP_FAILED);
        cfg.width[0] = 320, cfg.height[0] = 240, cfg.width[1] = 640, cfg.height[1] = 480;
        cfg.layer[LAYER_P1] = {0x44320023, 2, 640, 0x03101000};
        cfg.status = 0x3;
        display_init(&d, mem, size, palette, &cfg);
    }
    void TearDown() override { munmap(mem, size); }
    uint32_t reg(uint32_t offset) { return d.regs[offset / 4]; }
};

TEST_F(DisplayModel, SyncFlagClearsOnlyWhereAOneIsWritten)
{
    const struct { bool vsync; uint32_t write, status; } steps[] = {
        {true, 0, 0x403}, {false, 0x003, 0x403}, {false, 0x403, 0x003}, {false, 0x403, 0x003}, {true, 0, 0x403},
    };
    for (const auto &s : steps) {
        if (s.vsync)
            display_vsync(&d);
        else
            display_write(&d, 0x308C, s.write);
        EXPECT_EQ(reg(0x308C), s.status) << std::hex << s.write;
    }
}

TEST_F(DisplayModel, ApplyTakesLayerSettingsOverAtTheNextSync)
{
    display_write(&d, 0x405C, 1);
    display_write(&d, 0x4060, 320);
    display_write(&d, 0x4058, 0x443A0033);
    display_write(&d, 0x4070, 0x0100FFFF);
    EXPECT_EQ(d.shown[LAYER_P1].control, 0x44320023u);
    EXPECT_EQ(reg(0x4070), 0u);  // write-only
    display_vsync(&d);
    EXPECT_EQ(reg(0x4058), 0x443A0023u);
    EXPECT_EQ(d.shown[LAYER_P1].control, 0x443A0023u);
    EXPECT_EQ(d.shown[LAYER_P1].hstride * 1000 + d.shown[LAYER_P1].vstride, 1320u);
}

TEST(PixelFormats, EncodeAndDecodeEachFormat)
{
    static const uint32_t palette[256] = {0x000000, 0x123456};
    static const struct { uint32_t format; uint8_t rgb[3], bytes[3], back[3]; } cases[] = {
        {DC_FORMAT_16, {255, 0, 0}, {0x00, 0xF8}, {255, 0, 0}},
        {DC_FORMAT_16, {0, 255, 0}, {0xE0, 0x07}, {0, 255, 0}},
        {DC_FORMAT_16, {0x87, 0x43, 0x21}, {0x04, 0x82}, {0x84, 0x41, 0x21}},
        {DC_FORMAT_24, {0x11, 0x22, 0x33}, {0x33, 0x22, 0x11}, {0x11, 0x22, 0x33}},
        {DC_FORMAT_8, {255, 0, 0}, {76}, {0, 0, 0}},
        {DC_FORMAT_8, {1, 1, 1}, {1}, {0x12, 0x34, 0x56}},
    };
    for (const auto &c : cases) {
        uint8_t bytes[3] = {}, back[3];
        encode_pixel(c.format, c.rgb, bytes);
        EXPECT_EQ(0, memcmp(bytes, c.bytes, (size_t)format_bytes(c.format))) << std::hex << c.format;
        decode_pixel(c.format, bytes, palette, back);
        EXPECT_EQ(0, memcmp(back, c.back, 3)) << std::hex << c.format;
    }
}

}  // namespace
