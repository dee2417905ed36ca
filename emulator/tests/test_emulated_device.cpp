// The runner and the shim together, with a probe that makes the program's
// device calls: routing, the sync acknowledge, the logs, failures and the
// screenshot.
#include "picture.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
    // A link in the pid file's place is the device's own, followed there.
    ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0755), 0);
    ASSERT_EQ(symlink((dir + "/target").c_str(), (dir + "/tmp/tavro.pid").c_str()), 0);
    Result r = probe("--dir " + dir + " --buttons 00040102@0-600", "mem regs gpio fb0 frame pid nice");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out,
              "mem ok\n"
              "regs screen=00ef013f screen2=00ef013f p1=44320023@03101000 status=00000003\n"
              "gpio 00040102 00040102\n"
              "fb0 id=emu-lcd smem_start=03101000 len=153600 line=640 320x240@16 red=11/5\n"
              "frame ffffffff\n"
              "pid 4242\n"
              "nice 0 0 0\n");
    EXPECT_EQ(slurp(dir + "/target"), "4242\n");
    EXPECT_EQ(slurp(dir + "/setpriority.log"), "0 0 -10\n0 0 0\n");
    EXPECT_EQ(probe("--dir " + dir, "unpid").out, "unpid 0\n");
    EXPECT_EQ(slurp(dir + "/tmp/tavro.pid"), "(missing)");
    EXPECT_EQ(slurp(dir + "/target"), "4242\n");
}

// Every way of naming a device file reaches the emulated one; every way of
// naming one of this machine's device nodes is refused and written down.
TEST_F(EmulatedDevice, NoSpellingReachesAHostDevice)
{
    static const struct {
        const char *step, *out;
    } cases[] = {
        {"open=gpio-link", "read 4 00001234"},
        {"open=mem-up", "read 4 00000000"},
        {"openat=/dev,../dev/GPIO", "read 4 00001234"},
        {"open=/proc/self/cwd/../../dev/GPIO", "read 4 00001234"},
        {"open=/proc/self/root/dev/fb0", "read 4 ffffffff"},
        {"open=kmem-link", "errno 13"},
        {"freopen=kmem-link", "errno 13"},
        {"open=//dev/./fb1", "errno 13"},
        {"open=/dev/port", "errno 13"},
        {"openat=/,dev/kmem", "errno 13"},
        {"open=screen-node", "errno 13"},
    };
    ASSERT_EQ(symlink("/dev/GPIO", (dir + "/gpio-link").c_str()), 0);
    ASSERT_EQ(symlink("../../dev/mem", (dir + "/mem-up").c_str()), 0);
    ASSERT_EQ(symlink("/dev/kmem", (dir + "/kmem-link").c_str()), 0);
    bool node = mknod((dir + "/screen-node").c_str(), S_IFCHR | 0600, makedev(29, 0)) == 0;
    std::string steps, expect, refused;
    for (const auto &c : cases) {
        std::string step = c.step, path = step.substr(step.find('=') + 1);
        if (step == "open=screen-node" && !node)
            continue;
        steps += " " + step;
        expect += path + " " + c.out + "\n";
        if (!strcmp(c.out, "errno 13"))
            refused += step.substr(0, step.find('=')) + " " + path.substr(path.find(',') + 1) + "\n";
    }
    Result r = run("cd " + dir + " && " + EMU_RUNNER + " --dir dev --buttons 1234@0-600 -- " + EMU_PROBE + steps);
    EXPECT_EQ(r.out, expect);
    EXPECT_EQ(slurp(dir + "/dev/refused.log"), refused);
}

