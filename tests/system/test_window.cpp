// The runner's window, as scripts/try opens it, on an X server of the
// test's own, driven by xdotool.
#include "device_run.h"

#include <csignal>

static const char XVFB[] = "/usr/bin/Xvfb", XDOTOOL[] = "/usr/bin/xdotool";
// Held by a --buttons timeline all along: a bit of the raw word that no
// key makes, to which the keys add theirs.
static const uint32_t TIMELINE = 0x80000;

class Window : public DeviceTest {
protected:
    pid_t xserver = -1, runner = -1;

    // The server keeps its screen in a file (XWD), Xvfb_screen0, for the test to read.
    void SetUp() override
    {
        if (access(XVFB, X_OK) || access(XDOTOOL, X_OK))
            GTEST_SKIP() << "needs xvfb and xdotool";
        // The server names its display on its standard output once it is ready.
        std::string log = in_work("xvfb.log"), display = in_work("display");
        xserver = spawn({XVFB, "-displayfd", "1", "-fbdir", work, "-screen", "0", "800x600x24"}, work, display, log);
        ASSERT_TRUE(wait_for([&] { return read_file(display).find('\n') != std::string::npos; }))
            << "Xvfb did not start: " << read_file(log);
        setenv("DISPLAY", (":" + std::to_string(std::stoi(read_file(display)))).c_str(), 1);
    }
    void TearDown() override
    {
        for (pid_t group : {runner, xserver})
            if (group > 0 && kill(-group, SIGKILL) == 0)
                reap(group);
        DeviceTest::TearDown();
    }
    std::string xdotool(Args args)
    {
        args.insert(args.begin(), XDOTOOL);
        RunResult r = run_program(args, work, {}, 15);
        EXPECT_EQ(r.status, 0) << "xdotool " << args[1] << ": " << r.err;
        return r.out;
    }
    bool gpio_holds(uint32_t raw)
    {
        return wait_for([&] { return le32(read_file(device + "/dev/GPIO")) == (raw | TIMELINE); });
    }
};

// Each key, or pair of keys for a diagonal, makes its button's bit of the
// raw word while it is down; the window shows the screen at twice its size,
// and Escape closes it and ends the device.
TEST_F(Window, KeysAreTheButtonsAndTheWindowShowsTheScreen)
{
    make_picture(in_work("picture.png"), 320, 240);
    runner = spawn({TAVRO_EMU, "--dir", device, "--window", "--picture", in_work("picture.png"), "--buttons",
                    "80000@0-600", "--screenshot", in_work("end.png"), "--", "/bin/sleep", "600"},
                   work, in_work(".stdout"), in_work(".stderr"));
    std::string id = xdotool({"search", "--sync", "--name", "^tavro-emu"});
    xdotool({"windowfocus", "--sync", id});
    const struct { const char *keys; uint32_t raw; } keys[] = {
        {"Up", 0x1},        {"Left", 0x4},       {"Down", 0x10},        {"Right", 0x40},     {"m", 0x100},
        {"s", 0x200},       {"l", 0x400},        {"r", 0x800},          {"a", 0x1000},       {"b", 0x2000},
        {"x", 0x4000},      {"y", 0x8000},       {"equal", 0x10000},    {"minus", 0x20000},  {"p", 0x40000},
        {"Up+Left", 0x2},   {"Down+Left", 0x8},  {"Down+Right", 0x20},  {"Up+Right", 0x80},  {"m+r", 0x900},
    };
    for (const auto &k : keys) {
        xdotool({"keydown", k.keys});
        EXPECT_TRUE(gpio_holds(k.raw)) << k.keys << " held";
        xdotool({"keyup", k.keys});
        ASSERT_TRUE(gpio_holds(0)) << k.keys << " let go";
    }

    std::string shown = read_file(in_work("Xvfb_screen0"));
    std::string geometry = xdotool({"getwindowgeometry", "--shell", id});
    int wx = -1, wy = -1;  // a window of another size shows in the pixels below
    sscanf(geometry.c_str() + geometry.find("X="), "X=%d Y=%d", &wx, &wy);
    xdotool({"key", "Escape"});
    EXPECT_NE(reap(runner), -1) << "Escape did not end the device";
    runner = -1;
    DecodedPng end = decode_png(in_work("end.png"));
    ASSERT_TRUE(end.ok) << end.error;
    // The screen file: a header and a colour map, then rows of pixels of
    // four bytes each, blue, green, red and one unused.
    auto be32 = [&](size_t at) { return __builtin_bswap32(le32(shown.substr(at, 4))); };
    size_t line = be32(48), at = be32(0) + be32(76) * 12 + wy * line + wx * 4;
    ASSERT_GE(shown.size(), at + 480 * line) << geometry;
    int wrong = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const uint8_t *p = end.rgb.data() + (y / 2 * 320 + x / 2) * 3;
            wrong += shown.compare(at + y * line + x * 4, 3, {char(p[2]), char(p[1]), char(p[0])}) != 0;
        }
    EXPECT_EQ(wrong, 0);
}
