#include "device_run.h"

#include <cstdio>
#include <cstring>
#include <fstream>

using Shot = DeviceTest;

static std::string dump_line(uint32_t address, int w, int h, int bpp, int stride)
{
    char line[128];
    snprintf(line, sizeof line, "tavro: about to dump %08x, %ix%i@%i, stride=%i, size=%i\n", address, w, h, bpp,
             stride, stride * h * bpp / 8);
    return line;
}

// The w x h picture as a shot shows it when the layer's lines are stride
// pixels apart in memory: the emulated device lays the picture's first
// stride pixels of each row there, so a wider line shows the rest of the
// row, a narrower one runs on into the next rows, and what lies past the
// last line comes out black.
static std::vector<uint8_t> as_shot(const std::vector<uint8_t> &picture, int w, int h, int stride)
{
    std::vector<uint8_t> shown(picture.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int at = y * stride + x;  // the pixel's place in memory, in pixels
            if (at < stride * h)
                memcpy(&shown[3 * (y * w + x)], &picture[3 * (at / stride * w + at % stride)], 3);
        }
    return shown;
}

// Each row primary layer 1 set up as the row says, showing a picture of
// the screen's size (grey on an indexed layer, whose palette cannot be read
// back): the shot is that picture, and an independent checker accepts it.
TEST_F(Shot, EveryLayerComesOutAsThePictureShown)
{
    const std::string palette = "tavro: can't dump palette for 8bpp image on POLLUX :(\n";
    struct Case {
        const char *what;
        int width, height;  // of the screen and the picture
        std::string layer;
        int bpp, stride;  // in the dump line, the stride in pixels
        uint32_t address;
        std::string err;
    };
    const Case cases[] = {
        {"16 bits, lines longer than the screen, two bytes past a word", 16, 8,
         "p1:on,format=16,vstride=44,addr=0x3101806", 16, 22, 0x3101806, ""},
        {"24 bits, an odd address, 35-byte lines that are no whole blocks", 16, 8,
         "p1:on,format=24,vstride=51,addr=0x3100ffd", 24, 17, 0x3100ffd, ""},
        {"8 bits, an odd width", 7, 5, "p1:on,format=8", 8, 7, 0x3101000, palette},
        {"16 bits, lines shorter than the screen", 8, 4, "p1:on,format=16,vstride=12", 16, 6, 0x3101000, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> picture = make_picture(in_work("picture.png"), c.width, c.height, c.bpp == 8);
        std::string screen = std::to_string(c.width) + "x" + std::to_string(c.height);
        EXPECT_RUN(tavro({"shot.png"}, {"--screen", screen, "--picture", in_work("picture.png"), "--layer", c.layer}),
                   0, dump_line(c.address, c.width, c.height, c.bpp, c.stride), c.err + "tavro: done.\n");
        DecodedPng png = decode_png(in_work("shot.png"));
        ASSERT_TRUE(png.ok) << png.error;
        EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(uint32_t(c.width), uint32_t(c.height)));
        EXPECT_EQ(png.rgb, as_shot(picture, c.width, c.height, c.stride));
        EXPECT_EQ(system(("pngcheck -q " + in_work("shot.png")).c_str()), 0) << "pngcheck refuses the shot";
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 -1\n")
            << "raised for the copy, then back to -1";
    }
}

// Secondary layer 0, primary layer 1 and secondary layer 1 draw in that
// order over primary layer 0; the shot is of the top layer enabled, and of
// primary layer 0 when none is, at the size of its own display: the dump
// shows the layer's address, size and depth.
TEST_F(Shot, TheTopLayerEnabledIsShotAtItsDisplaysSize)
{
    const struct { const char *what; Args layers; std::string dump; } cases[] = {
        {"none: primary layer 0", {"p1:off"}, dump_line(0x02800000, 16, 8, 16, 16)},
        {"secondary layer 0 alone", {"p1:off", "s0:on"}, dump_line(0x03800000, 8, 4, 24, 8)},
        {"primary layer 1 over secondary layer 0", {"s0:on"}, dump_line(0x03101000, 16, 8, 16, 16)},
        {"secondary layer 1 over every other", {"p0:on", "s0:on", "s1:on"}, dump_line(0x03C00000, 8, 4, 8, 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Args options = {"--screen", "16x8", "--screen2", "8x4"};
        for (const std::string &layer : c.layers)
            options.insert(options.end(), {"--layer", layer});
        RunResult r = tavro({"shot.png"}, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.dump);
    }
}

TEST_F(Shot, ALayerMovedWhileItIsCopiedIsReported)
{
    make_picture(in_work("picture.png"), 16, 8);
    EXPECT_RUN(tavro({"shot.png"}, {"--screen", "16x8", "--picture", in_work("picture.png"), "--layer",
                                    "p1:on,format=16,addr=0x3101000", "--move-layer", "p1:0x3200000"}),
               0, dump_line(0x3101000, 16, 8, 16, 16) + "tavro: addr changed!\n", "tavro: done.\n");
    EXPECT_TRUE(decode_png(in_work("shot.png")).ok);
}

// The bytes per pixel decide the depth; a format code that disagrees is
// reported and given way to.
TEST_F(Shot, TheBytesPerPixelWinOverAFormatCode)
{
    const struct { const char *what, *layer; std::string err; } cases[] = {
        {"the code of another depth", "p1:on,hstride=2,format=0x443a", "tavro: bpp and hstride mismatch: 8 16\n"},
        {"a code of no depth", "p1:on,hstride=2,format=0x1234",
         "tavro: unhandled format: 1234\ntavro: bpp and hstride mismatch: 0 16\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_RUN(tavro({"shot.png"}, {"--screen", "16x8", "--layer", c.layer}), 0,
                   dump_line(0x3101000, 16, 8, 16, 16), c.err + "tavro: done.\n");
        DecodedPng png = decode_png(in_work("shot.png"));
        EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(16u, 8u)) << png.error;
    }
}

TEST_F(Shot, FailedGrabWritesNoFile)
{
    std::ofstream(in_work("shot.png")) << "keep me";
    // Physical memory ends right after the register window. A depth that
    // cannot be converted is not copied (nor allocated) first.
    struct Case { const char *what, *layer, *first_error; bool dumps; };
    const Case cases[] = {
        {"frame memory past the end of physical memory", "p1:on,format=16,addr=0xd0000000", "tavro: mmap failed: ",
         true},
        {"no bytes per pixel", "p1:on,format=16,hstride=0",
         "tavro: bpp and hstride mismatch: 16 0\ntavro: unusable layer", false},
        {"no bytes per line", "p1:on,format=16,vstride=0", "tavro: unusable layer", false},
        {"a depth with no conversion", "p1:on,format=24,hstride=4",
         "tavro: bpp and hstride mismatch: 24 32\ntavro: bad bpp: 32\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult r = tavro({"shot.png"}, {"--mem-size", "0xc0010000", "--layer", c.layer});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(count_of(r.out, "about to dump"), c.dumps);
        EXPECT_EQ(r.err.rfind(c.first_error, 0), 0u) << r.err;
        EXPECT_EQ(read_file(in_work("shot.png")), "keep me");
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 0\n");
    }
}
