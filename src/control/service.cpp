#include "control/service.h"
#include "capture/replace_file.h"
#include "capture/shot_name.h"
#include "control/shot.h"
#include "device/buttons.h"
#include "menu/combo.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static const char PID_FILE[] = "/tmp/tavro.pid";

// Set by SIGUSR1: the service stops at the top of its next poll.
static volatile sig_atomic_t stop_requested = 0;

static void on_stop_signal(int)
{
    stop_requested = 1;
}

// The pid of the process that holds the write lock on the pid file, or 0.
static int lock_holder(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK)
        return 0;
    return lock.l_pid;
}

// The number the file holds, read as "%i" reads it; 0 for none.
static int pid_in(int fd)
{
    char text[32];
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = 0;
    int pid = 0;
    [[maybe_unused]] int got = sscanf(text, "%i", &pid);
    return pid;
}

// Anyone may plant something at the pid path: only a regular file with a
// single name is a pid file. Opened without following a link and without
// waiting on a FIFO.
static bool plain_file(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

bool check_other_instance()
{
    int fd = open(PID_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The service is the process that holds the file's lock and is named in
    // it. It writes its pid right after taking the lock: a start that comes
    // in between reads again.
    int holder = 0, pid = 0;
    for (int tries = 0; tries < 50 && plain_file(fd); tries++) {
        holder = lock_holder(fd);
        pid = pid_in(fd);
        if (holder <= 0 || pid == holder)
            break;
        usleep(10000);  // a signal cutting it short only means one more look
    }
    close(fd);  // read only: a failed close loses nothing
    if (holder > 0 && pid == holder && kill(pid, SIGUSR1) == 0) {
        printf("other instance detected (pid %i), signaled and exiting\n", pid);
        return true;
    }
    return false;
}

// Creates the pid file, locks it and writes our pid into it. Returns its
// descriptor, held until the service stops, or -1 after saying why there
// is none: without a pid file no later start could stop this service. A
// descriptor given up on the way is closed unchecked: nothing is lost.
static int claim_pid_file()
{
    // A file removed by the service that held it before us is made afresh.
    for (int tries = 0; tries < 3; tries++) {
        int fd = open(PID_FILE, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            fprintf(stderr, "tavro: can't create \"%s\": %s: stopping\n", PID_FILE, strerror(errno));
            return -1;
        }
        if (!plain_file(fd)) {
            close(fd);
            fprintf(stderr, "tavro: \"%s\" is not a plain file: stopping\n", PID_FILE);
            return -1;
        }
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd, F_SETLK, &lock) != 0) {
            int holder = lock_holder(fd);
            close(fd);
            fprintf(stderr, "tavro: another service (pid %i) holds \"%s\": stopping\n", holder, PID_FILE);
            return -1;
        }
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_nlink == 0) {
            close(fd);
            continue;
        }
        if (ftruncate(fd, 0) != 0 || dprintf(fd, "%i", getpid()) < 0) {
            fprintf(stderr, "tavro: can't write \"%s\": %s: stopping\n", PID_FILE, strerror(errno));
            remove(PID_FILE);  // nothing more to do if it fails: we are stopping
            close(fd);
            return -1;
        }
        return fd;
    }
    fprintf(stderr, "tavro: can't create \"%s\": %s: stopping\n", PID_FILE, strerror(ENOENT));
    return -1;
}

static void remove_pid_file(int fd)
{
    // Removed while still locked, so that no start finds it unlocked. A
    // failed removal leaves an unlocked file, which no start will signal.
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
    sigaction(SIGUSR1, &action, nullptr);  // cannot fail on SIGUSR1
    int pid_fd = claim_pid_file();
    if (pid_fd < 0)
        exit(1);

    uint32_t trigger = combo[0] | combo[1] | combo[2];
    if (!trigger) {
        remove_pid_file(pid_fd);
        fputs("tavro: the button combo is empty, so no shot can be taken: stopping\n", stderr);
        exit(0);
    }
    while (!stop_requested) {
        // One look a poll: a pid file gone or replaced is made and locked
        // anew, so that the next start finds this service and no second one.
        if (!names_open_file(PID_FILE, pid_fd)) {
            close(pid_fd);  // its lock goes with it; the file is not ours now
            if ((pid_fd = claim_pid_file()) < 0)
                exit(1);
        }
        uint32_t buttons = read_buttons();
        if ((buttons & trigger) == trigger && buttons != *previous_buttons) {
            const char *name = next_shot_name(0);
            *status = name ? take_shot(name) : -1;
            if (*status == 0)
                printf("tavro: wrote \"%s\".\n", name);
        }
        *previous_buttons = buttons;
    }
    puts("tavro: signal received");
    remove_pid_file(pid_fd);
}
