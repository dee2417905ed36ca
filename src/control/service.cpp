#include "control/service.h"
#include "capture/shot_name.h"
#include "control/shot.h"
#include "device/buttons.h"
#include "menu/combo.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

static const char PID_FILE[] = "/tmp/tavro.pid";

// Set by SIGUSR1: the service stops at the top of its next poll.
static volatile sig_atomic_t stop_requested = 0;

static void on_stop_signal(int)
{
    stop_requested = 1;
}

bool check_other_instance()
{
    FILE *f = fopen(PID_FILE, "r");
    if (!f)
        return false;
    int pid = 0;
    [[maybe_unused]] int got = fscanf(f, "%i", &pid);
    // A running service holds the lock on its pid file; a file left behind
    // may name any process, which must not be signalled.
    bool held = flock(fileno(f), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (pid > 0 && held && kill(pid, SIGUSR1) == 0) {
        printf("other instance detected (pid %i), signaled and exiting\n", pid);
        return true;
    }
    fclose(f);
    return false;
}

// The pid file names this process while it holds the file's lock; -1 when
// there is none (another service holds it, or /tmp is not writable).
static int write_pid_file()
{
    int fd = open(PID_FILE, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0 || dprintf(fd, "%i", getpid()) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static void remove_pid_file(int fd)
{
    if (fd < 0)
        return;
    remove(PID_FILE);
    close(fd);
}

void run_capture_service(uint32_t *previous_buttons, int *status)
{
    printf("tavro: child starting with pid %i\n", getpid());
    stop_requested = 0;
    // The handler is in place before the pid file lets anyone signal us.
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    int pid_fd = write_pid_file();

    uint32_t trigger = combo[0] | combo[1] | combo[2];
    if (!trigger) {
        remove_pid_file(pid_fd);
        fputs("tavro: the button combo is empty, so no shot can be taken: stopping\n", stderr);
        exit(0);
    }
    while (!stop_requested) {
        uint32_t buttons = read_buttons();
        if ((buttons & trigger) == trigger && buttons != *previous_buttons) {
            const char *name = next_shot_name(0);
            *status = take_shot(name);
            if (*status == 0)
                printf("tavro: wrote \"%s\".\n", name);
        }
        *previous_buttons = buttons;
    }
    puts("tavro: signal received");
    remove_pid_file(pid_fd);
}
