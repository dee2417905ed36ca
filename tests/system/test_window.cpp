// The runner's window on an X server of the test's own, driven by xdotool.
#include "interactive.h"

#include <csignal>

static const char XVFB[] = "/usr/bin/Xvfb", XDOTOOL[] = "/usr/bin/xdotool";
// Held by a --buttons timeline all along: a bit of the raw word that tavro
// ignores, to which the keys add theirs.
static const uint32_t TIMELINE = 0x80000;

class Window : public InteractiveTest {
protected:
    pid_t xserver = -1;

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
        // The runner passes the signal on to the command's own process group.
        if (runner > 0 && kill(runner, SIGTERM) == 0)
            finish();
        if (xserver > 0 && kill(xserver, SIGTERM) == 0)
            reap(xserver);
        InteractiveTest::TearDown();
    }

    std::string xdotool(Args args)
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
        bool down = wait_for([&] { return gpio() == (raw | TIMELINE); }) && polled();
        EXPECT_TRUE(down) << keys << " gave " << std::hex << gpio();
        xdotool({"keyup", keys});
        return down && wait_for([&] { return gpio() == TIMELINE; }) && polled();
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
    ASSERT_TRUE(wait_for([&] { return out().find("child starting") != std::string::npos; })) << err();
    // In the service: every other key, the pad's diagonals, and twice the combo.
    const struct { const char *keys; uint32_t raw; } service[] = {
        {"s", 0x200}, {"l", 0x400}, {"r", 0x800}, {"a", 0x1000}, {"b", 0x2000}, {"x", 0x4000}, {"y", 0x8000},
        {"equal", 0x10000}, {"minus", 0x20000}, {"p", 0x40000}, {"Up+Left", 0x2}, {"Down+Left", 0x8},
        {"Down+Right", 0x20}, {"Up+Right", 0x80}, {"m+r", RAW_MENU | RAW_R}, {"m+r", RAW_MENU | RAW_R},
    };
    for (const auto &s : service)
        ASSERT_TRUE(press(s.keys, s.raw)) << s.keys;
    ASSERT_TRUE(wait_for([&] { return out().find("wrote \"shot0_0001.png\"") != std::string::npos; }))
        << out() << err();
    // Each shot holds the picture as it was at that moment, moved on by whole
    // columns: its row 100 is found in the picture's, twice over, at a pixel.
    std::string row(picture.begin() + 100 * 960, picture.begin() + 101 * 960);
    size_t moved[2];
    for (int n = 0; n < 2; n++) {
        DecodedPng shot = decode_png(in_work("shot0_000" + std::to_string(n) + ".png"));
        ASSERT_EQ(shot.rgb.size(), picture.size()) << shot.error;
        moved[n] = (row + row).find(std::string(shot.rgb.begin() + 100 * 960, shot.rgb.begin() + 101 * 960));
        ASSERT_TRUE(moved[n] < 960 && moved[n] % 3 == 0) << "shot " << n << " is not the picture moved";
    }
    EXPECT_NE(moved[0], moved[1]) << "the picture did not move between the shots";

    // Back in the menu, the window shows the screen at twice its size;
    // closing it ends the service and the device.
    EXPECT_EQ(attach().status, 0);
    ASSERT_TRUE(menu_shown()) << err();
    polled();
    std::string shown = read_file(in_work("Xvfb_screen0"));
    std::string geometry = xdotool({"getwindowgeometry", "--shell", id});
    int wx = -1, wy = -1;  // a window of another size shows in the pixels below
    sscanf(geometry.c_str() + geometry.find("X="), "X=%d Y=%d", &wx, &wy);
    xdotool({"key", "Escape"});
    EXPECT_EQ(finish(), 0) << err();
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
