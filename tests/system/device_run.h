// Runs the real tavro on an emulated device and collects what it left.
#pragma once
#include "png_decode.h"

#include <gtest/gtest.h>

// A command line, or entries of the environment.
using Args = std::vector<std::string>;

struct RunResult {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out, err;
};

// In a forked child: moves to cwd and replaces the process by argv.
[[noreturn]] void exec_in(const std::string &cwd, const Args &argv);
// Starts argv in cwd, in a process group of its own, with extra environment
// entries and its output going to the files out and err.
pid_t spawn(const Args &argv, const std::string &cwd, const std::string &out, const std::string &err,
            const Args &env = {});
// True as soon as condition holds; false if it still fails after deadline seconds.
bool wait_for(const std::function<bool()> &condition, int deadline = 15);
// The exit status of pid; -1 (and its group killed) if it outlasts the deadline.
int reap(pid_t pid, int deadline = 15);
// Runs argv in cwd; a run that outlasts the deadline is killed and fails the test.
RunResult run_program(const Args &argv, const std::string &cwd, const Args &env = {}, int deadline = 20);

// The tavro under test and the command that runs it (a wrapper such as
// qemu-user's first): TAVRO_TEST_* in the environment choose another build.
std::string tavro_path();
Args tavro_command();
// The runner with runner_options, then tavro_command() with args.
Args device_command(const Args &runner_options, const Args &args = {});
// The environment entry that preloads the tripwire into tavro_command().
std::string tripwire_preload();
// A reason from strerror as glibc words it, whatever C library tavro has.
std::string glibc_wording(std::string text);
std::string read_file(const std::string &path);
// The little-endian word that the first four bytes make, or 0.
uint32_t le32(const std::string &bytes);
bool file_exists(const std::string &path);
int count_of(const std::string &text, const std::string &part);
std::string make_temp_dir(const char *what, const char *base = "/tmp");
void remove_tree(const std::string &dir);
// A w x h picture saved as a PNG at path for the device to show. Pixel i of
// it is exact in RGB565 and unique among 2048, or with grey a grey level.
std::vector<uint8_t> make_picture(const std::string &path, int w, int h, bool grey = false);

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
};

// The status, output and error output of a run, compared at once.
inline std::tuple<int, std::string, std::string> run_fields(const RunResult &r) { return {r.status, r.out, r.err}; }
#define EXPECT_RUN(result, status, out, err) \
    EXPECT_EQ(run_fields(result), std::make_tuple(int(status), std::string(out), std::string(err)))
