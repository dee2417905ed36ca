// tavro in interactive mode on an emulated device, driven like a user:
// buttons pressed and released, the overlay read back as text. Every wait
// is on something the device reports and gives up after 15 s.
#pragma once
#include "device_run.h"

class InteractiveTest : public DeviceTest {
protected:
    pid_t runner = -1;  // the runner, while it runs
    pid_t group = -1;   // its process group, which services left behind stay in

    void TearDown() override
    {
        end_all();
        DeviceTest::TearDown();
    }
    // Starts tavro (without arguments, or with args) on the device in the
    // background, its output going to files read by out() and err().
    void start(Args options = {}, const Args &args = {}, std::string cwd = "");
    // Runs tavro with args beside the running one, on the same device.
    RunResult attach() { return run_program(device_command({"--attach", "--dir", device}), work); }
    bool wait_until(const std::function<bool()> &condition, int deadline = 15) { return wait_for(condition, deadline); }
    // Waits for the runner to end: its exit status, or -1.
    int finish();
    // Ends every process of the run, services left behind included.
    void end_all();
    std::string out() { return read_file(in_work(".stdout")); }
    std::string err() { return read_file(in_work(".stderr")); }

    void set_buttons(uint32_t raw);
    // Returns true once the program has read the buttons polls times more.
    bool polled(unsigned polls = 3);
    // Sets the raw word and returns once the program has read and acted on it.
    bool hold(uint32_t raw) { set_buttons(raw); return polled(); }
    // A press released as soon as it is surely seen: held for fewer polls,
    // a press repeats less readily when the test is slow to let go.
    bool tap(uint32_t raw) { set_buttons(raw); return polled(2) && hold(0); }
    // The n characters at (x, y) on the overlay, '?' for a cell that holds no glyph.
    std::string text_at(int x, int y, int n);
    bool wait_for_text(int x, int y, const std::string &text);
    bool menu_shown() { return wait_for_text(60, 116, "exit"); }
    // The line of the cursor, from its ">" in column 50: 0-5, or -1.
    int cursor_row();
    uint32_t reg(uint32_t offset);
};

constexpr uint32_t RAW_UP = 0x1, RAW_LEFT = 0x4, RAW_DOWN = 0x10, RAW_RIGHT = 0x40, RAW_MENU = 0x100,
                   RAW_SELECT = 0x200, RAW_R = 0x800, RAW_A = 0x1000, RAW_B = 0x2000;
constexpr uint32_t P1_CONTROL = 0x4058, P1_HSTRIDE = 0x405C, P1_VSTRIDE = 0x4060;
