#include "device_run.h"

#include <cstdio>

// Colours that RGB565 holds exactly: each channel's low bits repeat its top ones.
static const uint8_t EXACT[][3] = {{255, 0, 0},   {0, 255, 0},  {0, 0, 255}, {132, 130, 132},
                                   {8, 4, 8},     {255, 255, 255}, {0, 0, 0}, {66, 97, 173}};

class Shot : public DeviceTest {
protected:
    // A picture of w x h from the colour list, or grey levels for 8-bit layers.
    std::vector<uint8_t> picture(int w, int h, bool grey)
    {
        std::vector<uint8_t> rgb;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                for (int c = 0; c < 3; c++)
                    rgb.push_back(grey ? uint8_t(y * 31 + x * 9) : EXACT[(x + 3 * y) % 8][c]);
        std::string path = in_work("picture.png");
        EXPECT_TRUE(encode_png(path, w, h, rgb));
        return rgb;
    }

    static std::string dump_line(uint32_t address, int w, int h, int bpp, int stride, int size)
    {
        char line[128];
        snprintf(line, sizeof line, "tavro: about to dump %08x, %ix%i@%i, stride=%i, size=%i\n",
                 address, w, h, bpp, stride, size);
        return line;
    }
};

TEST_F(Shot, EveryDepthComesOutAsThePictureShown)
{
    // A line wider than the screen, at an address inside a page; a layer
    // that moves away while it is copied is reported.
    struct Case { const char *layer; int bpp; bool grey; uint32_t address; int vstride; const char *move; };
    const Case cases[] = {
        {"p1:on,format=16,addr=0x3101000", 16, false, 0x3101000, 32, nullptr},
        {"p1:on,format=24,addr=0x3101000", 24, false, 0x3101000, 48, nullptr},
        {"p1:on,format=8,addr=0x3101000", 8, true, 0x3101000, 16, nullptr},
        {"p1:on,format=16,vstride=44,addr=0x3101806", 16, false, 0x3101806, 44, nullptr},
        {"p1:on,format=24,vstride=51,addr=0x3100ffd", 24, false, 0x3100ffd, 51, nullptr},
        {"p1:on,format=16,addr=0x3101000", 16, false, 0x3101000, 32, "p1:0x3200000"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> rgb = picture(16, 8, c.grey);
        std::vector<std::string> options = {"--screen", "16x8", "--picture", in_work("picture.png"), "--layer", c.layer};
        if (c.move)
            options.insert(options.end(), {"--move-layer", c.move});
        int stride = c.vstride * 8 / c.bpp;
        std::string palette = c.bpp == 8 ? "tavro: can't dump palette for 8bpp image on POLLUX :(\n" : "";
        EXPECT_RUN(tavro({"shot.png"}, options), 0,
                   dump_line(c.address, 16, 8, c.bpp, stride, stride * 8 * c.bpp / 8) +
                       (c.move ? "tavro: addr changed!\n" : ""),
                   palette + "tavro: done.\n");
        DecodedPng png = decode_png(in_work("shot.png"));
        ASSERT_TRUE(png.ok) << c.layer << ": " << png.error;
        EXPECT_EQ(png.width * 100 + png.height, 1608u);
        EXPECT_EQ(png.rgb, rgb) << c.layer;
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 -1\n")
            << "raised for the copy, then back to -1";
    }
}

TEST_F(Shot, TheLastEnabledLayerIsTheOneShot)
{
    // Enabled: secondary 1, primary 1, secondary 0 (primary 0 is taken when
    // none is), and the layer shot: address, width, height, bits per pixel.
    const struct { const char *s1, *p1, *s0; uint32_t address; int w, h, bpp; } rows[] = {
        {"off", "off", "off", 0x1000000, 16, 8, 8}, {"off", "off", "on", 0x2000000, 8, 4, 24},
        {"off", "on", "off", 0x3000000, 16, 8, 16}, {"off", "on", "on", 0x3000000, 16, 8, 16},
        {"on", "off", "off", 0x4000000, 8, 4, 24},  {"on", "on", "on", 0x4000000, 8, 4, 24},
    };
    for (const auto &r : rows) {
        RunResult run = tavro({"shot.png"}, {"--screen", "16x8", "--screen2", "8x4", "--layer",
                                             "p0:off,format=8,addr=0x1000000", "--layer",
                                             "s0:" + std::string(r.s0) + ",format=24,addr=0x2000000", "--layer",
                                             "p1:" + std::string(r.p1) + ",format=16,addr=0x3000000", "--layer",
                                             "s1:" + std::string(r.s1) + ",format=24,addr=0x4000000"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, dump_line(r.address, r.w, r.h, r.bpp, r.w, r.w * r.h * r.bpp / 8));
        DecodedPng png = decode_png(in_work("shot.png"));
        EXPECT_EQ(png.width * 100 + png.height, uint32_t(r.w * 100 + r.h));
    }
}

// RGB565 widened by repeating the top bits of each channel.
static void widen(uint16_t word, uint8_t *rgb)
{
    uint8_t r = word >> 11, g = word >> 5 & 0x3F, b = word & 0x1F;
    rgb[0] = uint8_t(r << 3 | r >> 2);
    rgb[1] = uint8_t(g << 2 | g >> 4);
    rgb[2] = uint8_t(b << 3 | b >> 2);
}

TEST_F(Shot, FormatCodeAndStrideThatDisagreeFollowTheStride)
{
    // Two bytes a pixel whatever the code says. The device holds grey indices
    // for the 8-bit code, nothing for an unknown one, and 0xA5 in every byte
    // it did not fill, so the shot shows each word as RGB565.
    std::vector<uint8_t> grey = picture(16, 8, true);
    struct Case { const char *code, *messages; };
    const Case cases[] = {
        {"0x443a", "tavro: bpp and hstride mismatch: 8 16\n"},
        {"0x1234", "tavro: unhandled format: 1234\ntavro: bpp and hstride mismatch: 0 16\n"},
    };
    for (const Case &c : cases) {
        RunResult r = tavro({"shot.png"}, {"--screen", "16x8", "--picture", in_work("picture.png"),
                                           "--layer", std::string("p1:on,hstride=2,format=") + c.code});
        EXPECT_RUN(r, 0, dump_line(0x3101000, 16, 8, 16, 16, 256), std::string(c.messages) + "tavro: done.\n");
        std::vector<uint8_t> expected(grey.size());
        for (size_t i = 0; i < grey.size(); i += 3)
            widen(std::string(c.code) == "0x443a" ? 0xA500 | grey[i] : 0xA5A5, &expected[i]);
        EXPECT_EQ(decode_png(in_work("shot.png")).rgb, expected) << c.code;
    }
}

TEST_F(Shot, FailedGrabWritesNoFile)
{
    FILE *old = fopen(in_work("shot.png").c_str(), "w");
    fputs("keep me", old);
    fclose(old);
    // Physical memory ends right after the register window. A depth that
    // cannot be converted is not copied (nor allocated) first.
    struct Case { const char *layer, *first_error; bool dumps; };
    const Case cases[] = {
        {"p1:on,format=16,addr=0xd0000000", "tavro: mmap failed: ", true},
        {"p1:on,format=16,hstride=0", "tavro: bpp and hstride mismatch: 16 0\ntavro: unusable layer", false},
        {"p1:on,format=16,vstride=0", "tavro: unusable layer", false},
        {"p1:on,format=24,hstride=4", "tavro: bpp and hstride mismatch: 24 32\ntavro: bad bpp: 32\n", false},
    };
    for (const Case &c : cases) {
        RunResult r = tavro({"shot.png"}, {"--mem-size", "0xc0010000", "--layer", c.layer});
        EXPECT_EQ(r.status, 255) << c.layer;
        EXPECT_EQ(count_of(r.out, "about to dump"), c.dumps) << c.layer;
        EXPECT_EQ(r.err.rfind(c.first_error, 0), 0u) << r.err;
        EXPECT_EQ(count_of(r.err, "done.") + count_of(r.err, "write_png"), 0) << r.err;
        EXPECT_EQ(read_file(in_work("shot.png")), "keep me") << c.layer;
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 0\n") << c.layer;
    }
}

TEST_F(Shot, OddSizesAreCopiedToTheLastByte)
{
    // 7 x 5 at one byte a pixel is 35 bytes: not a whole number of 16-byte blocks.
    std::vector<uint8_t> rgb = picture(7, 5, true);
    RunResult r = tavro({"shot.png"}, {"--screen", "7x5", "--picture", in_work("picture.png"),
                                       "--layer", "p1:on,format=8"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(decode_png(in_work("shot.png")).rgb, rgb);

    // Lines narrower than the screen: the last line runs past the copy and
    // what lies beyond it comes out black, not as the memory after it.
    picture(8, 4, false);
    r = tavro({"narrow.png"}, {"--screen", "8x4", "--picture", in_work("picture.png"),
                               "--layer", "p1:on,format=16,vstride=12"});
    EXPECT_EQ(r.status, 0) << r.err;
    DecodedPng png = decode_png(in_work("narrow.png"));
    ASSERT_TRUE(png.ok);
    const uint8_t *last = &png.rgb[3 * 8 * 3];
    EXPECT_EQ(std::vector<uint8_t>(last + 18, last + 24), std::vector<uint8_t>(6, 0));
}
