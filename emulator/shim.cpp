// Preload shim: routes the program's calls on the device files, the pid
// file and the launcher folder into the emulated device under
// TAVRO_EMU_ROOT (layout in layout.h), and passes every other call through.
// A device file missing there, or no TAVRO_EMU_ROOT at all, fails the open
// with ENOENT: nothing ever reaches this machine's own devices.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "layout.h"
#include "shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fb.h>
#include <sched.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
// musl's headers make these other names for the plain calls.
#undef open64
#undef openat64
#undef fopen64
#undef mmap64

#define EXPORT extern "C" __attribute__((visibility("default")))

enum { KIND_NONE, KIND_MEM, KIND_GPIO, KIND_FB0, KIND_FILE };

char emu_root[PATH_MAX];
// What each open descriptor is, for the calls that act on descriptors.
static unsigned char fd_kind[4096];

int (*real_open)(const char *, int, ...);
static int (*real_open64)(const char *, int, ...);
static int (*real_openat)(int, const char *, int, ...);
static int (*real_openat64)(int, const char *, int, ...);
static FILE *(*real_fopen)(const char *, const char *);
static FILE *(*real_fopen64)(const char *, const char *);
static ssize_t (*real_read)(int, void *, size_t);
static int (*real_ioctl)(int, unsigned long, void *);
static void *(*real_mmap64)(void *, size_t, int, int, int, off64_t);
static int (*real_munmap)(void *, size_t);
static int (*real_remove)(const char *);
static int (*real_unlink)(const char *);
static int (*real_chdir)(const char *);
static int (*real_close)(int);

__attribute__((constructor)) static void resolve(void)
{
    real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    real_open64 = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open64");
    real_openat = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
    real_openat64 = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat64");
    real_fopen = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen");
    real_fopen64 = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen64");
    real_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    real_ioctl = (int (*)(int, unsigned long, void *))dlsym(RTLD_NEXT, "ioctl");
    real_mmap64 = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    real_munmap = (int (*)(void *, size_t))dlsym(RTLD_NEXT, "munmap");
    real_remove = (int (*)(const char *))dlsym(RTLD_NEXT, "remove");
    real_unlink = (int (*)(const char *))dlsym(RTLD_NEXT, "unlink");
    real_chdir = (int (*)(const char *))dlsym(RTLD_NEXT, "chdir");
    real_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
    const char *root = getenv(EMU_ROOT_VARIABLE);
    // Only an absolute folder is taken: a relative one would move with chdir.
    if (root && root[0] == '/' && strlen(root) + 64 < sizeof emu_root)
        strcpy(emu_root, root);
#ifdef __arm__
    // Under qemu-user the program can exec only this machine's own programs
    // (the stand-in launcher's shell), whose loader reports an armel library
    // in LD_PRELOAD as an error. Loaded once, the shim stays in forks.
    unsetenv("LD_PRELOAD");
#endif
}

// The product's safety check looks for this symbol before touching /dev/mem.
EXPORT int emulated_device_present(void)
{
    return 1;
}

static const char *const device_path[] = {nullptr, EMU_MEM, EMU_GPIO, EMU_FB0};

// A device file named some other way ("//dev/mem", "mem" with /dev as the
// folder) is still the device: it must not reach this machine's own.
static int device_by_name(int dir, const char *path)
{
    const char *slash = strrchr(path, '/'), *base = slash ? slash + 1 : path;
    int kind = KIND_NONE;
    for (int k = KIND_MEM; k <= KIND_FB0; k++)
        if (!strcmp(base, device_path[k] + 5))
            kind = k;
    if (kind == KIND_NONE)
        return KIND_NONE;
    char folder[PATH_MAX], real[PATH_MAX];
    if (slash) {
        size_t n = (size_t)(slash - path);
        if (n >= sizeof folder)
            return KIND_NONE;
        memcpy(folder, path, n);
        folder[n] = 0;
        if (n == 0)
            strcpy(folder, "/");
    } else {
        strcpy(folder, ".");
    }
    if (folder[0] != '/' && dir != AT_FDCWD) {
        char link[64], at[PATH_MAX];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
        ssize_t n = readlink(link, at, sizeof at - 1);
        if (n < 0)
            return KIND_NONE;
        at[n] = 0;
        if ((size_t)snprintf(real, sizeof real, "%s/%s", at, folder) >= sizeof real)
            return KIND_NONE;
        strcpy(folder, real);
    }
    return realpath(folder, real) && !strcmp(real, "/dev") ? kind : KIND_NONE;
}

static int path_kind_at(int dir, const char *path)
{
    if (!path)
        return KIND_NONE;
    size_t n = strlen(EMU_LAUNCHER_DIR);
    if (!strcmp(path, EMU_PID_FILE) || (!strncmp(path, EMU_LAUNCHER_DIR, n) && (path[n] == 0 || path[n] == '/')))
        return KIND_FILE;
    return device_by_name(dir, path);
}

