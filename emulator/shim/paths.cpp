// What a path or a descriptor is, for the preload shim: a path is walked
// the way the kernel walks it (links, "..", the folder of openat, the
// magic links of /proc/self/fd), with the emulated device's files
// standing in for their names on the way; a descriptor keeps the kind it
// was opened as only while it is still the same file.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "device_folder.h"
#include "shim.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

// Names that lead into the emulated device, and what they lead to.
static const struct {
    const char *name;
    int kind;
} routes[] = {
    {EMU_MEM, KIND_MEM}, {EMU_GPIO, KIND_GPIO}, {EMU_FB0, KIND_FB0},
    {EMU_PID_FILE, KIND_FILE}, {EMU_LAUNCHER_DIR, KIND_FILE},
};

// Host device nodes that give access to memory, I/O ports, a framebuffer
// or a GPU, or buttons: names that begin so are refused wherever a walk
// ends on them.
static const char *const host_devices[] = {"/dev/mem", "/dev/kmem", "/dev/port", "/dev/fb",
                                           "/dev/GPIO", "/dev/gpio", "/dev/dri/"};

static bool starts_with(const char *s, const char *prefix)
{
    return !strncmp(s, prefix, strlen(prefix));
}

static bool is_host_device_name(const char *p)
{
    for (const char *d : host_devices)
        if (starts_with(p, d))
            return true;
    return false;
}

bool is_host_device(const struct stat64 *st)
{
    if (S_ISBLK(st->st_mode))
        return true;
    if (!S_ISCHR(st->st_mode))
        return false;
    unsigned maj = major(st->st_rdev), min = minor(st->st_rdev);
    return (maj == 1 && (min == 1 || min == 2 || min == 4)) || maj == 29;
}

// The folder a walk starts from: "" for an absolute path, else the working
// folder or the one dir stands for.
static bool start_of(int dir, const char *path, char *out)
{
    out[0] = 0;
    if (path[0] == '/')
        return true;
    if (dir == AT_FDCWD) {
        if (!getcwd(out, PATH_MAX))
            return false;
        if (!strcmp(out, "/"))
            out[0] = 0;
        return true;
    }
    char link[32];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
    ssize_t n = readlink(link, out, PATH_MAX - 1);
    if (n <= 0 || out[0] != '/')
        return false;
    out[n] = 0;
    if (!strcmp(out, "/"))
        out[0] = 0;
    return true;
}

static void drop_last(char *p)
{
    char *slash = strrchr(p, '/');
    if (slash)
        *slash = 0;
}

// The route a walked prefix takes into the emulated device, or -1.
static int route_of(const char *p)
{
    for (int i = 0; i < (int)(sizeof routes / sizeof routes[0]); i++)
        if (!strcmp(p, routes[i].name))
            return i;
    return -1;
}

// The kind of a walked, absolute path.
static int path_kind(const char *p)
{
    if (in_root(p)) {
        size_t n = strlen(emu_root);
        int r = route_of(p + n);
        if (r >= 0)
            return routes[r].kind;
        if (starts_with(p + n, EMU_LAUNCHER_DIR "/"))
            return KIND_FILE;
    }
    return is_host_device_name(p) ? KIND_REFUSED : KIND_NONE;
}

// Where a walk gives up: the caller uses the path as given.
static int given_up(char *out)
{
    out[0] = 0;
    return KIND_NONE;
}

