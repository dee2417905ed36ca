// Runs the real tavro on an emulated device and collects what it left.
#pragma once
#include <string>
#include <vector>

struct RunResult {
    int status = -1;   // exit status, 128 + signal when killed
    std::string out, err;
};

// In a forked child: moves to cwd and replaces the process by argv.
[[noreturn]] void exec_in(const std::string &cwd, const std::vector<std::string> &argv);

// Runs argv (argv[0] a program path) with its working directory in cwd and
// extra environment entries; waits at most deadline seconds, then kills it.
RunResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                      const std::vector<std::string> &env = {}, int deadline = 120);

// Runs tavro with args on a device that tavro-emu sets up in device_dir
// from the options given.
RunResult run_tavro(const std::string &device_dir, const std::vector<std::string> &options,
                    const std::vector<std::string> &args, const std::string &cwd);

// The tavro under test, and the command that runs it (the same, or a
// wrapper such as qemu-user's first); TAVRO_TEST_* in the environment
// choose another build than this one's.
std::string tavro_path();
std::vector<std::string> tavro_command();
// The runner with runner_options, up to and including tavro_command().
std::vector<std::string> device_command(const std::vector<std::string> &runner_options);
// The environment entry that preloads the tripwire into tavro_command().
std::string tripwire_preload();
// Reasons from strerror as glibc words them, also when the tavro under test
// was built against another C library.
std::string glibc_wording(const std::string &text);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
std::string make_temp_dir(const char *what);
void remove_tree(const std::string &dir);
