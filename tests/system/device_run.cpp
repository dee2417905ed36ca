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

std::string tavro_path()
{
    return TAVRO_BINARY;
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
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
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
        r.err += "\n[killed after the deadline of " + std::to_string(deadline) + " s]\n";
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

RunResult run_tavro(const std::string &device_dir, const std::vector<std::string> &options,
                    const std::vector<std::string> &args, const std::string &cwd)
{
    std::vector<std::string> argv = {TAVRO_EMU, "--dir", device_dir};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.push_back(tavro_path());
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, cwd);
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

std::string make_temp_dir(const char *what)
{
    std::string dir = std::string("/tmp/tavro-") + what + "-XXXXXX";
    if (!mkdtemp(dir.data()))
        abort();
    return dir;
}

void remove_tree(const std::string &dir)
{
    if (dir.rfind("/tmp/tavro-", 0) == 0)
        (void)!system(("rm -rf '" + dir + "'").c_str());
}
