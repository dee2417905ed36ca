#include "interactive.h"

#include <csignal>
#include <cstring>
#include <fstream>

using Layer = std::vector<uint32_t>;

class MenuScreen : public InteractiveTest {
protected:
    // Layer 1's format code and enable bits, bytes per pixel and bytes per line.
    Layer layer1() { return {reg(P1_CONTROL) & 0xFFFF00EF, reg(P1_HSTRIDE), reg(P1_VSTRIDE)}; }
};

// The menu's texts where they belong; then each step a press and release:
// the cursor row after it, and the text of the slot it is on. MENU and B
// choose only on the two end items.
TEST_F(MenuScreen, TheButtonsMoveTheCursorEditTheSlotsAndGo)
{
    start();
    ASSERT_TRUE(menu_shown()) << err();
    EXPECT_EQ(out(), "tavro: framebuffer: \"emu-lcd\" @ 03101000\n");
    EXPECT_EQ(layer1(), Layer({0x443a0023, 1, 320}));
    const struct { int y; std::string text; } lines[] = {
        {35, "tavro r2"}, {45, "pick a combo, then go"}, {68, "button combo:"}, {108, "GO to background"},
        {116, "exit"}, {150, "next file:"}, {158, "shot0_0000.png"},
    };
    for (const auto &l : lines)
        EXPECT_EQ(text_at(60, l.y, int(l.text.size())), l.text) << "at y " << l.y;
    const struct { uint32_t raw; int row; std::string slot; } steps[] = {
        {RAW_UP, 5, ""}, {RAW_DOWN, 0, "MENU    "}, {RAW_RIGHT, 0, "SELECT  "}, {RAW_LEFT, 0, "MENU    "},
        {RAW_LEFT | RAW_RIGHT, 0, "RIGHT   "}, {RAW_DOWN, 1, "R       "}, {RAW_RIGHT, 1, "A       "},
        {RAW_RIGHT, 1, "B       "}, {RAW_RIGHT, 1, "X       "}, {RAW_RIGHT, 1, "Y       "},
        {RAW_RIGHT, 1, "VOL DOWN"}, {RAW_DOWN, 2, "<none>  "}, {RAW_LEFT, 2, "PUSH    "},
        {RAW_RIGHT, 2, "<none>  "}, {RAW_RIGHT, 2, "UP      "}, {RAW_RIGHT, 2, "LEFT    "},
        {RAW_LEFT, 2, "UP      "}, {RAW_MENU, 2, "UP      "}, {RAW_B, 2, "UP      "},
        {0x2 /* up-left */, 1, "VOL DOWN"}, {RAW_DOWN, 2, "UP      "}, {RAW_DOWN, 4, ""}, {RAW_UP, 2, ""},
        {RAW_DOWN, 4, ""}, {RAW_UP | RAW_DOWN, 2, ""}, {RAW_DOWN, 4, ""}, {RAW_UP | RAW_MENU, 2, ""},
        {RAW_DOWN, 4, ""}, {RAW_SELECT, 4, ""}, {RAW_LEFT, 4, ""}, {RAW_RIGHT, 4, ""}, {RAW_DOWN, 5, ""},
        {RAW_DOWN, 0, "RIGHT   "}, {RAW_UP, 5, ""}, {RAW_UP, 4, ""},
    };
    for (const auto &s : steps) {
        ASSERT_TRUE(tap(s.raw));
        ASSERT_EQ(cursor_row(), s.row) << "after raw " << std::hex << s.raw;
        ASSERT_EQ(text_at(60, 76 + 8 * s.row, int(s.slot.size())), s.slot) << "after raw " << std::hex << s.raw;
    }
    set_buttons(RAW_B);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(read_file(in_work("tavro.bcfg")), std::string("\x40\0\0\0\0\0\x40\0\x01\0\0\0", 12));
    EXPECT_EQ(count_of(launcher_log(), "pid="), 1);
    EXPECT_EQ(layer1(), Layer({0x44320023, 2, 640}));
}

class MenuLeaving : public MenuScreen {
protected:
    // The three slots as the menu shows them, one space between.
    std::string slots_shown()
    {
        std::string slots;
        for (int slot = 0; slot < 3; slot++) {
            std::string text = text_at(60, 76 + 8 * slot, 10);
            slots += text.substr(0, text.find_last_not_of(' ') + 1) + (slot < 2 ? " " : "");
        }
        return slots;
    }
    // After leaving: the screen as it was, the launcher started, the combo
    // file as it was (leaving saves nothing).
    void expect_left_as_exit_does(const std::string &file)
    {
        EXPECT_EQ(finish(), 0);
        EXPECT_EQ(layer1(), Layer({0x44320023, 2, 640}));
        EXPECT_EQ(count_of(launcher_log(), "pid="), 1);
        EXPECT_EQ(read_file(in_work("tavro.bcfg")), file);
    }
};

// Each row a combo file and the slots it gives; then "exit".
TEST_F(MenuLeaving, CombosComeFromTheFileAndExitGivesTheScreenBack)
{
    const struct { const char *what; std::string file; const char *slots; } rows[] = {
        {"no file: the first combo", "", "MENU R <none>"},
        {"four bytes: the first slot only", std::string("\0\x20\0\0", 4), "B R <none>"},
        {"twelve bytes", std::string("\x01\0\0\0\x10\0\0\0\0\x10\0\0", 12), "UP DOWN A"},
        {"a mask of two buttons, shown as a number", std::string("\0\0\x01\0\0\x01\0\0\0\0\0\0", 12),
         "0x00010000 MENU <none>"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.file.empty())
            std::ofstream(in_work("tavro.bcfg"), std::ios::binary) << r.file;
        start();
        ASSERT_TRUE(menu_shown()) << err();
        EXPECT_EQ(slots_shown(), r.slots);
        ASSERT_TRUE(tap(RAW_UP));
        set_buttons(RAW_MENU);
        expect_left_as_exit_does(r.file);
    }
}

// A signal that would end the program leaves the menu as "exit" does.
TEST_F(MenuLeaving, ASignalLeavesAsExitDoes)
{
    for (int sig : {SIGUSR1, SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        start();
        ASSERT_TRUE(menu_shown()) << err();
        std::string children = "/proc/" + std::to_string(runner) + "/task/" + std::to_string(runner) + "/children";
        kill(atoi(read_file(children).c_str()), sig);
        expect_left_as_exit_does("");
    }
}
