#include "interactive.h"
#include "menu/font.h"

#include <csignal>
#include <fstream>

void InteractiveTest::end_all()
{
    if (group > 0)
        kill(-group, SIGKILL);
    group = -1;
    finish();
}

void InteractiveTest::start(Args options, const Args &args, std::string cwd)
{
    options.insert(options.begin(), {"--dir", device});
    // Nothing of an earlier run may pass for this one's screen or buttons.
    unlink((device + "/dev/mem").c_str());
    unlink((device + "/gpio-reads").c_str());
    group = runner = spawn(device_command(options, args), cwd.empty() ? work : cwd, in_work(".stdout"),
                           in_work(".stderr"));
}

int InteractiveTest::finish()
{
    int status = runner > 0 ? reap(runner) : -1;
    EXPECT_TRUE(runner <= 0 || status != -1) << "the device did not end";
    runner = -1;
    return status;
}

void InteractiveTest::set_buttons(uint32_t raw)
{
    const char le[4] = {char(raw), char(raw >> 8), char(raw >> 16), char(raw >> 24)};
    std::fstream gpio(device + "/dev/GPIO", std::ios::in | std::ios::out | std::ios::binary);
    EXPECT_TRUE(gpio.write(le, 4).flush().good());
}

// A read under way may have missed the word; the one after it has seen it,
// and the one after that comes once the program has acted on it.
bool InteractiveTest::polled(unsigned polls)
{
    unsigned seen = le32(read_file(device + "/gpio-reads")) + polls;
    bool ok = wait_until([&] { return le32(read_file(device + "/gpio-reads")) >= seen; });
    EXPECT_TRUE(ok) << "the program stopped reading the buttons";
    return ok;
}

// The size bytes of the emulated device's physical memory at address.
static std::string memory(const std::string &device, std::streamoff address, size_t size)
{
    std::string bytes(size, '\0');
    std::ifstream mem(device + "/dev/mem", std::ios::binary);
    return mem.seekg(address).read(&bytes[0], std::streamsize(size)) ? bytes : "";
}

std::string InteractiveTest::text_at(int x, int y, int n)
{
    std::string rows = memory(device, 0x03101000 + y * 320, 8 * 320), text;
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

bool InteractiveTest::wait_for_text(int x, int y, const std::string &text)
{
    return wait_until([&] { return text_at(x, y, int(text.size())) == text; });
}

int InteractiveTest::cursor_row()
{
    int found = -1;
    for (int row = 0; row < 6; row++)
        if (text_at(50, 76 + 8 * row, 1) == ">")
            found = found == -1 ? row : -2;
    return found;
}

uint32_t InteractiveTest::reg(uint32_t offset)
{
    return le32(memory(device, 0xC0000000 + std::streamoff(offset), 4));
}
