// Preload shim: routes the program's calls on the device files, the pid
// file and the launcher folder into the emulated device under
// TAVRO_EMU_ROOT (layout in device_folder.h), hands calls on the device files to
// their models, and passes every other call through. Nothing reaches this
// machine's own devices: a device file missing there, or no TAVRO_EMU_ROOT
// at all, fails the open with ENOENT, and an open that ends on a host
// memory, port, framebuffer, GPU, button or disk device node, however it is
// spelled, fails with EACCES and a line in ROOT/refused.log.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "device_folder.h"
#include "shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
// musl's headers make these other names for the plain calls.
#undef open64
#undef openat64
#undef fopen64
#undef mmap64
#undef creat64
#undef freopen64
#undef lstat64

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)   // Linux 5.11; older C library headers lack it
#endif

#define EXPORT extern "C" __attribute__((visibility("default")))

char emu_root[PATH_MAX];

int (*real_open)(const char *, int, ...);
int (*real_close)(int);
static int (*real_openat)(int, const char *, int, ...);
static int (*real_openat64)(int, const char *, int, ...);
static FILE *(*real_fopen)(const char *, const char *);
static FILE *(*real_fopen64)(const char *, const char *);
static int (*real_fclose)(FILE *);
static FILE *(*real_freopen)(const char *, const char *, FILE *);
static FILE *(*real_freopen64)(const char *, const char *, FILE *);
static void *(*real_mmap64)(void *, size_t, int, int, int, off64_t);
static int (*real_remove)(const char *);
static int (*real_unlink)(const char *);
static int (*real_chdir)(const char *);
static int (*real_lstat)(const char *, struct stat *);
int (*real_lstat64)(const char *, struct stat64 *);
static int (*real_dup)(int);
static int (*real_dup2)(int, int);
static int (*real_dup3)(int, int, int);
static int (*real_fcntl)(int, int, ...);
static int (*real_close_range)(unsigned, unsigned, int);
static int (*real_open_by_handle_at)(int, struct file_handle *, int);

template <typename F> static void next(F *&f, const char *name)
{
    f = (F *)dlsym(RTLD_NEXT, name);
}

static bool resolved, root_known;

// Only an absolute folder is taken: a relative one would move with chdir.
// Its links are resolved, as the kernel's names of it are; room is left
// for the names within it.
static void take_root(const char *root)
{
    char resolved_root[PATH_MAX];
    if (root[0] != '/' || strlen(root) + 64 >= PATH_MAX)
        return;
    if (realpath(root, resolved_root) && strlen(resolved_root) + 64 < PATH_MAX)
        strcpy(emu_root, resolved_root);
    else
        strcpy(emu_root, root);
}

// Every wrapper calls this first: another preloaded library's constructor
// may call into the shim before the shim's own has run, or even before the
// environment is set up (a sanitizer's runtime does): the folder is looked
// for again until it is found or the constructor has run.
void shim_init(void)
{
    if (!root_known) {
        const char *root = getenv(EMU_ROOT_VARIABLE);
        if (root)
            take_root(root);
        root_known = root != nullptr;
    }
    if (resolved)
        return;
    next(real_open, "open");
    next(real_close, "close");
    next(real_openat, "openat");
    next(real_openat64, "openat64");
    next(real_fopen, "fopen");
    next(real_fopen64, "fopen64");
    next(real_fclose, "fclose");
    next(real_freopen, "freopen");
    next(real_freopen64, "freopen64");
    next(real_mmap64, "mmap64");
    next(real_remove, "remove");
    next(real_unlink, "unlink");
    next(real_chdir, "chdir");
    next(real_lstat, "lstat");
    next(real_lstat64, "lstat64");
    next(real_dup, "dup");
    next(real_dup2, "dup2");
    next(real_dup3, "dup3");
    next(real_fcntl, "fcntl");
    next(real_close_range, "close_range");
    next(real_open_by_handle_at, "open_by_handle_at");
    resolved = true;
}

