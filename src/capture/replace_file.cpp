#include "capture/replace_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// The replacement under way: valid from begin_replace to end_replace.
static char temp_path[PATH_MAX];
static char target_path[PATH_MAX];

// sigaction and sigprocmask cannot fail on these signals: unchecked.
static const int ENDING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
static struct sigaction saved_actions[3];

// Takes the temporary file along, then lets the signal end the process as
// it would have: it is blocked in here and arrives again on return.
static void on_ending_signal(int sig)
{
    unlink(temp_path);  // the process ends either way
    signal(sig, SIG_DFL);
    raise(sig);
}

// Blocks the three and returns the mask as it was.
static sigset_t block_ending_signals()
{
    sigset_t set, old;
    sigemptyset(&set);
    for (int sig : ENDING_SIGNALS)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old);
    return old;
}

int begin_replace(const char *path)
{
    const char *slash = strrchr(path, '/');
    int folder = slash ? int(slash - path) + 1 : 0;
    if (strlen(path) >= sizeof target_path ||
        snprintf(temp_path, sizeof temp_path, "%.*s.tavro-XXXXXX", folder, path) >= int(sizeof temp_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    strcpy(target_path, path);
    struct stat st;
    mode_t mask = umask(0);  // umask cannot fail; read it and put it back
    umask(mask);
    mode_t mode = lstat(path, &st) == 0 ? st.st_mode & 07777 : 0666 & ~mask;

    // No signal may come between the file's creation and its handlers.
    sigset_t old = block_ending_signals();
    int fd = mkstemp(temp_path);
    if (fd >= 0 && fchmod(fd, mode) != 0) {
        int error = errno;
        close(fd);          // an empty file given up: failures change nothing
        unlink(temp_path);
        errno = error;
        fd = -1;
    }
    int error = errno;
    struct sigaction action = {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; fd >= 0 && i < 3; i++) {
        sigaction(ENDING_SIGNALS[i], nullptr, &saved_actions[i]);
        // An ignored signal stays ignored: it ends nothing.
        if (saved_actions[i].sa_handler != SIG_IGN)
            sigaction(ENDING_SIGNALS[i], &action, nullptr);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return fd;
}

int end_replace(bool keep)
{
    sigset_t old = block_ending_signals();
    int result = keep && rename(temp_path, target_path) == 0 ? 0 : -1;
    int error = errno;
    if (result != 0)
        unlink(temp_path);  // a failure leaves only a stray temporary file
    for (int i = 0; i < 3; i++)
        sigaction(ENDING_SIGNALS[i], &saved_actions[i], nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return keep ? result : 0;
}
