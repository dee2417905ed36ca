/* Preloaded into tavro started outside the emulated device: every open of
 * a device file is written down in $TRIPWIRE_LOG and refused, so that the
 * safety check's test can show that nothing was touched, and so that a
 * broken check still cannot reach this machine's /dev/mem. With
 * TRIPWIRE_FORK=fail, fork fails as on a full process table. */
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#undef open64 /* musl's headers make it another name for open */

int open(const char *path, int flags, ...)
{
    if (strncmp(path, "/dev/", 5) == 0) {
        const char *log = getenv("TRIPWIRE_LOG");
        FILE *f = log ? fopen(log, "a") : NULL;
        if (f) {
            fprintf(f, "%s\n", path);
            fclose(f);
        }
        errno = EACCES;
        return -1;
    }
    /* The mode comes only with the flags that create a file; O_TMPFILE
     * holds the bit of O_DIRECTORY, so all of its bits must be set. */
    int mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    return openat(AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...) __attribute__((alias("open")));
int __open_2(const char *path, int flags) { return open(path, flags, 0); }
int __open64_2(const char *path, int flags) __attribute__((alias("__open_2")));

pid_t fork(void)
{
    const char *fork_mode = getenv("TRIPWIRE_FORK");
    if (fork_mode && strcmp(fork_mode, "fail") == 0) {
        errno = EAGAIN;
        return -1;
    }
    pid_t (*real_fork)(void) = (pid_t(*)(void))dlsym(RTLD_NEXT, "fork");
    return real_fork();
}
