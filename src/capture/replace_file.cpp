#include "capture/replace_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The replacement under way: valid from begin_replace to end_replace.
static char temp_path[PATH_MAX];
static char target_path[PATH_MAX];
// A second descriptor of the temporary file. Its flock marks the file as
// being written, and lasts while the caller closes its own descriptor.
static int held_fd = -1;

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

bool names_open_file(const char *path, int fd)
{
    struct stat there, open_file;
    return lstat(path, &there) == 0 && fstat(fd, &open_file) == 0 && there.st_dev == open_file.st_dev &&
           there.st_ino == open_file.st_ino;
}

// Sets temp_path to the temporary name for path, in its folder: one name a
// target (or a target and a process, with owner), so that a write cut off
// by a power cut leaves one file, which the next write there clears. A
// file name too long to extend is replaced by its hash.
static bool name_temp(const char *path, pid_t owner)
{
    const char *slash = strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    int folder = int(file - path);
    char hashed[9], by[16] = "";
    if (strlen(file) > 200) {
        uint32_t hash = 2166136261u;  // FNV-1a
        for (const char *c = file; *c; c++)
            hash = (hash ^ uint8_t(*c)) * 16777619u;
        snprintf(hashed, sizeof hashed, "%08x", hash);
        file = hashed;
    }
    if (owner)
        snprintf(by, sizeof by, "%i-", int(owner));
    return strlen(path) < sizeof target_path &&
           snprintf(temp_path, sizeof temp_path, "%.*s.tavro-%s%s", folder, path, by, file) < int(sizeof temp_path);
}

// Removes what a cut-off write left at temp_path: a regular file with one
// name that no live writer holds. A link, a FIFO or a folder stays.
static void clear_leftover()
{
    int fd = open(temp_path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        names_open_file(temp_path, fd))
        unlink(temp_path);  // a failure only leaves it there
    close(fd);              // read only: a failed close loses nothing
}

// Creates temp_path afresh, with mode as a plain open gives it (the umask
// applied), and holds it: its descriptor, or -1 with errno set.
static int create_temp(mode_t mode)
{
    for (int tries = 0; tries < 3; tries++) {
        int fd = open(temp_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) {
            clear_leftover();
            continue;
        }
        if (fd < 0)
            return -1;
        // Held, and still ours: a writer that found it before the flock
        // took it for a leftover, and it is made again.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && names_open_file(temp_path, fd))
            return fd;
        close(fd);  // nothing written yet
    }
    errno = EEXIST;
    return -1;
}

int begin_replace(const char *path)
{
    if (!name_temp(path, 0)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    strcpy(target_path, path);
    struct stat st;
    bool exists = lstat(path, &st) == 0;
    mode_t mode = exists ? st.st_mode & 07777 : 0666;

    // No signal may come between the file's creation and its handlers.
    sigset_t old = block_ending_signals();
    int fd = create_temp(mode);
    // Held by another writer, or planted: a name of this process's own.
    if (fd < 0 && errno == EEXIST && name_temp(path, getpid()))
        fd = create_temp(mode);
    // The umask may have taken bits that the old file had. A file system
    // that refuses the change (FAT) keeps its own idea of the mode.
    if (fd >= 0 && exists) {
        [[maybe_unused]] int kept = fchmod(fd, mode);
    }
    if (fd >= 0 && (held_fd = dup(fd)) < 0) {
        close(fd);  // an empty file given up: failures change nothing
        unlink(temp_path);
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
    close(held_fd);         // written and closed by the caller already
    held_fd = -1;
    for (int i = 0; i < 3; i++)
        sigaction(ENDING_SIGNALS[i], &saved_actions[i], nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return keep ? result : 0;
}
