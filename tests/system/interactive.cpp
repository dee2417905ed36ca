#include "interactive.h"
#include "menu/font.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

void InteractiveTest::TearDown()
{
    end_all();
    DeviceTest::TearDown();
}

void InteractiveTest::end_all()
{
    if (group > 0)
        kill(-group, SIGKILL);
    group = -1;
    finish();
}

RunResult InteractiveTest::attach()
{
    return run_program(device_command({"--attach", "--dir", device}), work);
}

bool InteractiveTest::wait_until(const std::function<bool()> &condition, int deadline)
{
    for (time_t end = time(nullptr) + deadline; time(nullptr) < end; usleep(5000))
        if (condition())
            return true;
    return condition();
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
    runner = fork();
    if (runner == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY), out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0), dup2(out, 1), dup2(err, 2);
        exec_in(cwd.empty() ? work : cwd, argv);
    }
    setpgid(runner, runner);
    group = runner;
}

int InteractiveTest::finish()
{
    int status = -1;
    if (runner > 0 && !wait_until([&] { return waitpid(runner, &status, WNOHANG) == runner; })) {
        kill(-runner, SIGKILL);
        waitpid(runner, nullptr, 0);
        ADD_FAILURE() << "the device did not end";
        status = -1;
    }
    runner = -1;
    return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static uint32_t le32(const std::string &b)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data());
    return b.size() < 4 ? 0 : p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
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

std::string InteractiveTest::text_at(int x, int y, int n)
{
    std::string rows(8 * 320, '\0'), text;
    int fd = open((device + "/dev/mem").c_str(), O_RDONLY);
    bool read_ok = fd >= 0 && pread(fd, &rows[0], rows.size(), 0x03101000 + off_t(y) * 320) == ssize_t(rows.size());
    close(fd);
    for (int i = 0; read_ok && i < n; i++) {
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
    std::string b(4, '\0');
    int fd = open((device + "/dev/mem").c_str(), O_RDONLY);
    bool ok = fd >= 0 && pread(fd, &b[0], 4, 0xC0000000 + off_t(offset)) == 4;
    close(fd);
    return ok ? le32(b) : 0;
}
