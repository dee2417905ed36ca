// The device's release binary itself (static, no safety check), run on the
// emulated device with its files bound into a private namespace, under qemu-arm
// started as the device's 2.6.24 kernel starts it: the calls that kernel
// lacks fail with ENOSYS, and every call made must be in its table.
// TAVRO_TEST_RELEASE names the binary; without it these tests skip.
#include "device_run.h"

using Release = DeviceTest;

TEST_F(Release, ShotsAtEveryDepthAndTheFailureStatuses)
{
    const char *binary = getenv("TAVRO_TEST_RELEASE");
    if (!binary || !*binary)
        GTEST_SKIP() << "TAVRO_TEST_RELEASE names no release binary";
    std::vector<uint8_t> rgb = make_picture(work + "/picture.png", 16, 8);
    std::vector<uint8_t> grey = make_picture(work + "/grey.png", 16, 8, true);
    // Without CAP_SYS_NICE in the namespace the priority stays as it is.
    const std::string nice = "tavro: setpriority failed: -1\n", dump = "tavro: about to dump 03101000, 16x8@";
    const std::string palette = "tavro: can't dump palette for 8bpp image on POLLUX :(\n";
    struct Case { std::vector<std::string> options; std::string file; int status; std::string out, err;
                  const std::vector<uint8_t> *pixels; };
    const Case cases[] = {
        {{"--layer", "p1:on,format=16,picture=" + work + "/picture.png"}, "shot.png", 0,
         dump + "16, stride=16, size=256\n", nice + "tavro: done.\n", &rgb},
        {{"--layer", "p1:on,format=24,picture=" + work + "/picture.png"}, "shot.png", 0,
         dump + "24, stride=16, size=384\n", nice + "tavro: done.\n", &rgb},
        {{"--layer", "p1:on,format=8,picture=" + work + "/grey.png"}, "shot.png", 0, dump + "8, stride=16, size=128\n",
         nice + palette + "tavro: done.\n", &grey},
        {{"--layer", "p1:on,format=16"}, "missing/shot.png", 255, dump + "16, stride=16, size=256\n",
         nice + "tavro: failed to open \"missing/shot.png\"\ntavro: write_png() failed\n", nullptr},
        {{"--without", "mem"}, "shot.png", 1, "", "open(\"/dev/mem\"): No such file or directory\n", nullptr},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {TAVRO_EMU, "--dir", device, "--bind-devices", "--screen", "16x8"};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        argv.insert(argv.end(), {"--", OLD_KERNEL_RUN, "--strace", "calls.log", binary, c.file});
        EXPECT_RUN(run_program(argv, work, {}, 30), c.status, c.out, c.err);
        std::string check = std::string("python3 " RELEASE_REPORT " --kernel-calls ") + work + "/calls.log";
        EXPECT_EQ(system((check + " >&2").c_str()), 0) << "a call the device's kernel lacks";
        DecodedPng png = decode_png(work + "/" + c.file);
        EXPECT_EQ(png.rgb, c.pixels ? *c.pixels : std::vector<uint8_t>()) << c.options[1] << ": " << png.error;
        remove((work + "/" + c.file).c_str());
    }
}
