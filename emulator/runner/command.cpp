#include "runner.h"
#include "isolate.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static const char *find_shim(const runner_config *cfg, char *out)
{
    if (cfg->shim)
        return realpath(cfg->shim, out);
    return beside_runner("libemudevice.so", EMU_SHIM_PATH, out);
}

// In the forked child: the command replaces it.
[[noreturn]] static void run_command(const emulated_device *dev, const runner_config *cfg, const char *shim)
{
    // The window's close ends the services the command leaves behind too.
    if (cfg->window)
        setpgid(0, 0);
    setenv(EMU_ROOT_VARIABLE, dev->root, 1);
    setenv("TAVRO_EMU_SHIM", shim, 1);
    if (cfg->preload) {
        const char *old = getenv("LD_PRELOAD");
        char preload[2 * PATH_MAX];
        snprintf(preload, sizeof preload, "%s%s%s", shim, old && *old ? ":" : "", old && *old ? old : "");
        setenv("LD_PRELOAD", preload, 1);
    }
    if (cfg->bind_devices && enter_device_namespace(dev->root))
        _exit(FAILED);
    execvp(cfg->command[0], cfg->command);
    fprintf(stderr, "tavro-emu: cannot run %s: %s\n", cfg->command[0], strerror(errno));
    _exit(errno == ENOENT ? 127 : 126);
}

pid_t start_command(const emulated_device *dev, const runner_config *cfg)
{
    char shim[PATH_MAX];
    if (!find_shim(cfg, shim)) {
        fprintf(stderr, "tavro-emu: cannot find the preload library\n");
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0)
        run_command(dev, cfg, shim);
    if (pid < 0)
        return fail("cannot fork", "");
    // Set on both sides, so that the group exists whichever runs first.
    if (cfg->window)
        setpgid(pid, pid);
    return pid;
}

int exit_status_of(int wait_status)
{
    return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
}
