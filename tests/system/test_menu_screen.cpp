#include "interactive.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using MenuScreen = InteractiveTest;

static const uint32_t P1_CONTROL = 0x4058, P1_HSTRIDE = 0x405C, P1_VSTRIDE = 0x4060;

static std::string bytes(const std::string &s)
{
    std::string hex;
    char b[4];
    for (unsigned char c : s) {
        snprintf(b, sizeof b, "%02x ", c);
        hex += b;
    }
    return hex;
}

TEST_F(MenuScreen, ShowsEveryTextInPlaceAndExitLeavesEverythingAsItWas)
{
    start();
    ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
    EXPECT_EQ(out(), "tavro: framebuffer: \"emu-lcd\" @ 03101000\n");
    const struct { int y; std::string text; } lines[] = {
        {35, "tavro r2"},  {45, "pick a combo, then go"}, {68, "button combo:"},
        {76, "MENU  "},    {84, "R  "},  {92, "<none>"}, {100, "                "},
        {108, "GO to background"}, {116, "exit"}, {150, "next file:"}, {158, "shot0_0000.png"},
    };
    for (const auto &l : lines)
        EXPECT_EQ(text_at(60, l.y, int(l.text.size())), l.text) << "at y " << l.y;
    EXPECT_EQ(cursor_row(), 0);
    EXPECT_EQ(reg(P1_CONTROL) >> 16, 0x443Au);
    EXPECT_EQ(reg(P1_HSTRIDE), 1u);
    EXPECT_EQ(reg(P1_VSTRIDE), 320u);

    tap(RAW_UP);
    EXPECT_EQ(cursor_row(), 5);
    EXPECT_EQ(leave_with(RAW_MENU), 0);
    EXPECT_EQ(err(), "");
    std::string launches = launcher_log();
    EXPECT_EQ(launches.find("pid="), 0u);
    EXPECT_EQ(std::count(launches.begin(), launches.end(), '\n'), 1);
    EXPECT_FALSE(file_exists(in_work("tavro.bcfg"))) << "exit saves nothing";
    EXPECT_EQ(reg(P1_CONTROL) & 0xFFFF00EF, 0x44320023u) << std::hex << reg(P1_CONTROL);
    EXPECT_EQ(reg(P1_HSTRIDE), 2u);
    EXPECT_EQ(reg(P1_VSTRIDE), 640u);
    // Where the device sees every store: layer 1 switched over before the
    // palette is set, strides before the control word, both ways.
    std::string writes = read_file(device + "/regwrites.log");
    if (!writes.empty()) {
        EXPECT_EQ(writes.substr(0, 98), "405c 00000001\n4060 00000140\n4058 443a0033\n"
                                        "4070 00000000\n4070 0100ffff\n"
                                        "308c 00000403\n308c 00000403\n")  // two syncs before drawing
            << writes;
        EXPECT_EQ(writes.substr(writes.size() - 42), "405c 00000002\n4060 00000280\n4058 44320033\n");
        EXPECT_EQ(writes.find("4070 ", 70), std::string::npos) << "the palette is written twice only";
    }
}

TEST_F(MenuScreen, CursorSkipsTheEmptyRowWrapsAndTakesTheFirstMatchingButton)
{
    start();
    ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
    const struct { uint32_t raw; int row; } steps[] = {
        {RAW_UP, 5}, {RAW_DOWN, 0}, {RAW_DOWN, 1}, {RAW_DOWN, 2}, {RAW_DOWN, 4}, {RAW_UP, 2},
        {RAW_DOWN, 4}, {RAW_UP | RAW_DOWN, 2}, {RAW_DOWN, 4}, {RAW_UP | RAW_MENU, 2},
        {RAW_MENU, 2}, {RAW_B, 2}, {0x2 /* up-left */, 1}, {RAW_DOWN, 2}, {RAW_DOWN, 4},
        {RAW_SELECT, 4}, {RAW_DOWN, 5},
    };
    for (const auto &s : steps) {
        tap(s.raw);
        EXPECT_EQ(cursor_row(), s.row) << "after raw " << std::hex << s.raw;
    }
    EXPECT_EQ(text_at(60, 76, 6), "MENU  ") << "up-left stepped no slot";
    EXPECT_EQ(leave_with(RAW_B), 0);
    EXPECT_FALSE(file_exists(in_work("tavro.bcfg")));
}

