#include "isolate.h"
#include "device_folder.h"
#include "runner.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

static int write_text(const char *path, const char *text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    ssize_t n = fd < 0 ? -1 : write(fd, text, strlen(text));
    if (fd >= 0)
        close(fd);
    return n == (ssize_t)strlen(text) ? 0 : fail("cannot write", path);
}

// This user, and no one else, inside the new user namespace.
static int map_user(uid_t uid, gid_t gid)
{
    char line[64];
    snprintf(line, sizeof line, "%u %u 1\n", (unsigned)uid, (unsigned)uid);
    if (write_text("/proc/self/uid_map", line) || write_text("/proc/self/setgroups", "deny"))
        return -1;
    snprintf(line, sizeof line, "%u %u 1\n", (unsigned)gid, (unsigned)gid);
    return write_text("/proc/self/gid_map", line);
}

// An empty file at target with source bound over it.
static int bind_file(const char *source, const char *target)
{
    int fd = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot make", target);
    close(fd);
    return mount(source, target, nullptr, MS_BIND, nullptr) ? fail("cannot bind", target) : 0;
}

int enter_device_namespace(const char *root)
{
    static const char *const devices[] = {EMU_MEM, EMU_GPIO, EMU_FB0};
    // root is at most PATH_MAX - 64 long (checked by the runner).
    char staging[PATH_MAX], source[PATH_MAX + 64], target[PATH_MAX + 64];
    snprintf(source, sizeof source, "%s%s", root, EMU_UNTRAPPED_MARK);
    int fd = open(source, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail("cannot make", source);
    close(fd);

    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS))
        return fail("cannot enter a private namespace", "");
    if (map_user(uid, gid))
        return -1;
    // Nothing mounted here may show outside.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return fail("cannot make private", "/");

    // The new /dev is put together aside, while this machine's /dev/null
    // can still be reached, then bound over /dev.
    snprintf(staging, sizeof staging, "%s/namespace-dev", root);
    if ((mkdir(staging, 0755) && errno != EEXIST) || mount("tmpfs", staging, "tmpfs", 0, "mode=755"))
        return fail("cannot make", staging);
    snprintf(target, sizeof target, "%s/null", staging);
    if (bind_file("/dev/null", target))
        return -1;
    for (const char *device : devices) {
        snprintf(source, sizeof source, "%s%s", root, device);
        snprintf(target, sizeof target, "%s/%s", staging, strrchr(device, '/') + 1);
        if (access(source, F_OK) == 0 && bind_file(source, target))
            return -1;
    }
    // /tmp stays this machine's: the command itself may live there.
    if (mount(staging, "/dev", nullptr, MS_BIND | MS_REC, nullptr))
        return fail("cannot bind", "/dev");
    return 0;
}
