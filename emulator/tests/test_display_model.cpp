// The display controller model against the register layout and pixel
// formats of the hardware, with expected values written out by hand.
#include "display_model.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>

namespace {

struct DisplayModel : testing::Test {
    uint64_t size = 0xC0010000;
    uint8_t *mem = nullptr;
    display_config cfg{};
    display_state d{};
    uint32_t palette[LAYER_COUNT][256];

    void SetUp() override
    {
        mem = (uint8_t *)mmap(nullptr, size, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ASSERT_NE(mem, MAP_FAILED);
        cfg.width[0] = 320, cfg.height[0] = 240, cfg.width[1] = 640, cfg.height[1] = 480;
        cfg.layer[LAYER_P0] = {0x44320003, 2, 640, 0x02800000};
        cfg.layer[LAYER_P1] = {0x44320023, 2, 640, 0x03101000};
        cfg.layer[LAYER_S0] = {0xC6530003, 3, 1920, 0x03800000};
        cfg.layer[LAYER_S1] = {0x443A0003, 1, 640, 0x03C00000};
        cfg.status = 0x3;
        display_init(&d, mem, size, palette, &cfg);
    }
    void TearDown() override { munmap(mem, size); }
    uint32_t reg(uint32_t offset) { return d.regs[offset / 4]; }
};

TEST_F(DisplayModel, RegistersSitAtTheirHardwareOffsets)
{
    static const struct { uint32_t offset, value; } expect[] = {
        {0x4004, 0x00EF013F}, {0x4404, 0x01DF027F}, {0x308C, 0x00000003},
        {0x4024, 0x44320003}, {0x4028, 2}, {0x402C, 640}, {0x4038, 0x02800000},
        {0x4058, 0x44320023}, {0x405C, 2}, {0x4060, 640}, {0x406C, 0x03101000},
        {0x4424, 0xC6530003}, {0x4428, 3}, {0x442C, 1920}, {0x4438, 0x03800000},
        {0x4458, 0x443A0003}, {0x445C, 1}, {0x4460, 640}, {0x446C, 0x03C00000},
    };
    for (const auto &e : expect)
        EXPECT_EQ(reg(e.offset), e.value) << std::hex << e.offset;
}

TEST_F(DisplayModel, SyncFlagClearsOnlyWhereAOneIsWritten)
{
    display_vsync(&d);
    EXPECT_EQ(reg(0x308C), 0x403u);
    display_write(&d, 0x308C, 0x003);
    EXPECT_EQ(reg(0x308C), 0x403u);
    display_write(&d, 0x308C, 0x403);
    EXPECT_EQ(reg(0x308C), 0x003u);
    display_write(&d, 0x308C, 0x403);   // acknowledging twice raises nothing
    EXPECT_EQ(reg(0x308C), 0x003u);
    display_vsync(&d);
    EXPECT_EQ(reg(0x308C), 0x403u);
}

TEST_F(DisplayModel, ApplyTakesLayerSettingsOverAtTheNextSync)
{
    display_write(&d, 0x405C, 1);
    display_write(&d, 0x4060, 320);
    display_write(&d, 0x4058, 0x443A0033);
    display_write(&d, 0x4070, 0x0100FFFF);
    EXPECT_EQ(d.shown[LAYER_P1].control, 0x44320023u);
    EXPECT_EQ(reg(0x4070), 0u);   // write-only
    display_vsync(&d);
    EXPECT_EQ(reg(0x4058), 0x443A0023u);
    EXPECT_EQ(d.shown[LAYER_P1].control, 0x443A0023u);
    EXPECT_EQ(d.shown[LAYER_P1].hstride, 1u);
    EXPECT_EQ(d.shown[LAYER_P1].vstride, 320u);
    EXPECT_EQ(d.shown[LAYER_P0].control, 0x44320003u);
}

TEST(PixelFormats, EncodeAndDecodeEachFormat)
{
    static const uint32_t palette[256] = {0x000000, 0x123456};
    static const struct {
        uint32_t format;
        uint8_t rgb[3], bytes[3], back[3];
    } cases[] = {
        {DC_FORMAT_16, {255, 0, 0}, {0x00, 0xF8}, {255, 0, 0}},
        {DC_FORMAT_16, {0, 255, 0}, {0xE0, 0x07}, {0, 255, 0}},
        {DC_FORMAT_16, {0, 0, 255}, {0x1F, 0x00}, {0, 0, 255}},
        {DC_FORMAT_16, {0x87, 0x43, 0x21}, {0x04, 0x82}, {0x84, 0x41, 0x21}},
        {DC_FORMAT_24, {0x11, 0x22, 0x33}, {0x33, 0x22, 0x11}, {0x11, 0x22, 0x33}},
        {DC_FORMAT_8, {255, 0, 0}, {76}, {0, 0, 0}},
        {DC_FORMAT_8, {0, 255, 0}, {149}, {0, 0, 0}},
        {DC_FORMAT_8, {0, 0, 0}, {0}, {0, 0, 0}},
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

TEST_F(DisplayModel, FillPadsLinesAndRenderStacksLayers)
{
    // 16 bpp at 2x2 with 6-byte lines: 2 bytes of padding on every line.
    const uint8_t red_green_blue_white[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    d.regs[0x4004 / 4] = 0x00010001;
    d.shown[LAYER_P0] = {0x44320023, 2, 6, 0x1000};
    display_fill_layer(&d, LAYER_P0, red_green_blue_white, 2, 2);
    static const uint8_t lines[12] = {0x00, 0xF8, 0xE0, 0x07, 0xA5, 0xA5, 0x1F, 0x00, 0xFF, 0xFF, 0xA5, 0xA5};
    EXPECT_EQ(0, memcmp(mem + 0x1000, lines, sizeof lines));

    // An 8 bpp layer 1 drawn over layer 0 through its palette, one pixel wide.
    d.shown[LAYER_P1] = {0x443A0023, 1, 2, 0x2000};
    mem[0x2000] = 1, mem[0x2001] = 7, mem[0x2002] = 0, mem[0x2003] = 7;
    display_write(&d, 0x4070, 0x0100F800);
    display_write(&d, 0x4470, 0x010007E0);   // another layer's palette
    uint8_t shot[12];
    display_render(&d, 0, shot, 2, 2);
    static const uint8_t expect[12] = {255, 0, 0, 7, 7, 7, 0, 0, 0, 7, 7, 7};
    EXPECT_EQ(0, memcmp(shot, expect, sizeof shot));
    d.shown[LAYER_P1].control &= ~DC_CONTROL_ENABLE;
    display_render(&d, 0, shot, 2, 2);
    static const uint8_t below[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    EXPECT_EQ(0, memcmp(shot, below, sizeof shot));
}

}  // namespace