TEST_F(MenuScreen, SlotsStepThroughNamedButtonsAndGoSavesThem)
{
    start();
    ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
    const struct { uint32_t raw; int row; const char *name; } steps[] = {
        {RAW_RIGHT, 0, "SELECT  "}, {RAW_LEFT, 0, "MENU    "}, {RAW_LEFT | RAW_RIGHT, 0, "RIGHT   "},
        {RAW_DOWN, 1, "R       "},  {RAW_RIGHT, 1, "A       "}, {RAW_RIGHT, 1, "B       "},
        {RAW_RIGHT, 1, "X       "}, {RAW_RIGHT, 1, "Y       "}, {RAW_RIGHT, 1, "VOL DOWN"},
        {RAW_DOWN, 2, "<none>  "},  {RAW_LEFT, 2, "PUSH    "}, {RAW_RIGHT, 2, "<none>  "},
        {RAW_RIGHT, 2, "UP      "}, {RAW_RIGHT, 2, "LEFT    "}, {RAW_LEFT, 2, "UP      "},
        {RAW_MENU, 2, "UP      "},  {RAW_B, 2, "UP      "},
    };
    for (const auto &s : steps) {
        tap(s.raw);
        EXPECT_EQ(cursor_row(), s.row);
        EXPECT_EQ(text_at(60, 76 + 8 * s.row, 8), s.name) << "after raw " << std::hex << s.raw;
    }
    tap(RAW_DOWN);
    tap(RAW_LEFT);
    tap(RAW_RIGHT);
    EXPECT_EQ(text_at(60, 92, 8), "UP      ") << "left and right on an end item change nothing";
    EXPECT_EQ(leave_with(RAW_MENU), 0);
    EXPECT_EQ(bytes(read_file(in_work("tavro.bcfg"))), "40 00 00 00 00 00 40 00 01 00 00 00 ");
    std::string launches = launcher_log();
    EXPECT_EQ(std::count(launches.begin(), launches.end(), '\n'), 1);
    EXPECT_EQ(reg(P1_CONTROL) >> 16, 0x4432u);
    EXPECT_EQ(reg(P1_HSTRIDE), 2u);
    EXPECT_EQ(reg(P1_VSTRIDE), 640u);
}

TEST_F(MenuScreen, HeldKeyRepeats)
{
    start();
    ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
    // MENU, SELECT, L, R, A: the first step on the press, the others repeats.
    hold(RAW_RIGHT);
    EXPECT_TRUE(wait_for_text(60, 76, "A ")) << text_at(60, 76, 8);
    hold(0);
    tap(RAW_UP);
    EXPECT_EQ(leave_with(RAW_MENU), 0);
}

TEST_F(MenuScreen, CombosComeFromTheFileAsFarAsItGoes)
{
    const struct { std::string file; const char *slots[3]; } cases[] = {
        {std::string("\x01\0\0\0\x10\0\0\0\0\x10\0\0", 12), {"UP  ", "DOWN", "A   "}},
        {std::string("\0\x20\0\0", 4), {"B   ", "R   ", "<none>"}},
        {std::string("\0\0\x01\0\0\x01\0\0\0\0\0\0", 12), {"0x00010000", "MENU  ", "<none>"}},
    };
    for (const auto &c : cases) {
        FILE *f = fopen(in_work("tavro.bcfg").c_str(), "wb");
        fwrite(c.file.data(), 1, c.file.size(), f);
        fclose(f);
        start();
        ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
        for (int slot = 0; slot < 3; slot++)
            EXPECT_EQ(text_at(60, 76 + 8 * slot, int(strlen(c.slots[slot]))), c.slots[slot]);
        tap(RAW_UP);
        tap(RAW_UP);
        EXPECT_EQ(leave_with(RAW_MENU), 0);  // go to background: the combo is saved as it is
        end_all();
        std::string expected = c.file.size() == 12 ? c.file : std::string("\0\x20\0\0\0\x08\0\0\0\0\0\0", 12);
        EXPECT_EQ(bytes(read_file(in_work("tavro.bcfg"))), bytes(expected));
    }
}

TEST_F(MenuScreen, DisplayFailuresEndAtOnceWithoutTheLauncher)
{
    const struct { std::vector<std::string> options; std::string err; } cases[] = {
        {{"--without", "fb0"}, "can't open fbdev: No such file or directory\n"},
        {{"--without", "fb0-info"}, "ioctl(fbdev) failed: Input/output error\n"},
        {{"--mem-size", "0xc0010000", "--layer", "p1:addr=0xd0000000"},
         "tavro: mmap failed: No such device or address\n"},
    };
    for (const auto &c : cases) {
        start(c.options);
        EXPECT_EQ(finish(), 1);
        EXPECT_EQ(glibc_wording(err()), c.err);
        EXPECT_EQ(launcher_log(), "");
        EXPECT_EQ(read_file(device + "/regwrites.log"), "") << "a register was written";
        EXPECT_EQ(reg(P1_HSTRIDE), 2u);
    }
}

TEST_F(MenuScreen, SignalsLeaveLikeExitAndGiveTheScreenBack)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
        start();
        ASSERT_TRUE(wait_for_text(60, 116, "exit")) << err();
        std::string children = "/proc/" + std::to_string(runner) + "/task/" + std::to_string(runner) + "/children";
        kill(atoi(read_file(children).c_str()), sig);
        EXPECT_EQ(finish(), 0) << sig;
        EXPECT_EQ(reg(P1_CONTROL) >> 16, 0x4432u) << sig;
        EXPECT_EQ(reg(P1_HSTRIDE), 2u);
        EXPECT_EQ(reg(P1_VSTRIDE), 640u);
        std::string launches = launcher_log();
        EXPECT_EQ(std::count(launches.begin(), launches.end(), '\n'), 1) << sig << launches;
    }
}
