// tavro-emu: builds an emulated device in a folder, runs a command on it
// with the preload shim, and drives the display controller and the buttons
// while the command runs. Folder layout in device_folder.h and in --help.
#include "runner.h"
#include "window.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

static emulated_device device = {"", {}, nullptr, -1};

int fail(const char *what, const char *path)
{
    fprintf(stderr, "tavro-emu: %s %s: %s\n", what, path, strerror(errno));
    return -1;
}

// The root is short enough for every name in it (checked in main).
void device_path(const emulated_device *dev, const char *name, char *out)
{
    if ((size_t)snprintf(out, PATH_MAX, "%s%s", dev->root, name) >= PATH_MAX)
        out[0] = 0;
}

// The device's folder: --dir, made if need be, or a fresh one.
static int make_root(const runner_config *cfg, char *root)
{
    if (!cfg->dir) {
        const char *tmp = getenv("TMPDIR");
        snprintf(root, PATH_MAX, "%s/tavro-emu.XXXXXX", tmp && *tmp == '/' ? tmp : "/tmp");
        if (!mkdtemp(root))
            return fail("cannot make", root);
    } else if (mkdir(cfg->dir, 0755) && errno != EEXIST) {
        return fail("cannot make", cfg->dir);
    } else if (!realpath(cfg->dir, root)) {
        return fail("cannot find", cfg->dir);
    }
    return 0;
}

// Room for every name the device's folder holds.
static bool root_fits(const char *root)
{
    if (strlen(root) <= PATH_MAX - 64)
        return true;
    fprintf(stderr, "tavro-emu: folder name too long: %s\n", root);
    return false;
}

// The device runs in the runner that made it: only the command starts.
static int run_attached(const runner_config *cfg)
{
    pid_t child = start_command(&device, cfg);
    int st = 0;
    if (child > 0 && waitpid(child, &st, 0) == child)
        return exit_status_of(st);
    return FAILED;
}

static int run(const runner_config *cfg)
{
    if (build_device(&device, cfg))
        return FAILED;
    catch_signals();
    if (cfg->wait_all)
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t child = start_command(&device, cfg);
    if (child < 0)
        return FAILED;
    bool screenshot_failed = false;
    int status = run_device(&device, cfg, child, &screenshot_failed);
    return screenshot_failed ? FAILED : status;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

int main(int argc, char **argv)
{
    runner_config cfg;
    int r = parse_options(argc, argv, &cfg);
    if (r)
        return r > 0 ? 0 : FAILED;
    if (cfg.window && window_open(cfg.scale, cfg.display.width[0], cfg.display.height[0]))
        return FAILED;
    if (make_root(&cfg, device.root))
        return FAILED;
    if (cfg.attach)
        return root_fits(device.root) ? run_attached(&cfg) : FAILED;
    int status = root_fits(device.root) ? run(&cfg) : FAILED;
    if (cfg.window)
        window_close();
    release_device(&device);
    if (!cfg.dir)
        nftw(device.root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    return status;
}
