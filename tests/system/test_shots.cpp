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

TEST_F(Shot, EveryLayerComesOutAsThePictureShown)
{
    // Lines wider than the screen, at an address inside a page, or narrower:
    // then the last line runs past the copy and its end comes out black. 35
    // bytes are not a whole number of 16-byte blocks. A layer that moves away
    // while it is copied is reported. A format code that disagrees with the
    // bytes per pixel gives way to them (its pixels are not checked).
    struct Case { int w, h; const char *layer, *move; int bpp, stride; uint32_t address; bool grey, checked;
                  const char *err; };
    const char *palette = "tavro: can't dump palette for 8bpp image on POLLUX :(\n";
    const Case cases[] = {
        {16, 8, "p1:on,format=16,vstride=44,addr=0x3101806", nullptr, 16, 22, 0x3101806, false, true, ""},
        {16, 8, "p1:on,format=24,vstride=51,addr=0x3100ffd", nullptr, 24, 17, 0x3100ffd, false, true, ""},
        {16, 8, "p1:on,format=16,addr=0x3101000", "p1:0x3200000", 16, 16, 0x3101000, false, true, ""},
        {7, 5, "p1:on,format=8", nullptr, 8, 7, 0x3101000, true, true, palette},
        {8, 4, "p1:on,format=16,vstride=12", nullptr, 16, 6, 0x3101000, false, true, ""},
        {16, 8, "p1:on,hstride=2,format=0x443a", nullptr, 16, 16, 0x3101000, true, false,
         "tavro: bpp and hstride mismatch: 8 16\n"},
        {16, 8, "p1:on,hstride=2,format=0x1234", nullptr, 16, 16, 0x3101000, true, false,
         "tavro: unhandled format: 1234\ntavro: bpp and hstride mismatch: 0 16\n"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> picture = make_picture(in_work("picture.png"), c.w, c.h, c.grey), shown(picture.size());
        for (int y = 0; y < c.h; y++)
            for (int x = 0, at = y * c.stride; x < c.w && at < c.stride * c.h; x++, at++)
                memcpy(&shown[3 * (y * c.w + x)], &picture[3 * (at / c.stride * c.w + at % c.stride)], 3);
        std::vector<std::string> options = {"--screen", std::to_string(c.w) + "x" + std::to_string(c.h),
                                            "--picture", in_work("picture.png"), "--layer", c.layer};
        if (c.move)
            options.insert(options.end(), {"--move-layer", c.move});
        EXPECT_RUN(tavro({"shot.png"}, options), 0,
                   dump_line(c.address, c.w, c.h, c.bpp, c.stride) + (c.move ? "tavro: addr changed!\n" : ""),
                   c.err + std::string("tavro: done.\n"));
        DecodedPng png = decode_png(in_work("shot.png"));
        ASSERT_TRUE(png.ok) << c.layer << ": " << png.error;
        EXPECT_EQ(png.width * 100 + png.height, uint32_t(c.w * 100 + c.h));
        if (c.checked) {
            EXPECT_EQ(png.rgb, shown) << c.layer;
        }
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 -1\n")
            << "raised for the copy, then back to -1";
    }
}

TEST_F(Shot, FailedGrabWritesNoFile)
{
    std::ofstream(in_work("shot.png")) << "keep me";
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
        EXPECT_EQ(read_file(in_work("shot.png")), "keep me") << c.layer;
        EXPECT_EQ(read_file(device + "/setpriority.log"), "0 0 -10\n0 0 0\n") << c.layer;
    }
}
