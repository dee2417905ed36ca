#include "interactive.h"
#include "menu/font.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void InteractiveTest::end_all()
{
    if (group > 0)
        kill(-group, SIGKILL);
    group = -1;
    finish();
}

void InteractiveTest::start(const std::vector<std::string> &options, const std::vector<std::string> &args,
                            std::string cwd)
{
    std::vector<std::string> argv = {"--dir", device};
    argv.insert(argv.end(), options.begin(), options.end());
    argv = device_command(argv);
    argv.insert(argv.end(), args.begin(), args.end());
    // Nothing of an earlier run may pass for this one's screen or buttons.
    unlink((device + "/dev/mem").c_str());
    unlink((device + "/gpio-reads").c_str());
    group = runner = spawn(argv, cwd.empty() ? work : cwd, in_work(".stdout"), in_work(".stderr"));
}

int InteractiveTest::finish()
{
    int status = runner > 0 ? reap(runner) : -1;
    if (runner > 0 && status == -1)
        ADD_FAILURE() << "the device did not end";
    runner = -1;
    return status;
}

void InteractiveTest::set_buttons(uint32_t raw)
{
    int fd = open((device + "/dev/GPIO").c_str(), O_WRONLY);
    uint8_t le[4] = {uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16), uint8_t(raw >> 24)};
    EXPECT_TRUE(fd >= 0 && pwrite(fd, le, 4, 0) == 4);
    close(fd);
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
static std::string memory(const std::string &device, off_t address, size_t size)
{
    std::string bytes(size, '\0');
    int fd = open((device + "/dev/mem").c_str(), O_RDONLY);
    if (fd < 0 || pread(fd, &bytes[0], size, address) != ssize_t(size))
        bytes.clear();
    close(fd);
    return bytes;
}

std::string InteractiveTest::text_at(int x, int y, int n)
{
    std::string rows = memory(device, 0x03101000 + off_t(y) * 320, 8 * 320), text;
    for (int i = 0; !rows.empty() && i < n; i++) {
        uint8_t cell[8] = {};
        for (int r = 0; r < 8; r++)
            for (int k = 0; k < 8; k++)
                cell[r] |= rows[r * 320 + x + 8 * i + k] == 1 ? 0x80 >> k : 0;
        char c = '?';
        for (int code = 32; code < 127 && c == '?'; code++)
            if (memcmp(cell, font + 8 * code, 8) == 0)
                c = char(code);
        text += c;
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
    return le32(memory(device, 0xC0000000 + off_t(offset), 4));
}
