// tavro in interactive mode on an emulated device, driven like a user:
// buttons pressed and released, the overlay read back as text. Every wait
// is on something the device reports and gives up after 15 s.
#pragma once
#include "device_run.h"
#include "display_model.h"
#include "menu/font.h"

#include <algorithm>

constexpr uint32_t RAW_UP = 0x1, RAW_LEFT = 0x4, RAW_DOWN = 0x10, RAW_RIGHT = 0x40, RAW_MENU = 0x100,
                   RAW_SELECT = 0x200, RAW_R = 0x800, RAW_A = 0x1000, RAW_B = 0x2000;

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
    void start(Args options = {}, const Args &args = {}, std::string cwd = "")
    {
        start_through("", options, args, cwd);
    }
    // The same with tavro started by a shell line that ends in exec "$@",
    // which sets up its limits and environment first.
    void start_through(const std::string &shell, Args options, const Args &args = {}, std::string cwd = "")
    {
        options.insert(options.begin(), {"--dir", device});
        Args argv = device_command(options, args);
        if (!shell.empty())
            argv.insert(std::find(argv.begin(), argv.end(), "--") + 1, {"/bin/sh", "-c", shell, "sh"});
        // Nothing of an earlier run may pass for this one's screen or buttons.
        unlink((device + "/dev/mem").c_str());
        unlink((device + "/gpio-reads").c_str());
        group = runner = spawn(argv, cwd.empty() ? work : cwd, in_work(".stdout"), in_work(".stderr"));
    }
    // Runs tavro with args beside the running one, on the same device.
    RunResult attach() { return run_program(device_command({"--attach", "--dir", device}), work); }
    // Waits for the runner to end: its exit status, or -1.
    int finish()
    {
        int status = runner > 0 ? reap(runner) : -1;
        EXPECT_TRUE(runner <= 0 || status != -1) << "the device did not end";
        runner = -1;
        return status;
    }
    // Ends every process of the run, services left behind included.
    void end_all()
    {
        if (group > 0)
            kill(-group, SIGKILL);
        group = -1;
        finish();
    }
    std::string out() { return read_file(in_work(".stdout")); }
    std::string err() { return read_file(in_work(".stderr")); }

    void set_buttons(uint32_t raw)
    {
        const char le[4] = {char(raw), char(raw >> 8), char(raw >> 16), char(raw >> 24)};
        std::fstream gpio(device + "/dev/GPIO", std::ios::in | std::ios::out | std::ios::binary);
        EXPECT_TRUE(gpio.write(le, 4).flush().good());
    }
    // Returns true once the program has read the buttons polls times more: a
    // read under way may have missed the word; the one after it has seen it,
    // and the one after that comes once the program has acted on it.
    bool polled(unsigned polls = 3)
    {
        unsigned seen = le32(read_file(device + "/gpio-reads")) + polls;
        bool ok = wait_for([&] { return le32(read_file(device + "/gpio-reads")) >= seen; });
        EXPECT_TRUE(ok) << "the program stopped reading the buttons";
        return ok;
    }
    // From the first item of a menu just shown: down to "GO to background",
    // and MENU pressed and held.
    bool press_go()
    {
        bool at_go = tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN);
        set_buttons(RAW_MENU);
        return at_go;
    }
    // Sets the raw word and returns once the program has read and acted on it.
    bool hold(uint32_t raw) { set_buttons(raw); return polled(); }
    // A press released as soon as it is surely seen: held for fewer polls,
    // a press repeats less readily when the test is slow to let go.
    bool tap(uint32_t raw) { set_buttons(raw); return polled(2) && hold(0); }

    // The size bytes of the emulated device's physical memory at address.
    std::string device_memory(std::streamoff address, size_t size)
    {
        std::string bytes(size, '\0');
        std::ifstream mem(device + "/dev/mem", std::ios::binary);
        return mem.seekg(address).read(&bytes[0], std::streamsize(size)) ? bytes : "";
    }
    // The n characters at (x, y) on the overlay, '?' for a cell that holds no glyph.
    std::string text_at(int x, int y, int n)
    {
        std::string rows = device_memory(0x03101000 + y * 320, 8 * 320), text;
        for (int i = 0; !rows.empty() && i < n; i++) {
            uint8_t cell[8] = {};
            for (int p = 0; p < 64; p++)
                cell[p / 8] |= rows[p / 8 * 320 + x + 8 * i + p % 8] == 1 ? 0x80 >> p % 8 : 0;
            int code = 32;
            while (code < 127 && memcmp(cell, font + 8 * code, 8) != 0)
                code++;
            text += code < 127 ? char(code) : '?';
        }
        return text;
    }
    bool wait_for_text(int x, int y, const std::string &text)
    {
        return wait_for([&] { return text_at(x, y, int(text.size())) == text; });
    }
    bool menu_shown() { return wait_for_text(60, 116, "exit"); }
    // The line of the cursor, from its ">" in column 50: 0-5, or -1.
    int cursor_row()
    {
        int found = -1;
        for (int row = 0; row < 6; row++)
            if (text_at(50, 76 + 8 * row, 1) == ">")
                found = found == -1 ? row : -2;
        return found;
    }
    uint32_t reg(uint32_t offset) { return le32(device_memory(std::streamoff(REGS_PHYS + offset), 4)); }
};

// Primary layer 1's registers, which the menu's overlay takes over.
inline const uint32_t P1_CONTROL = dc_layer_base[LAYER_P1] + DC_CONTROL;
inline const uint32_t P1_HSTRIDE = dc_layer_base[LAYER_P1] + DC_HSTRIDE;
inline const uint32_t P1_VSTRIDE = dc_layer_base[LAYER_P1] + DC_VSTRIDE;