// Copies of a descriptor stay the device; a reused number does not. A
// library whose constructor runs before the shim's reaches the device too.
TEST_F(EmulatedDevice, DescriptorsAndEarlyCallsKeepWhatTheyAre)
{
    EXPECT_EQ(probe("--buttons 1234@0-600", "descriptors").out, "descriptors 8 8 8 8 reused=1 256 256\n");
    Result r = run(std::string("LD_PRELOAD=") + EMU_EARLY + " " + EMU_RUNNER + " --buttons 1234@0-600 -- " + EMU_PROBE);
    EXPECT_NE(r.out.find("early 4 00001234 mapped fopen\n"), std::string::npos) << r.out;
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

TEST_F(EmulatedDevice, FaultsAndPresetsFromTheCommandLine)
{
    static const struct {
        const char *options, *steps, *out;
    } cases[] = {
        {"--setpriority-error 13", "nice", "nice -1 13 0\n"},
        {"--gpio-short 2-2 --gpio-fail 3-3", "reads", "reads 4 2 -1 4\n"},
        {"--reg 0x308c=0x7 --reg 0x4004=0x10ef013f", "mem regs",
         "mem ok\nregs screen=10ef013f screen2=00ef013f p1=44320023@03101000 status=00000007\n"},
        {"--fb-addr 0x2000000", "fb0", "fb0 id=emu-lcd smem_start=02000000 len=153600 line=640 320x240@16 red=11/5\n"},
        {"--layer p1:format=24 --move-layer p1:0x3200000", "mem regs frame regs",
         "mem ok\nregs screen=00ef013f screen2=00ef013f p1=c6530023@03101000 status=00000003\nframe ffffffff\n"
         "regs screen=00ef013f screen2=00ef013f p1=c6530023@03200000 status=00000003\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(probe(c.options, c.steps).out, c.out) << c.options;
    EXPECT_EQ(emu("--wait-all --dir " + dir, "sh -c '(sleep 0.2; exit 3) & exit 5'").status, 5);
    std::string exits = slurp(dir + "/exits.log");
    EXPECT_NE(exits.find(" 5\n"), std::string::npos) << exits;
    EXPECT_NE(exits.find(" 3\n"), std::string::npos) << exits;
}

// A generic framebuffer grabber sees what the screen shows.
TEST_F(EmulatedDevice, FramebufferToolSeesTheScreen)
{
    if (access("/usr/bin/fbcat", X_OK))
        GTEST_SKIP() << "no fbcat";
    for (const char *format : {"8", "16", "24"}) {
        std::string shot = dir + "/shot.png", ppm = dir + "/fb.ppm";
        Result r = emu("--layer p1:on,format=" + std::string(format) + " --screenshot " + shot,
                       "sh -c 'fbcat /dev/fb0 > " + ppm + "'");
        ASSERT_EQ(r.status, 0) << format;
        int w = 0, h = 0;
        uint8_t *rgb = load_png(shot.c_str(), &w, &h);
        ASSERT_TRUE(rgb);
        std::string header = "P6 " + std::to_string(w) + " " + std::to_string(h) + " 255\n", got = slurp(ppm);
        EXPECT_EQ(got, header + std::string((const char *)rgb, (size_t)w * h * 3)) << format;
        free(rgb);
    }
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
    // A hostile stride costs no more than the picture: the memory stays sparse.
    EXPECT_EQ(probe("--dir " + dir + " --mem-size 0xC0010000 --layer p1:on,format=16,vstride=0x10000000", "mem").out,
              "mem ok\n");
    struct stat st;
    ASSERT_EQ(stat((dir + "/dev/mem").c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 16 << 20);
    Result r = probe("--mem-size 0xC0010000 --layer p1:addr=0xC8000000", "mem regs frame");
    EXPECT_NE(r.out.find("\nframe errno 6\n"), std::string::npos) << r.out;
}

TEST_F(EmulatedDevice, LauncherStartsInItsFolderAndStatusesPassThrough)
{
    EXPECT_EQ(probe("--dir " + dir, "launch").status, 0);
    std::string log = slurp(dir + "/launcher.log");
    EXPECT_NE(log.find(" cwd=" + dir + "/usr/gp2x argv0=menu args=-x y\n"), std::string::npos) << log;
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
        const char *layers, *screen;
        uint8_t shown[12];
    } cases[] = {
        {"--layer p1:format=24", "--screenshot", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
        {"--layer p1:format=16", "--screenshot", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
        {"--layer s0:on,format=8", "--screenshot2", {76, 76, 76, 149, 149, 149, 28, 28, 28, 255, 255, 255}},
        {"--layer p1:off --layer s0:on,format=24", "--screenshot", {}},   // on the other screen
    };
    ASSERT_EQ(save_png((dir + "/in.png").c_str(), pic, 2, 2), 0);
    for (const auto &c : cases) {
        std::string out = dir + "/out.png";
        Result r = emu("--screen 2x2 --picture " + dir + "/in.png " + c.screen + " " + out + " " + c.layers, "true");
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
