// The runner's window on an X server of the test's own, driven by xdotool.
#include "interactive.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

static const char XVFB[] = "/usr/bin/Xvfb", XDOTOOL[] = "/usr/bin/xdotool";
// Held by a --buttons timeline all along: a bit of the raw word that tavro
// ignores, to which the keys add theirs.
static const uint32_t TIMELINE = 0x80000;

static uint32_t be32(const std::string &b, size_t at)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data()) + at;
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

class Window : public InteractiveTest {
protected:
    pid_t xserver = -1;
    std::string screen_dir = make_temp_dir("xvfb");

    // The server keeps its screen in a file (XWD) for the test to read.
    void SetUp() override
    {
        if (access(XVFB, X_OK) || access(XDOTOOL, X_OK))
            GTEST_SKIP() << "needs xvfb and xdotool";
        // The server names its display on its standard output once it is ready.
        std::string log = screen_dir + "/log", display = screen_dir + "/display";
        xserver = spawn({XVFB, "-displayfd", "1", "-fbdir", screen_dir, "-screen", "0", "800x600x24", "-nolisten",
                         "tcp"}, screen_dir, display, log);
        ASSERT_TRUE(wait_for([&] { return read_file(display).find('\n') != std::string::npos; }))
            << "Xvfb did not start: " << read_file(log);
        setenv("DISPLAY", (":" + std::to_string(std::stoi(read_file(display)))).c_str(), 1);
    }

    void TearDown() override
    {
        // The runner passes the signal on to the command's own process group.
        if (runner > 0)
            kill(runner, SIGTERM);
        finish();
        InteractiveTest::TearDown();
        if (xserver > 0 && kill(xserver, SIGTERM) == 0)
            reap(xserver);
        remove_tree(screen_dir);
    }

    std::string xdotool(std::vector<std::string> args)
    {
        args.insert(args.begin(), XDOTOOL);
        RunResult r = run_program(args, work, {}, 15);
        EXPECT_EQ(r.status, 0) << "xdotool " << args[1] << ": " << r.err;
        return r.out;
    }

    uint32_t gpio() { return le32(read_file(device + "/dev/GPIO")); }

    // Keys down until the program has acted on the raw word they make, then up.
    bool press(const std::string &keys, uint32_t raw)
    {
        xdotool({"keydown", keys});
        bool down = wait_until([&] { return gpio() == (raw | TIMELINE); }) && polled();
        EXPECT_TRUE(down) << keys << " gave " << std::hex << gpio();
        xdotool({"keyup", keys});
        return down && wait_until([&] { return gpio() == TIMELINE; }) && polled();
    }

    // The screen's pixel at (x, y) as 0x00RRGGBB.
    static uint32_t pixel(const std::string &xwd, int x, int y)
    {
        size_t at = be32(xwd, 0) + be32(xwd, 76) * 12 + size_t(y) * be32(xwd, 48) + size_t(x) * 4;
        if (at + 4 > xwd.size())
            return ~0u;
        const unsigned char *p = reinterpret_cast<const unsigned char *>(xwd.data()) + at;
        return p[0] | p[1] << 8 | p[2] << 16;
    }
};

TEST_F(Window, KeysAreTheButtonsAndTheWindowShowsTheScreen)
{
    std::vector<uint8_t> picture = make_picture(in_work("picture.png"), 320, 240);
    start({"--window", "--wait-all", "--moving", "--picture", in_work("picture.png"), "--buttons", "80000@0-600",
           "--screenshot", in_work("end.png")});
    ASSERT_TRUE(menu_shown()) << err();
    std::string id = xdotool({"search", "--sync", "--name", "^tavro-emu"});
    xdotool({"windowfocus", "--sync", id});

    // Keys and the raw words they make. A key held long on a loaded machine
    // repeats in the menu, so the cursor is steered onto "GO" from where it
    // is, and left and right come there, where they change no slot.
    ASSERT_TRUE(press("Up", RAW_UP) && press("Down", RAW_DOWN));
    for (int steps = 0; cursor_row() != 4 && steps < 10; steps++)
        ASSERT_TRUE(cursor_row() == 5 ? press("Up", RAW_UP) : press("Down", RAW_DOWN));
    ASSERT_TRUE(press("Right", RAW_RIGHT) && press("Left", RAW_LEFT) && press("m", RAW_MENU));
    ASSERT_TRUE(wait_until([&] { return out().find("child starting") != std::string::npos; })) << err();
    // In the service: every other key, the pad's diagonals, and twice the combo.
    const struct { const char *keys; uint32_t raw; } service[] = {
        {"s", 0x200}, {"l", 0x400}, {"r", 0x800}, {"a", 0x1000}, {"b", 0x2000}, {"x", 0x4000}, {"y", 0x8000},
        {"equal", 0x10000}, {"minus", 0x20000}, {"p", 0x40000}, {"Up+Left", 0x2}, {"Down+Left", 0x8},
        {"Down+Right", 0x20}, {"Up+Right", 0x80}, {"m+r", RAW_MENU | RAW_R}, {"m+r", RAW_MENU | RAW_R},
    };
    for (const auto &s : service)
        ASSERT_TRUE(press(s.keys, s.raw)) << s.keys;
    ASSERT_TRUE(wait_until([&] { return out().find("wrote \"shot0_0001.png\"") != std::string::npos; }))
        << out() << err();
    // Each shot holds the picture as it was at that moment, moved on by whole columns.
    int moved[2];
    for (int n = 0; n < 2; n++) {
        DecodedPng shot = decode_png(in_work("shot0_000" + std::to_string(n) + ".png"));
        ASSERT_TRUE(shot.ok) << shot.error;
        const uint8_t *row = shot.rgb.data() + 100 * 320 * 3, *want = picture.data() + 100 * 320 * 3;
        for (moved[n] = 0; moved[n] < 320 && memcmp(row, want + 3 * moved[n], 3) != 0;)
            moved[n]++;
        for (int x = 0; x < 320; x++)
            ASSERT_EQ(memcmp(row + 3 * x, want + 3 * ((x + moved[n]) % 320), 3), 0) << "shot " << n << " x " << x;
    }
    EXPECT_NE(moved[0], moved[1]) << "the picture did not move between the shots";

    // Back in the menu, the window shows the screen at twice its size;
    // closing it ends the service and the device.
    EXPECT_EQ(attach().status, 0);
    ASSERT_TRUE(menu_shown()) << err();
    polled();
    std::string shown = read_file(screen_dir + "/Xvfb_screen0");
    std::string geometry = xdotool({"getwindowgeometry", "--shell", id});
    int wx = -1, wy = -1, ww = 0, wh = 0;
    sscanf(geometry.c_str() + geometry.find("X="), "X=%d Y=%d WIDTH=%d HEIGHT=%d", &wx, &wy, &ww, &wh);
    EXPECT_EQ(ww * 1000 + wh, 640480) << geometry;
    xdotool({"key", "Escape"});
    EXPECT_EQ(finish(), 0) << err();
    DecodedPng end = decode_png(in_work("end.png"));
    ASSERT_TRUE(end.ok) << end.error;
    int wrong = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const uint8_t *p = end.rgb.data() + (y / 2 * 320 + x / 2) * 3;
            wrong += pixel(shown, wx + x, wy + y) != uint32_t(p[0] << 16 | p[1] << 8 | p[2]);
        }
    EXPECT_EQ(wrong, 0);
}
