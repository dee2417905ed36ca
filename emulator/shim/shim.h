// Shared between the parts of the preload shim: the wrappers of opens and
// descriptors (opens.cpp), what paths and descriptors are (paths.cpp), the
// calls handed to the device models (device_calls.cpp), the catching of
// register stores (stores.cpp) and the calls only written down
// (logged_calls.cpp).
#pragma once
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

// What a path leads to, or a descriptor was opened on.
enum {
    KIND_NONE,      // anything else: passed through
    KIND_MEM,       // the emulated device's files
    KIND_GPIO,
    KIND_FB0,
    KIND_FILE,      // the pid file and the launcher's folder, in the device's folder
    KIND_MISSING,   // a device file with no emulated device to route it to
    KIND_REFUSED,   // one of this machine's own device nodes
};

extern char emu_root[];                    // TAVRO_EMU_ROOT, "" when unset
extern int (*real_open)(const char *, int, ...);
extern int (*real_close)(int);
extern int (*real_lstat64)(const char *, struct stat64 *);

// Puts errno back as it was when the guard goes out of scope: the shim's
// own bookkeeping must not change what the program sees of its calls.
struct errno_guard {
    int saved = errno;
    ~errno_guard() { errno = saved; }
};

// Resolves the calls of the next library; safe to call again and early.
void shim_init(void);
// Opens a file of the device's folder, close-on-exec; -1 without one.
int open_in_root(const char *name, int flags);
// Appends line to a log of the device's folder; errno is kept. A lost line
// shows in the log's reader.
void log_line(const char *log, const char *line);
// ROOT/shared, mapped once; null without it. errno is kept.
struct emu_shared *shim_shared(void);

// Walks path from dir (AT_FDCWD or a descriptor of a folder) into out, a
// buffer of PATH_MAX, and returns the kind of what it ends on; named gets
// the path as the kernel is to see it, the last name's link not followed.
// For KIND_NONE out is "" where the walk gave up, and named is "" or not
// in the device's folder: the caller then uses the path as given.
int walk_path(int dir, const char *path, char *out, char *named);
// Whether path, its last link not followed, may end on a routed name: it
// ends in a route's last name, or in a dot.
bool may_end_on_route(const char *path);
// Whether a walked name lies in the device's folder.
bool in_root(const char *named);
// A character or block device of this machine that the program may not open.
bool is_host_device(const struct stat64 *st);

// The descriptor table; none of these changes errno.
void fd_remember(int fd, int kind);
void fd_copy(int from, int to);
void fd_forget(int from, int to);
int fd_kind(int fd);

// A mapping of /dev/mem was made at map for physical address phys; errno
// is kept.
void trap_window(void *map, uint64_t phys, size_t len, int prot, int flags);
// The program is about to unmap addr..addr+len.
void trap_forget(void *addr, size_t len);