// The path in the emulated device for a routed path; "" when there is none.
static int route_at(int dir, const char *path, char *out, size_t size)
{
    int kind = path_kind_at(dir, path);
    const char *name = kind == KIND_FILE ? path : device_path[kind];
    out[0] = 0;
    if (kind != KIND_NONE && emu_root[0] && (size_t)snprintf(out, size, "%s%s", emu_root, name) >= size)
        out[0] = 0;
    return kind;
}

static int route(const char *path, char *out, size_t size)
{
    return route_at(AT_FDCWD, path, out, size);
}

static void remember(int fd, int kind)
{
    if (fd >= 0 && fd < (int)sizeof fd_kind)
        fd_kind[fd] = (unsigned char)kind;
}

static int kind_of(int fd)
{
    return fd >= 0 && fd < (int)sizeof fd_kind ? fd_kind[fd] : (int)KIND_NONE;
}

static mode_t open_mode(int flags, va_list ap)
{
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
        return (mode_t)va_arg(ap, int);
    return 0;
}

static int open_routed(int (*real)(const char *, int, ...), int dir, const char *path, int flags, mode_t mode)
{
    char p[PATH_MAX];
    int kind = route_at(dir, path, p, sizeof p);
    if (!real_open)
        resolve();
    if (kind == KIND_NONE)
        return real(path, flags, mode);
    if (!p[0]) {
        errno = ENOENT;
        return -1;
    }
    if (kind != KIND_FILE)
        flags &= ~(O_CREAT | O_TRUNC);   // a device is there or it is not
    int fd = real(p, flags, mode);
    int saved = errno;
    remember(fd, kind);
    errno = saved;
    return fd;
}

EXPORT int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = open_mode(flags, ap);
    va_end(ap);
    return open_routed(real_open, AT_FDCWD, path, flags, mode);
}

EXPORT int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = open_mode(flags, ap);
    va_end(ap);
    return open_routed(real_open64, AT_FDCWD, path, flags, mode);
}

EXPORT int __open_2(const char *path, int flags)
{
    return open_routed(real_open, AT_FDCWD, path, flags, 0);
}

EXPORT int __open64_2(const char *path, int flags)
{
    return open_routed(real_open64, AT_FDCWD, path, flags, 0);
}

static int openat_routed(int (*real)(int, const char *, int, ...), int dir, const char *path, int flags, mode_t mode)
{
    if (path_kind_at(dir, path) != KIND_NONE)
        return open_routed(real_open64, dir, path, flags, mode);
    return real(dir, path, flags, mode);
}

EXPORT int openat(int dir, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = open_mode(flags, ap);
    va_end(ap);
    return openat_routed(real_openat, dir, path, flags, mode);
}

EXPORT int openat64(int dir, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = open_mode(flags, ap);
    va_end(ap);
    return openat_routed(real_openat64, dir, path, flags, mode);
}

static FILE *fopen_routed(FILE *(*real)(const char *, const char *), const char *path, const char *mode)
{
    char p[PATH_MAX];
    int kind = route(path, p, sizeof p);
    if (kind == KIND_NONE)
        return real(path, mode);
    if (!p[0] || (kind != KIND_FILE && access(p, F_OK))) {
        errno = ENOENT;
        return nullptr;
    }
    FILE *f = real(p, mode);
    int saved = errno;
    if (f)
        remember(fileno(f), kind);
    errno = saved;
    return f;
}

EXPORT FILE *fopen(const char *path, const char *mode)
{
    return fopen_routed(real_fopen, path, mode);
}

EXPORT FILE *fopen64(const char *path, const char *mode)
{
    return fopen_routed(real_fopen64, path, mode);
}

// Each read of the buttons adds one to the count in ROOT/gpio-reads, so that
// a test knows when the program has seen a word it set.
static void count_button_read(void)
{
    char path[PATH_MAX];
    int saved = errno;
    if (!emu_root[0] || snprintf(path, sizeof path, "%s%s", emu_root, EMU_GPIO_READS) >= (int)sizeof path)
        return;
    int fd = real_open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        uint8_t b[4] = {0, 0, 0, 0};
        uint32_t n = pread64(fd, b, 4, 0) == 4 ? b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24 : 0;
        n++;
        for (int i = 0; i < 4; i++)
            b[i] = (uint8_t)(n >> 8 * i);
        if (pwrite64(fd, b, 4, 0) != 4) {
            // a lost count only makes a waiting test wait for the next read
        }
        real_close(fd);
    }
    errno = saved;
}