int walk_path(int dir, const char *path, char *out, char *named)
{
    bool have_name = false;
    named[0] = 0;
    char rest[2 * PATH_MAX], target[PATH_MAX];
    int links = 0;
    if (!path || !start_of(dir, path, out) || strlen(path) >= PATH_MAX)
        return given_up(out);
    strcpy(rest, path);
    char *next = rest;
    while (*next) {
        char *name = next;
        while (*name == '/')
            name++;
        char *end = strchrnul(name, '/');
        next = end;
        size_t len = (size_t)(end - name);
        if (len == 0 || (len == 1 && name[0] == '.'))
            continue;
        if (len == 2 && name[0] == '.' && name[1] == '.') {
            drop_last(out);
            continue;
        }
        size_t have = strlen(out);
        if (have + 1 + len >= PATH_MAX)
            return given_up(out);
        out[have] = '/';
        memcpy(out + have + 1, name, len);
        out[have + 1 + len] = 0;
        int r = route_of(out);
        if (r >= 0) {
            // The device's own file, inside its folder: no host file of
            // this name is ever looked at.
            if (!emu_root[0] || strlen(emu_root) + strlen(out) >= PATH_MAX)
                return KIND_MISSING;
            memmove(out + strlen(emu_root), out, strlen(out) + 1);
            memcpy(out, emu_root, strlen(emu_root));
        }
        if (!have_name && !next[strspn(next, "/")]) {
            strcpy(named, out);   // the last name as spelled, its link not yet followed
            have_name = true;
        }
        struct stat64 st;
        if (real_lstat64(out, &st) || !S_ISLNK(st.st_mode))
            continue;
        ssize_t n = readlink(out, target, sizeof target - 1);
        if (n <= 0 || ++links > 40)
            return given_up(out);
        target[n] = 0;
        // A link of /proc/self/fd to a pipe or socket names no path.
        if (target[0] != '/' && strchr(target, ':'))
            return given_up(out);
        size_t tl = strlen(target), nl = strlen(next);
        if (tl + 1 + nl >= sizeof rest)
            return given_up(out);
        memmove(rest + tl + 1, next, nl + 1);   // the rest of the walk follows the link
        // NOLINTNEXTLINE(bugprone-not-null-terminated-result): '/' and the rest follow
        memcpy(rest, target, tl);
        rest[tl] = '/';
        next = rest;
        if (target[0] == '/')
            out[0] = 0;
        else
            drop_last(out);
    }
    if (!out[0])
        strcpy(out, "/");
    return path_kind(out);
}

bool may_end_on_route(const char *path)
{
    const char *last = strrchr(path, '/');
    last = last ? last + 1 : path;
    if (!*last || !strcmp(last, ".") || !strcmp(last, ".."))
        return true;
    for (const auto &route : routes)
        if (!strcmp(last, strrchr(route.name, '/') + 1))
            return true;
    return false;
}

bool in_root(const char *p)
{
    size_t n = strlen(emu_root);
    return n && !strncmp(p, emu_root, n) && p[n] == '/';
}

// Each descriptor of a device file, with the file it was opened on.
static struct {
    unsigned char kind;
    dev_t dev;
    ino64_t ino;
} fds[1024];

void fd_remember(int fd, int kind)
{
    errno_guard keep;
    struct stat64 st;
    if (fd < 0 || fd >= (int)(sizeof fds / sizeof fds[0]))
        return;
    fds[fd].kind = KIND_NONE;
    if (kind == KIND_NONE || kind == KIND_FILE || fstat64(fd, &st))
        return;
    fds[fd].kind = (unsigned char)kind;
    fds[fd].dev = st.st_dev;
    fds[fd].ino = st.st_ino;
}

void fd_copy(int from, int to)
{
    if (from == to || to < 0 || to >= (int)(sizeof fds / sizeof fds[0]))
        return;
    fds[to].kind = KIND_NONE;
    if (fd_kind(from) != KIND_NONE)
        fds[to] = fds[from];
}

void fd_forget(int from, int to)
{
    for (int fd = from < 0 ? 0 : from; fd <= to && fd < (int)(sizeof fds / sizeof fds[0]); fd++)
        fds[fd].kind = KIND_NONE;
}

// A descriptor closed or replaced where the shim could not see it (a
// system call made directly) is no longer the file it was opened on.
int fd_kind(int fd)
{
    struct stat64 st;
    if (fd < 0 || fd >= (int)(sizeof fds / sizeof fds[0]) || fds[fd].kind == KIND_NONE)
        return KIND_NONE;
    errno_guard keep;
    if (fstat64(fd, &st) || st.st_dev != fds[fd].dev || st.st_ino != fds[fd].ino)
        fds[fd].kind = KIND_NONE;
    return fds[fd].kind;
}
