#include "device_run.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The environment can point the tests at another build of tavro, such as
// the armel one, with the program that runs it (a qemu-user wrapper), the
// emulated device's shim built for it and the tripwire built for it.
static std::string setting(const char *name, const char *fallback)
{
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

std::string tavro_path()
{
    return setting("TAVRO_TEST_BINARY", TAVRO_BINARY);
}

std::vector<std::string> tavro_command()
{
    std::string wrapper = setting("TAVRO_TEST_WRAPPER", "");
    if (wrapper.empty())
        return {tavro_path()};
    return {wrapper, tavro_path()};
}

std::vector<std::string> device_command(const std::vector<std::string> &runner_options)
{
    std::vector<std::string> argv = {TAVRO_EMU};
    argv.insert(argv.end(), runner_options.begin(), runner_options.end());
    std::string shim = setting("TAVRO_TEST_SHIM", "");
    if (!shim.empty()) {
        argv.push_back("--shim");
        argv.push_back(shim);
    }
    // The wrapper preloads the shim that the runner names in TAVRO_EMU_SHIM.
    if (!setting("TAVRO_TEST_WRAPPER", "").empty())
        argv.push_back("--no-preload");
    argv.push_back("--");
    for (const std::string &a : tavro_command())
        argv.push_back(a);
    return argv;
}

std::string tripwire_preload()
{
    std::string tripwire = setting("TAVRO_TEST_TRIPWIRE", TRIPWIRE_LIBRARY);
    if (setting("TAVRO_TEST_WRAPPER", "").empty())
        return "LD_PRELOAD=" + tripwire;
    return "TAVRO_GUEST_PRELOAD=" + tripwire;
}

static void drain(int fd, std::string &into, bool &open)
{
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into.append(buf, size_t(n));
    else if (n == 0 || errno != EINTR)
        open = false;
}

void exec_in(const std::string &cwd, const std::vector<std::string> &argv)
{
    if (chdir(cwd.c_str()) != 0)
        _exit(126);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

RunResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                      const std::vector<std::string> &env, int deadline)
{
    RunResult r;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        exec_in(cwd, argv);
    }
    close(out[1]);
    close(err[1]);
    bool out_open = true, err_open = true;
    time_t end = time(nullptr) + deadline;
    while ((out_open || err_open) && time(nullptr) < end) {
        pollfd fds[2] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 500) <= 0)
            continue;
        if (fds[0].revents)
            drain(out[0], r.out, out_open);
        if (fds[1].revents)
            drain(err[0], r.err, err_open);
    }
    if (out_open || err_open) {
        kill(-pid, SIGKILL);
        ADD_FAILURE() << argv[0] << " still ran after " << deadline << " s";
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string glibc_wording(std::string text)
{
    size_t at = text.find(": I/O error\n");
    return at == std::string::npos ? text : text.replace(at, 12, ": Input/output error\n");
}

int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string make_temp_dir(const char *what, const char *base)
{
    std::string dir = std::string(base) + "/tavro-" + what + "-XXXXXX";
    if (!mkdtemp(dir.data()))
        abort();
    return dir;
}

void remove_tree(const std::string &dir)
{
    if (dir.rfind("/tmp/tavro-", 0) == 0 || dir.rfind("/dev/shm/tavro-", 0) == 0)
        (void)!system(("rm -rf '" + dir + "'").c_str());
}
