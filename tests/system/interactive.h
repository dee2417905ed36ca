// tavro in interactive mode on an emulated device, driven like a user:
// buttons pressed and released, the overlay read back as text.
#pragma once
#include "device_test.h"

#include <functional>
#include <sys/types.h>

class InteractiveTest : public DeviceTest {
protected:
    pid_t runner = -1;
    pid_t group = -1;  // the runner's process group, services included
    std::string out_path = in_work(".stdout"), err_path = in_work(".stderr");

    void TearDown() override;

    // Starts tavro without arguments (or with args) on the device, in the
    // background; its output goes to files read by out() and err().
    void start(const std::vector<std::string> &options = {}, const std::vector<std::string> &args = {},
               std::string cwd = "");
    // Runs tavro with args beside the running one, on the same device.
    RunResult attach(const std::vector<std::string> &args = {}, const std::string &cwd = "");
    bool wait_until(const std::function<bool()> &condition, int deadline = 60);
    // Waits for the runner to end and returns its exit status, or -1.
    int finish(int deadline = 60);
    // Ends every process of the run, services left behind included.
    void end_all();
    std::string out() { return read_file(out_path); }
    std::string err() { return read_file(err_path); }

    // Sets the raw button word and returns once the program has read it and
    // acted on it (it has read the buttons again since).
    void hold(uint32_t raw);
    // Returns once the program has read the buttons as they are now and
    // acted on them.
    void acted_on();
    // A press and release of the raw word.
    void tap(uint32_t raw) { hold(raw); hold(0); }
    // Presses the raw word that ends the program and returns its exit status.
    int leave_with(uint32_t raw);
    void set_buttons(uint32_t raw);
    unsigned button_reads();

    // The n characters of text at (x, y) on the overlay, '?' where a cell
    // holds no glyph of the font; blanks are spaces.
    std::string text_at(int x, int y, int n);
    // Waits until text_at(x, y, text.size()) shows text.
    bool wait_for_text(int x, int y, const std::string &text, int deadline = 60);
    // The line of the cursor, from its ">" in column 50: 0-5, or -1.
    int cursor_row();
    uint32_t reg(uint32_t offset);
    uint32_t overlay_address = 0x03101000;
};

// Raw button words.
constexpr uint32_t RAW_UP = 0x1, RAW_LEFT = 0x4, RAW_DOWN = 0x10, RAW_RIGHT = 0x40;
constexpr uint32_t RAW_MENU = 0x100, RAW_SELECT = 0x200, RAW_B = 0x2000;
