// The runner and the shim together, with a probe that makes the program's
// device calls: routing, the sync acknowledge, the logs, failures and the
// screenshot.
#include "picture.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result {
    int status;
    std::string out;
};

Result run(const std::string &command)
{
    Result r{-1, ""};
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string slurp(const std::string &path)
{
    std::string s;
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return "(missing)";
    int c;
    while ((c = fgetc(f)) != EOF)
        s += (char)c;
    fclose(f);
    return s;
}

struct EmulatedDevice : testing::Test {
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/emu-test.XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        dir = name;
    }
    void TearDown() override { run("rm -rf '" + dir + "'"); }
    Result emu(const std::string &options, const std::string &command)
    {
        return run(std::string(EMU_RUNNER) + " " + options + " -- " + command);
    }
    Result probe(const std::string &options, const std::string &steps)
    {
        return emu(options, std::string(EMU_PROBE) + " " + steps);
    }
};

TEST_F(EmulatedDevice, ProbeReachesEveryDeviceThroughTheShim)
{
    Result r = probe("--dir " + dir + " --buttons 00040102@0-600", "mem regs gpio fb0 frame pid nice");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out,
              "mem ok\n"
              "regs screen=00ef013f screen2=00ef013f p1=44320023@03101000 status=00000003\n"
              "gpio 00040102 00040102\n"
              "fb0 id=emu-lcd smem_start=03101000 other=-1 errno 22\n"
              "frame ffffffff\n"
              "pid 4242\n"
              "nice 0\n");
    EXPECT_EQ(slurp(dir + "/tmp/tavro.pid"), "4242\n");
    EXPECT_EQ(slurp(dir + "/setpriority.log"), "0 0 -10\n0 0 0\n");
    EXPECT_EQ(probe("--dir " + dir, "unpid").out, "unpid 0\n");
    EXPECT_EQ(slurp(dir + "/tmp/tavro.pid"), "(missing)");
}

TEST_F(EmulatedDevice, AcknowledgeClearsTheSyncFlagAndStoresAreLogged)
{
    Result r = probe("--dir " + dir, "mem regs sync overlay");
    ASSERT_EQ(r.status, 3);
    int clear = -1;
    ASSERT_EQ(sscanf(r.out.c_str() + r.out.find("sync"), "sync clear=%d", &clear), 1) << r.out;
    EXPECT_GE(clear, 8);   // a plain memory flag would stay set after every acknowledge
    EXPECT_NE(r.out.find("overlay ctl=443a0023 palette=00000000\n"), std::string::npos) << r.out;

    std::string log = slurp(dir + "/regwrites.log"), layers;
    for (size_t at = 0; at + 14 <= log.size(); at += 14)
        if (log.compare(at, 4, "308c"))
            layers += log.substr(at, 14);
        else
            EXPECT_EQ(log.substr(at + 5, 9), "00000403\n");
    EXPECT_EQ(layers, "405c 00000001\n4060 00000140\n4058 443a0033\n4070 00000000\n4070 0100ffff\n");
}

TEST_F(EmulatedDevice, ButtonTimelineMovesOn)
{
    Result r = probe("--buttons 100@0-600,200@0.2-0.5", "gpio-until=300 gpio-until=100");
    EXPECT_EQ(r.out, "gpio-until ok\ngpio-until ok\n");
}

TEST_F(EmulatedDevice, WithoutCaughtStoresTheSyncPulsesAndApplyStillLatches)
{
    Result r = probe("--dir " + dir + " --shim " + EMU_SHIM_UNTRAPPED, "mem regs sync overlay");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("overlay ctl=443a0023 palette=0100ffff\n"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(dir + "/sync-untrapped"), "");
    EXPECT_EQ(slurp(dir + "/regwrites.log"), "(missing)");
}

TEST_F(EmulatedDevice, MissingDevicesFailWithNoSuchFile)
{
    Result r = probe("--without mem --without GPIO --without fb0", "mem gpio fb0 aliases");
    EXPECT_EQ(r.out, "mem errno 2\ngpio errno 2\nfb0 errno 2\naliases 2 2 2\n");
    r = run(std::string("env -u TAVRO_EMU_ROOT LD_PRELOAD=") + EMU_SHIM + " " + EMU_PROBE + " mem gpio fb0");
    EXPECT_EQ(r.out, "mem errno 2\ngpio errno 2\nfb0 errno 2\n");
}

TEST_F(EmulatedDevice, MappingsPastTheEndOfMemoryFail)
{
    EXPECT_EQ(probe("--no-regs", "mem regs").out, "mem ok\nregs errno 6\n");
    Result r = probe("--mem-size 0xC0010000 --layer p1:addr=0xC8000000", "mem regs frame");
    EXPECT_NE(r.out.find("\nframe errno 6\n"), std::string::npos) << r.out;
}

TEST_F(EmulatedDevice, LauncherStartsInItsFolderAndStatusesPassThrough)
{
    EXPECT_EQ(probe("--dir " + dir, "launch").status, 0);
    std::string log = slurp(dir + "/launcher.log");
    EXPECT_NE(log.find(" cwd=" + dir + "/usr/gp2x argv0=gp2xmenu args=\n"), std::string::npos) << log;
    EXPECT_EQ(emu("", "sh -c 'kill -TERM $$'").status, 143);
    EXPECT_EQ(emu("", "/nonexistent/command").status, 127);
    // Without a display the window fails before the command starts.
    Result r = run("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(EMU_RUNNER) + " --window -- touch " + dir +
                   "/ran 2>&1");
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.out, "tavro-emu: no display for --window: DISPLAY and WAYLAND_DISPLAY are unset\n");
    EXPECT_EQ(slurp(dir + "/ran"), "(missing)");
}

TEST_F(EmulatedDevice, ScreenshotShowsThePictureInEachFormat)
{
    // Colours that survive every format; 8 bpp shows the grey level.
    static const uint8_t pic[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    static const struct {
        const char *layers;
        uint8_t shown[12];
    } cases[] = {
        {"--layer p1:format=24", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
        {"--layer p1:format=16", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
        {"--layer p1:off --layer s0:on,format=8", {76, 76, 76, 149, 149, 149, 28, 28, 28, 255, 255, 255}},
    };
    ASSERT_EQ(save_png((dir + "/in.png").c_str(), pic, 2, 2), 0);
    for (const auto &c : cases) {
        std::string out = dir + "/out.png";
        Result r = emu("--screen 2x2 --picture " + dir + "/in.png --screenshot " + out + " " + c.layers, "true");
        ASSERT_EQ(r.status, 0) << c.layers;
        int w = 0, h = 0;
        uint8_t *shot = load_png(out.c_str(), &w, &h);
        ASSERT_TRUE(shot) << c.layers;
        EXPECT_EQ(w * 100 + h, 202);
        EXPECT_EQ(0, memcmp(shot, c.shown, sizeof c.shown)) << c.layers;
        free(shot);
    }
}

}  // namespace