// The button driver answers every read at once with the current word; the
// file is read at its start each time, so it never runs dry. A writer that
// truncates before writing may leave it short for a moment: read again.
static ssize_t read_buttons_word(int fd, void *buf, size_t n)
{
    size_t want = n < 4 ? n : 4;
    ssize_t got = -1;
    for (int tries = 0; tries < 1000; tries++) {
        got = pread64(fd, buf, want, 0);
        if (got < 0 || (size_t)got == want)
            break;
        sched_yield();
    }
    count_button_read();
    return got;
}

EXPORT ssize_t read(int fd, void *buf, size_t n)
{
    if (kind_of(fd) == KIND_GPIO)
        return read_buttons_word(fd, buf, n);
    return real_read(fd, buf, n);
}

EXPORT ssize_t __read_chk(int fd, void *buf, size_t n, size_t buflen)
{
    if (n > buflen)
        abort();
    return read(fd, buf, n);
}

static uint64_t le(const uint8_t *p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

// The framebuffer answers its fixed screen information and nothing else.
static int fb0_ioctl(int fd, unsigned long request, void *arg)
{
    fb0_record rec;
    if (request != FBIOGET_FSCREENINFO) {
        errno = EINVAL;
        return -1;
    }
    if (pread64(fd, &rec, sizeof rec, 0) != (ssize_t)sizeof rec) {
        errno = EIO;
        return -1;
    }
    fb_fix_screeninfo *fix = (fb_fix_screeninfo *)arg;
    memset(fix, 0, sizeof *fix);
    memcpy(fix->id, rec.id, sizeof fix->id);
    fix->smem_start = (unsigned long)le(rec.smem_start, 8);
    fix->smem_len = (uint32_t)le(rec.smem_len, 4);
    fix->line_length = (uint32_t)le(rec.line_length, 4);
    fix->type = FB_TYPE_PACKED_PIXELS;
    fix->visual = FB_VISUAL_TRUECOLOR;
    return 0;
}

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (kind_of(fd) == KIND_FB0)
        return fb0_ioctl(fd, request, arg);
    return real_ioctl(fd, request, arg);
}

// Physical memory ends where the file ends: a mapping past it fails as it
// would on a board without memory there, rather than faulting later.
static void *map_routed(void *addr, size_t len, int prot, int flags, int fd, uint64_t off)
{
    if (kind_of(fd) != KIND_MEM)
        return real_mmap64(addr, len, prot, flags, fd, (off64_t)off);
    struct stat64 st;
    if (fstat64(fd, &st))
        return MAP_FAILED;
    if (off > (uint64_t)st.st_size || len > (uint64_t)st.st_size - off) {
        errno = ENXIO;
        return MAP_FAILED;
    }
    void *map = real_mmap64(addr, len, prot, flags, fd, (off64_t)off);
    if (map != MAP_FAILED)
        trap_window(map, off, len, prot, flags);
    return map;
}

EXPORT void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    // A 32-bit off_t carries physical addresses above 2 GiB as negative.
    uint64_t phys = sizeof off == 4 ? (uint64_t)(uint32_t)off : (uint64_t)off;
    return map_routed(addr, len, prot, flags, fd, phys);
}

EXPORT void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    return map_routed(addr, len, prot, flags, fd, (uint64_t)off);
}

EXPORT int munmap(void *addr, size_t len)
{
    trap_forget(addr, len);
    return real_munmap(addr, len);
}

static int path_call(int (*real)(const char *), const char *path)
{
    char p[PATH_MAX];
    if (route(path, p, sizeof p) == KIND_NONE)
        return real(path);
    if (!p[0]) {
        errno = ENOENT;
        return -1;
    }
    return real(p);
}

EXPORT int remove(const char *path)
{
    return path_call(real_remove, path);
}

EXPORT int unlink(const char *path)
{
    return path_call(real_unlink, path);
}

EXPORT int chdir(const char *path)
{
    return path_call(real_chdir, path);
}

// Raised priority is recorded, not applied: a busy-waiting program at high
// priority would starve everything else on a small machine.
#ifdef __GLIBC__
EXPORT int setpriority(__priority_which_t which, id_t who, int prio)
#else
EXPORT int setpriority(int which, id_t who, int prio)
#endif
{
    char path[PATH_MAX], line[64];
    int saved = errno;
    if (emu_root[0] && (size_t)snprintf(path, sizeof path, "%s%s", emu_root, EMU_PRIORITY_LOG) < sizeof path) {
        int fd = real_open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            int n = snprintf(line, sizeof line, "%d %d %d\n", (int)which, (int)who, prio);
            if (write(fd, line, (size_t)n) != n) {
                // a lost line shows in the log's reader; the call itself succeeds
            }
            real_close(fd);
        }
    }
    errno = saved;
    return 0;
}

EXPORT int close(int fd)
{
    remember(fd, KIND_NONE);
    return real_close(fd);
}
