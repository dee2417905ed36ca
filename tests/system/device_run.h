// Runs the real tavro on an emulated device and collects what it left.
#pragma once
#include "picture.h"
#include "png_decode.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

// A command line, or entries of the environment.
using Args = std::vector<std::string>;

struct RunResult {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out, err;
};

// The environment can point the tests at another build of tavro (the armel
// one), the program that runs it (a qemu-user wrapper), and the shim and
// tripwire built for it: TAVRO_TEST_*.
inline std::string test_setting(const char *name, const char *fallback = "")
{
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

// The tavro under test and the command that runs it (a wrapper such as
// qemu-user's first).
inline std::string tavro_path()
{
    return test_setting("TAVRO_TEST_BINARY", TAVRO_BINARY);
}

inline Args tavro_command()
{
    std::string wrapper = test_setting("TAVRO_TEST_WRAPPER");
    return wrapper.empty() ? Args{tavro_path()} : Args{wrapper, tavro_path()};
}

// The runner with runner_options, then tavro_command() with args.
inline Args device_command(const Args &runner_options, const Args &args = {})
{
    Args argv = {TAVRO_EMU}, tavro = tavro_command();
    argv.insert(argv.end(), runner_options.begin(), runner_options.end());
    if (!test_setting("TAVRO_TEST_SHIM").empty())
        argv.insert(argv.end(), {"--shim", test_setting("TAVRO_TEST_SHIM")});
    // The wrapper preloads the shim that the runner names in TAVRO_EMU_SHIM.
    if (!test_setting("TAVRO_TEST_WRAPPER").empty())
        argv.push_back("--no-preload");
    argv.push_back("--");
    argv.insert(argv.end(), tavro.begin(), tavro.end());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// The environment entry that preloads the tripwire into tavro_command().
inline std::string tripwire_preload()
{
    std::string tripwire = test_setting("TAVRO_TEST_TRIPWIRE", TRIPWIRE_LIBRARY);
    return (test_setting("TAVRO_TEST_WRAPPER").empty() ? "LD_PRELOAD=" : "TAVRO_GUEST_PRELOAD=") + tripwire;
}

// The same for a shell line that starts tavro_command() on the emulated
// device, where the shim is preloaded already: the tripwire after it.
inline std::string tripwire_beside_shim()
{
    std::string tripwire = test_setting("TAVRO_TEST_TRIPWIRE", TRIPWIRE_LIBRARY);
    return test_setting("TAVRO_TEST_WRAPPER").empty() ? "LD_PRELOAD=\"$LD_PRELOAD:" + tripwire + "\""
                                                     : "TAVRO_GUEST_PRELOAD=" + tripwire;
}

// In a forked child: moves to cwd and replaces the process by argv.
[[noreturn]] inline void exec_in(const std::string &cwd, const Args &argv)
{
    std::vector<char *> args(argv.size() + 1);  // the last one null
    for (size_t i = 0; i < argv.size(); i++)
        args[i] = const_cast<char *>(argv[i].c_str());
    if (chdir(cwd.c_str()) == 0)
        execv(args[0], args.data());
    _exit(127);
}

// Starts argv in cwd, in a process group of its own, with extra environment
// entries and its output going to the files out and err.
inline pid_t spawn(const Args &argv, const std::string &cwd, const std::string &out, const std::string &err,
                   const Args &env = {})
{
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY), out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0), dup2(out_fd, 1), dup2(err_fd, 2);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        exec_in(cwd, argv);
    }
    setpgid(pid, pid);  // the group must exist before the caller may kill it
    return pid;
}

// True as soon as condition holds; false if it still fails after deadline seconds.
inline bool wait_for(const std::function<bool()> &condition, int deadline = 15)
{
    for (time_t end = time(nullptr) + deadline; time(nullptr) < end; usleep(5000))
        if (condition())
            return true;
    return condition();
}

// The exit status of pid; -1 (and its group killed) if it outlasts the deadline.
inline int reap(pid_t pid, int deadline = 15)
{
    int status = 0;
    if (!wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline)) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string make_temp_dir(const char *what)
{
    std::string dir = std::string("/tmp/tavro-") + what + "-XXXXXX";
    if (!mkdtemp(dir.data()))
        abort();
    return dir;
}

inline void remove_tree(const std::string &dir)
{
    if (dir.rfind("/tmp/tavro-", 0) == 0)
        (void)!system(("rm -rf '" + dir + "'").c_str());
}

// Runs argv in cwd; a run that outlasts the deadline is killed and fails the test.
inline RunResult run_program(const Args &argv, const std::string &cwd, const Args &env = {}, int deadline = 20)
{
    // Output goes to files: a service left behind holds no pipe open.
    std::string dir = make_temp_dir("run");
    int status = reap(spawn(argv, cwd, dir + "/out", dir + "/err", env), deadline);
    EXPECT_NE(status, -1) << argv[0] << " still ran after " << deadline << " s";
    RunResult r = {status, read_file(dir + "/out"), read_file(dir + "/err")};
    remove_tree(dir);
    return r;
}

// A reason from strerror as glibc words it, whatever C library tavro has.
inline std::string glibc_wording(std::string text)
{
    size_t at = text.find(": I/O error\n");
    return at == std::string::npos ? text : text.replace(at, 12, ": Input/output error\n");
}

inline int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

// The little-endian word that the first four bytes make, or 0.
inline uint32_t le32(const std::string &b)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data());
    return b.size() < 4 ? 0 : p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

inline bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A w x h picture saved as a PNG at path for the device to show. Pixel i of
// it is exact in RGB565 and unique among 2048, or with grey a grey level.
inline std::vector<uint8_t> make_picture(const std::string &path, int w, int h, bool grey = false)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < w * h; i++) {
        int r = i % 32, g = (i / 32 + i * 5) % 64, b = (i * 7 + 3) % 32;
        if (grey)
            rgb.insert(rgb.end(), 3, uint8_t(i * 29));
        else
            rgb.insert(rgb.end(), {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)});
    }
    EXPECT_EQ(save_png(path.c_str(), rgb.data(), w, h), 0) << path;
    return rgb;
}

// A fresh emulated device and working folder for each test.
class DeviceTest : public testing::Test {
protected:
    std::string device = make_temp_dir("device"), work = make_temp_dir("work");

    void TearDown() override
    {
        remove_tree(device);
        remove_tree(work);
    }
    RunResult tavro(const Args &args, Args options = {}, int deadline = 20)
    {
        options.insert(options.begin(), {"--dir", device});
        return run_program(device_command(options, args), work, {}, deadline);
    }
    std::string launcher_log() { return read_file(device + "/launcher.log"); }
    std::string in_work(const std::string &name) { return work + "/" + name; }
    // Whether a temporary file of a shot is left in the working folder.
    bool temp_left() { return system(("ls -A " + work + " | grep -q '^.tavro-'").c_str()) == 0; }
};

// The status, output and error output of a run, compared at once.
inline std::tuple<int, std::string, std::string> run_fields(const RunResult &r) { return {r.status, r.out, r.err}; }
#define EXPECT_RUN(result, status, out, err) \
    EXPECT_EQ(run_fields(result), std::make_tuple(int(status), std::string(out), std::string(err)))
