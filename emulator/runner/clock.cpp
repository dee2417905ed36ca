#include "runner.h"
#include "motion.h"
#include "window.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static const long SYNC_NS = 1000000000L / 60;
static const long PULSE_NS = 1000000L;         // sync flag pulse without a trap

static volatile sig_atomic_t caught_signal;    // to pass on to the command, or 0

static void on_signal(int sig)
{
    caught_signal = sig;
}

void catch_signals(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

static double seconds(const timespec *a, const timespec *b)
{
    return (double)(b->tv_sec - a->tv_sec) + (double)(b->tv_nsec - a->tv_nsec) / 1e9;
}

static void add_ns(timespec *t, long ns)
{
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        t->tv_sec++;
    }
}

// With --wait-all every process's end goes to ROOT/exits.log, its status
// as the runner itself reports one.
static void note_exit(const emulated_device *dev, pid_t pid, int wait_status)
{
    char path[PATH_MAX], line[64];
    device_path(dev, EMU_EXITS_LOG, path);
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    int n = snprintf(line, sizeof line, "%d %d\n", (int)pid, exit_status_of(wait_status));
    if (fd < 0 || write(fd, line, (size_t)n) != n)
        fail("cannot write", path);
    if (fd >= 0)
        close(fd);
}

// Kills every child of the runner, as /proc tells them.
static void kill_children(void)
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return;
    for (dirent *e; (e = readdir(proc));) {
        char path[300], stat[512];
        snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        ssize_t n = fd < 0 ? -1 : read(fd, stat, sizeof stat - 1);
        if (fd >= 0)
            close(fd);
        if (n <= 0)
            continue;
        stat[n] = 0;
        // "PID (NAME) STATE PPID ...", where NAME may hold anything.
        const char *after_name = strrchr(stat, ')');
        int parent;
        if (after_name && sscanf(after_name + 1, " %*c %d", &parent) == 1 && parent == getpid())
            kill(atoi(e->d_name), SIGKILL);
    }
    closedir(proc);
}

// What the command left behind has become the runner's (it is their
// subreaper): each process is killed once it is a child, until none is
// left. Each end goes to exits.log.
static void end_leftovers(const emulated_device *dev)
{
    for (;;) {
        kill_children();
        int st;
        pid_t pid = waitpid(-1, &st, 0);
        if (pid > 0)
            note_exit(dev, pid, st);
        else if (errno != EINTR)
            return;
    }
}

int run_device(emulated_device *dev, const runner_config *cfg, pid_t child, bool *screenshot_failed)
{
    char mark[PATH_MAX];
    timespec start, now, next;
    int status = 0;
    bool child_done = false, pulsing = false, shot = false;
    bool windowed = cfg->window, closed = false;
    uint32_t word = buttons_at(cfg, 0), keys = 0;
    device_path(dev, EMU_UNTRAPPED_MARK, mark);
    clock_gettime(CLOCK_MONOTONIC, &start);
    next = start;
    for (;;) {
        pid_t pid;
        int st;
        while ((pid = waitpid(-1, &st, WNOHANG)) > 0) {
            if (pid == child) {
                status = exit_status_of(st);
                child_done = true;
            }
            if (cfg->wait_all)
                note_exit(dev, pid, st);
        }
        if (child_done && (!cfg->wait_all || (pid < 0 && errno == ECHILD)))
            break;
        int sig = caught_signal;
        caught_signal = 0;
        if (sig && (!child_done || cfg->window)) {
            kill(cfg->window ? -child : child, sig);
        } else if (sig) {
            end_leftovers(dev);
            status = 128 + sig;
            break;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        double t = seconds(&start, &now);
        if (pulsing)
            display_end_pulse(&dev->display);
        pulsing = false;
        if (seconds(&next, &now) >= 0) {
            display_vsync(&dev->display);
            if (cfg->moving)
                motion_step(&dev->display, &cfg->display);
            if (windowed)
                keys = window_frame(&dev->display, &closed);
            if (windowed && closed) {
                // As at the end of the command: the device goes with it. The
                // end screenshot is what the window showed last, before the
                // programs on it answer the signal.
                if (cfg->screenshot && !shot) {
                    *screenshot_failed = save_screenshot(&dev->display, cfg->screenshot) != 0;
                    shot = true;
                }
                window_close();
                windowed = false;
                keys = 0;
                kill(-child, SIGTERM);
            }
            pulsing = !access(mark, F_OK);
            add_ns(&next, SYNC_NS);
            if (seconds(&next, &now) > 0.1)   // fell far behind: do not catch up
                next = now;
        }
        if ((cfg->button_count || cfg->window) && (buttons_at(cfg, t) | keys) != word) {
            word = buttons_at(cfg, t) | keys;
            set_button_word(dev, word);
        }
        timespec wake = next;
        if (pulsing) {
            wake = now;
            add_ns(&wake, PULSE_NS);
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    }
    if (cfg->screenshot && !shot)
        *screenshot_failed = save_screenshot(&dev->display, cfg->screenshot) != 0;
    return status;
}
