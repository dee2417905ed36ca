// The device's release binary itself (static, no safety check), run on the
// emulated device with its files bound into a private namespace, under qemu-arm
// started as the device's 2.6.24 kernel starts it: the calls that kernel
// lacks fail with ENOSYS, and every call made must be in its table.
// TAVRO_TEST_RELEASE names the binary; without it these tests skip.
#include "device_run.h"

class Release : public DeviceTest {
protected:
    std::string binary;

    void SetUp() override
    {
        const char *path = getenv("TAVRO_TEST_RELEASE");
        if (!path || !*path)
            GTEST_SKIP() << "TAVRO_TEST_RELEASE names no release binary";
        binary = path;
    }

    RunResult run(const std::vector<std::string> &options, const std::string &file)
    {
        std::vector<std::string> argv = {TAVRO_EMU, "--dir", device, "--bind-devices"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--", OLD_KERNEL_RUN, "--strace", "calls.log", "--enosys", binary + ".enosys", binary, file});
        RunResult r = run_program(argv, work, {}, 30);
        std::string check = std::string("python3 " RELEASE_REPORT " --kernel-calls ") + work + "/calls.log";
        EXPECT_EQ(system((check + " >&2").c_str()), 0) << "a call the device's kernel lacks";
        return r;
    }
};

// Without CAP_SYS_NICE in the namespace the priority stays as it is.
static const std::string NICE = "tavro: setpriority failed: -1\n";

TEST_F(Release, ShotsAtEveryDepthAndTheFailureStatuses)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 16 * 8; i++) {
        // Exact in RGB565: each channel's low bits repeat its top ones.
        int r = i % 32, g = i * 3 % 64, b = i * 7 % 32;
        rgb.insert(rgb.end(), {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)});
    }
    ASSERT_TRUE(encode_png(work + "/picture.png", 16, 8, rgb));
    std::vector<uint8_t> grey;
    for (int i = 0; i < 16 * 8; i++)
        grey.insert(grey.end(), 3, uint8_t(i * 29));
    ASSERT_TRUE(encode_png(work + "/grey.png", 16, 8, grey));

    struct Case { std::string layer, file; int status; std::string out, err; const std::vector<uint8_t> *pixels; };
    const std::string dump = "tavro: about to dump 03101000, 16x8@";
    const std::string palette = "tavro: can't dump palette for 8bpp image on POLLUX :(\n";
    const Case cases[] = {
        {"p1:on,format=16,addr=0x3101000,picture=" + work + "/picture.png", "shot.png", 0,
         dump + "16, stride=16, size=256\n", NICE + "tavro: done.\n", &rgb},
        {"p1:on,format=24,addr=0x3101000,picture=" + work + "/picture.png", "shot.png", 0,
         dump + "24, stride=16, size=384\n", NICE + "tavro: done.\n", &rgb},
        {"p1:on,format=8,addr=0x3101000,picture=" + work + "/grey.png", "shot.png", 0,
         dump + "8, stride=16, size=128\n", NICE + palette + "tavro: done.\n", &grey},
        {"p1:on,format=16,addr=0x3101000", "missing/shot.png", 255, dump + "16, stride=16, size=256\n",
         NICE + "tavro: failed to open \"missing/shot.png\"\ntavro: write_png() failed\n", nullptr},
    };
    for (const Case &c : cases) {
        RunResult r = run({"--screen", "16x8", "--layer", c.layer}, c.file);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        if (c.pixels) {
            DecodedPng png = decode_png(work + "/" + c.file);
            ASSERT_TRUE(png.ok) << c.layer << ": " << png.error;
            EXPECT_EQ(png.rgb, *c.pixels) << c.layer;
            remove((work + "/" + c.file).c_str());
        }
    }
    // A missing device: the C library words the reason; the text before it is ours.
    for (const char *missing : {"mem", "GPIO"}) {
        RunResult r = run({"--without", missing}, "shot.png");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("open(\"/dev/" + std::string(missing) + "\"): ", 0), 0u) << r.err;
        EXPECT_FALSE(file_exists(work + "/shot.png"));
    }
}