__attribute__((constructor)) static void start(void)
{
    shim_init();
    root_known = true;
#ifdef __arm__
    // Under qemu-user the program can exec only this machine's own programs
    // (the stand-in launcher), whose loader reports an armel library in
    // LD_PRELOAD as an error. Loaded once, the shim stays in forks.
    unsetenv("LD_PRELOAD");
#endif
}

// The product's safety check looks for this symbol before touching /dev/mem.
EXPORT int emulated_device_present(void)
{
    return 1;
}

int open_in_root(const char *name, int flags)
{
    char path[PATH_MAX];
    shim_init();
    if (!emu_root[0] || (size_t)snprintf(path, sizeof path, "%s%s", emu_root, name) >= sizeof path)
        return -1;
    return real_open(path, flags | O_CLOEXEC, 0644);
}

static void *map_in_root(const char *name, size_t len)
{
    int fd = open_in_root(name, O_RDWR);
    if (fd < 0)
        return nullptr;
    void *m = real_mmap64(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    real_close(fd);
    return m == MAP_FAILED ? nullptr : m;
}

void log_line(const char *log, const char *line)
{
    errno_guard keep;
    int fd = open_in_root(log, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return;
    if (write(fd, line, strlen(line)) != (ssize_t)strlen(line)) {
        // the call itself goes on
    }
    real_close(fd);
}

emu_shared *shim_shared(void)
{
    static emu_shared *shared;
    static bool tried;
    if (!tried) {
        errno_guard keep;
        shared = (emu_shared *)map_in_root(EMU_SHARED, sizeof *shared);
        tried = true;
    }
    return shared;
}

static int refuse(const char *call, const char *path)
{
    char line[PATH_MAX + 32];
    snprintf(line, sizeof line, "%s %s\n", call, path);
    log_line(EMU_REFUSED_LOG, line);
    errno = EACCES;
    return -1;
}

static bool is_host_fd(int fd)
{
    errno_guard keep;
    struct stat64 st;
    return !fstat64(fd, &st) && is_host_device(&st);
}

// After the fact: a descriptor that a race or a way round the walk turned
// into a host device is closed before the program can use it.
static int checked(int fd, const char *call, const char *path)
{
    if (fd < 0)
        return fd;
    if (is_host_fd(fd)) {
        real_close(fd);
        return refuse(call, path);
    }
    fd_remember(fd, KIND_NONE);
    return fd;
}

static mode_t open_mode(int flags, va_list ap)
{
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
        return (mode_t)va_arg(ap, int);
    return 0;
}

static int open_at(const char *call, int dir, const char *path, int flags, mode_t mode, bool large)
{
    char p[PATH_MAX], named[PATH_MAX];
    shim_init();
    int kind = walk_path(dir, path, p, named);
    struct stat64 st;
    if (kind == KIND_NONE && p[0] && !stat64(p, &st) && is_host_device(&st))
        kind = KIND_REFUSED;
    switch (kind) {
    case KIND_NONE:
        if (in_root(named))
            return checked(real_openat64(AT_FDCWD, named, flags, mode), call, path);
        return checked((large ? real_openat64 : real_openat)(dir, path, flags, mode), call, path);
    case KIND_REFUSED:
        return refuse(call, path);
    case KIND_MISSING:
        errno = ENOENT;
        return -1;
    case KIND_FILE:
        return checked(real_openat64(AT_FDCWD, named, flags, mode), call, path);
    }
    // A device is there or it is not; physical memory is larger than 2 GiB.
    int fd = checked(real_openat64(AT_FDCWD, p, (flags & ~(O_CREAT | O_TRUNC)) | O_LARGEFILE, mode), call, path);
    fd_remember(fd, kind);
    return fd;
}

#define OPEN_WRAPPER(name, large)                                  \
    EXPORT int name(const char *path, int flags, ...)              \
    {                                                              \
        va_list ap;                                                \
        va_start(ap, flags);                                       \
        mode_t mode = open_mode(flags, ap);                        \
        va_end(ap);                                                \
        return open_at("open", AT_FDCWD, path, flags, mode, large); \
    }
OPEN_WRAPPER(open, false)
OPEN_WRAPPER(open64, true)

#define OPENAT_WRAPPER(name, large)                                \
    EXPORT int name(int dir, const char *path, int flags, ...)     \
    {                                                              \
        va_list ap;                                                \
        va_start(ap, flags);                                       \
        mode_t mode = open_mode(flags, ap);                        \
        va_end(ap);                                                \
        return open_at("openat", dir, path, flags, mode, large);   \
    }
OPENAT_WRAPPER(openat, false)
OPENAT_WRAPPER(openat64, true)

EXPORT int __open_2(const char *path, int flags)
{
    return open_at("open", AT_FDCWD, path, flags, 0, false);
}

EXPORT int __open64_2(const char *path, int flags)
{
    return open_at("open", AT_FDCWD, path, flags, 0, true);
}

EXPORT int __openat_2(int dir, const char *path, int flags)
{
    return open_at("openat", dir, path, flags, 0, false);
}

EXPORT int __openat64_2(int dir, const char *path, int flags)
{
    return open_at("openat", dir, path, flags, 0, true);
}

EXPORT int creat(const char *path, mode_t mode)
{
    return open_at("creat", AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, false);
}

EXPORT int creat64(const char *path, mode_t mode)
{
    return open_at("creat", AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, true);
}

// A handle names no path to walk: what it opened is checked after the fact.
EXPORT int open_by_handle_at(int mount, struct file_handle *handle, int flags)
{
    shim_init();
    return checked(real_open_by_handle_at(mount, handle, flags), "open_by_handle_at", "(handle)");
}

static int stdio_flags(const char *mode)
{
    int flags = mode[0] == 'r' ? 0 : mode[0] == 'w' ? O_CREAT | O_TRUNC : O_CREAT | O_APPEND;
    bool both = strchr(mode, '+') != nullptr;
    flags |= both ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    if (strchr(mode, 'e'))
        flags |= O_CLOEXEC;
    if (strchr(mode, 'x'))
        flags |= O_EXCL;
    return flags;
}

// glibc's fopen opens inside libc, out of the wrappers' reach: a routed
// file is opened here and handed to fdopen.
static FILE *fopen_routed(FILE *(*real)(const char *, const char *), const char *path, const char *mode)
{
    char p[PATH_MAX], named[PATH_MAX];
    shim_init();
    if (walk_path(AT_FDCWD, path, p, named) == KIND_NONE && !in_root(named)) {
        FILE *f = real(path, mode);
        if (f && checked(fileno(f), "fopen", path) < 0) {
            errno_guard keep;
            real_fclose(f);   // its descriptor is already closed
            return nullptr;
        }
        return f;
    }
    int fd = open_at("fopen", AT_FDCWD, path, stdio_flags(mode), 0666, true);
    FILE *f = fd < 0 ? nullptr : fdopen(fd, mode);
    if (fd >= 0 && !f) {
        errno_guard keep;
        close(fd);
    }
    return f;
}

EXPORT FILE *fopen(const char *path, const char *mode)
{
    shim_init();   // the pointer is read before the call
    return fopen_routed(real_fopen, path, mode);
}

EXPORT FILE *fopen64(const char *path, const char *mode)
{
    shim_init();   // the pointer is read before the call
    return fopen_routed(real_fopen64, path, mode);
}

// A routed file is opened here and the stream reopened on that descriptor.
static FILE *freopen_routed(FILE *(*real)(const char *, const char *, FILE *), const char *path, const char *mode,
                            FILE *f)
{
    char p[PATH_MAX], named[PATH_MAX], self[32];
    shim_init();
    if (f)
        fd_forget(fileno(f), fileno(f));
    if (!path || (walk_path(AT_FDCWD, path, p, named) == KIND_NONE && !in_root(named))) {
        FILE *r = real(path, mode, f);
        if (r && path && checked(fileno(r), "freopen", path) < 0) {
            errno_guard keep;
            real_fclose(r);
            return nullptr;
        }
        return r;
    }
    int fd = open_at("freopen", AT_FDCWD, path, stdio_flags(mode), 0666, true);
    if (fd < 0) {
        real_fclose(f);   // as freopen leaves it when the open fails
        return nullptr;
    }
    int kind = fd_kind(fd);
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    FILE *r = real(self, mode, f);
    {
        errno_guard keep;
        close(fd);
    }
    if (r)
        fd_remember(fileno(r), kind);
    return r;
}

EXPORT FILE *freopen(const char *path, const char *mode, FILE *f)
{
    shim_init();   // the pointer is read before the call
    return freopen_routed(real_freopen, path, mode, f);
}

EXPORT FILE *freopen64(const char *path, const char *mode, FILE *f)
{
    shim_init();   // the pointer is read before the call
    return freopen_routed(real_freopen64, path, mode, f);
}

EXPORT int fclose(FILE *f)
{
    shim_init();
    if (f)
        fd_forget(fileno(f), fileno(f));
    return real_fclose(f);
}

EXPORT int close(int fd)
{
    shim_init();
    fd_forget(fd, fd);
    return real_close(fd);
}

EXPORT int close_range(unsigned first, unsigned last, int flags)
{
    shim_init();
    if (!real_close_range) {
        errno = ENOSYS;
        return -1;
    }
    int r = real_close_range(first, last, flags);
    if (r == 0 && !(flags & CLOSE_RANGE_CLOEXEC))
        fd_forget((int)(first > INT_MAX ? INT_MAX : first), (int)(last > INT_MAX ? INT_MAX : last));
    return r;
}

EXPORT int dup(int fd)
{
    shim_init();
    int to = real_dup(fd);
    fd_copy(fd, to);
    return to;
}

EXPORT int dup2(int fd, int to)
{
    shim_init();
    int r = real_dup2(fd, to);
    if (r >= 0)
        fd_copy(fd, r);
    return r;
}

EXPORT int dup3(int fd, int to, int flags)
{
    shim_init();
    int r = real_dup3(fd, to, flags);
    if (r >= 0)
        fd_copy(fd, r);
    return r;
}

EXPORT int fcntl(int fd, int cmd, ...)
{
    shim_init();
    // Every command's argument is an int or a pointer; a pointer is passed
    // on in full.
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int r = real_fcntl(fd, cmd, arg);
    if (r >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC))
        fd_copy(fd, r);
    return r;
}

EXPORT int fcntl64(int fd, int cmd, ...) __attribute__((alias("fcntl")));

static int path_call(int (*real)(const char *), const char *call, const char *path)
{
    char p[PATH_MAX], named[PATH_MAX];
    int kind = walk_path(AT_FDCWD, path, p, named);
    if (kind == KIND_NONE && !in_root(named))
        return real(path);
    if (kind == KIND_REFUSED)
        return refuse(call, path);
    if (kind == KIND_MISSING) {
        errno = ENOENT;
        return -1;
    }
    return real(named);
}

EXPORT int remove(const char *path)
{
    shim_init();
    return path_call(real_remove, "remove", path);
}

EXPORT int unlink(const char *path)
{
    shim_init();
    return path_call(real_unlink, "unlink", path);
}

EXPORT int chdir(const char *path)
{
    shim_init();
    return path_call(real_chdir, "chdir", path);
}

// The service looks at its pid file's place as well as opening it. Only a
// path whose last name is a route's (or a dot) can end on one without a
// link followed: every other lstat passes straight through.
template <typename Stat> static int lstat_call(int (*real)(const char *, Stat *), const char *path, Stat *st)
{
    shim_init();
    if (!path || !may_end_on_route(path))
        return real(path, st);
    char p[PATH_MAX], named[PATH_MAX];
    int kind = walk_path(AT_FDCWD, path, p, named);
    if (kind == KIND_NONE && !in_root(named))
        return real(path, st);
    if (kind == KIND_MISSING) {
        errno = ENOENT;
        return -1;
    }
    return real(named, st);
}

EXPORT int lstat(const char *path, struct stat *st)
{
    return lstat_call(real_lstat, path, st);
}

EXPORT int lstat64(const char *path, struct stat64 *st)
{
    return lstat_call(real_lstat64, path, st);
}
