#include "interactive.h"
#include "menu/font.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

static bool before(time_t end)
{
    return time(nullptr) < end;
}

static void nap()
{
    usleep(2000);
}

void InteractiveTest::TearDown()
{
    end_all();
    DeviceTest::TearDown();
}

// Services outlive the program that forked them: end the whole group.
void InteractiveTest::end_all()
{
    if (group > 0)
        kill(-group, SIGKILL);
    if (runner > 0)
        finish(20);
    group = -1;
}

RunResult InteractiveTest::attach(const std::vector<std::string> &args, const std::string &cwd)
{
    std::vector<std::string> argv = device_command({"--attach", "--dir", device});
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, cwd.empty() ? work : cwd);
}

bool InteractiveTest::wait_until(const std::function<bool()> &condition, int deadline)
{
    time_t end = time(nullptr) + deadline;
    while (!condition() && before(end))
        usleep(10000);
    return condition();
}

void InteractiveTest::start(const std::vector<std::string> &options, const std::vector<std::string> &args,
                            std::string cwd)
{
    if (cwd.empty())
        cwd = work;
    std::vector<std::string> runner_options = {"--dir", device};
    runner_options.insert(runner_options.end(), options.begin(), options.end());
    std::vector<std::string> argv = device_command(runner_options);
    argv.insert(argv.end(), args.begin(), args.end());
    // Nothing of an earlier run may pass for this one's screen or buttons.
    unlink((device + "/dev/mem").c_str());
    unlink((device + "/gpio-reads").c_str());
    runner = fork();
    if (runner == 0) {
        setpgid(0, 0);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_in(cwd, argv);
    }
    setpgid(runner, runner);
    group = runner;
}

int InteractiveTest::finish(int deadline)
{
    time_t end = time(nullptr) + deadline;
    int status = 0;
    while (runner > 0 && before(end)) {
        pid_t done = waitpid(runner, &status, WNOHANG);
        if (done == runner) {
            runner = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(10000);
    }
    if (runner > 0) {
        kill(runner, SIGKILL);
        waitpid(runner, &status, 0);
        runner = -1;
    }
    return -1;
}

unsigned InteractiveTest::button_reads()
{
    std::string b = read_file(device + "/gpio-reads");
    if (b.size() < 4)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data());
    return p[0] | p[1] << 8 | p[2] << 16 | unsigned(p[3]) << 24;
}

void InteractiveTest::set_buttons(uint32_t raw)
{
    int fd = open((device + "/dev/GPIO").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    uint8_t le[4] = {uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16), uint8_t(raw >> 24)};
    ASSERT_EQ(pwrite(fd, le, 4, 0), 4);
    close(fd);
}

int InteractiveTest::leave_with(uint32_t raw)
{
    set_buttons(raw);
    return finish();
}

void InteractiveTest::hold(uint32_t raw)
{
    set_buttons(raw);
    acted_on();
}

void InteractiveTest::acted_on()
{
    // A read under way may have missed the word; the one after it has seen
    // it, and the one after that comes once the program has acted on it.
    unsigned seen = button_reads() + 3;
    time_t end = time(nullptr) + 60;
    while (button_reads() < seen && before(end))
        nap();
    ASSERT_GE(button_reads(), seen) << "the program stopped reading the buttons";
}

std::string InteractiveTest::text_at(int x, int y, int n)
{
    std::string mem = device + "/dev/mem";
    int fd = open(mem.c_str(), O_RDONLY);
    std::vector<uint8_t> rows(8 * 320);
    bool read_ok = fd >= 0 && pread(fd, rows.data(), rows.size(), overlay_address + off_t(y) * 320) ==
                                  ssize_t(rows.size());
    if (fd >= 0)
        close(fd);
    if (!read_ok)
        return "";
    std::string text;
    for (int i = 0; i < n; i++) {
        uint8_t cell[8];
        for (int r = 0; r < 8; r++) {
            cell[r] = 0;
            for (int k = 0; k < 8; k++)
                cell[r] |= rows[r * 320 + x + 8 * i + k] == 1 ? 0x80 >> k : 0;
        }
        char c = '?';
        for (int code = 32; code < 127 && c == '?'; code++)
            if (memcmp(cell, font + 8 * code, 8) == 0)
                c = char(code);
        text += c;
    }
    return text;
}

bool InteractiveTest::wait_for_text(int x, int y, const std::string &text, int deadline)
{
    time_t end = time(nullptr) + deadline;
    while (text_at(x, y, int(text.size())) != text && before(end))
        usleep(10000);
    return text_at(x, y, int(text.size())) == text;
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
    int fd = open((device + "/dev/mem").c_str(), O_RDONLY);
    uint8_t b[4] = {0, 0, 0, 0};
    if (fd >= 0) {
        if (pread(fd, b, 4, 0xC0000000 + off_t(offset)) != 4)
            b[0] = b[1] = b[2] = b[3] = 0;
        close(fd);
    }
    return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
}
