// Calls of the program that are written down in the device's folder rather
// than carried out as asked: a test reads them without a clock.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "device_folder.h"
#include "shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

// Raised priority is recorded, not applied: a busy-waiting program at high
// priority would starve everything else on a small machine. The runner
// may make the call fail.
#ifdef __GLIBC__
EXPORT int setpriority(__priority_which_t which, id_t who, int prio)
#else
EXPORT int setpriority(int which, id_t who, int prio)
#endif
{
    char line[64];
    snprintf(line, sizeof line, "%d %d %d\n", (int)which, (int)who, prio);
    log_line(EMU_PRIORITY_LOG, line);
    emu_shared *s = shim_shared();
    if (s && s->priority_errno) {
        errno = (int)s->priority_errno;
        return -1;
    }
    return 0;
}

// A delay is written down, then waited out.
EXPORT unsigned sleep(unsigned seconds)
{
    static unsigned (*real_sleep)(unsigned);
    if (!real_sleep)
        real_sleep = (unsigned (*)(unsigned))dlsym(RTLD_NEXT, "sleep");
    char line[16];
    snprintf(line, sizeof line, "%u\n", seconds);
    log_line(EMU_SLEEP_LOG, line);
    return real_sleep ? real_sleep(seconds) : seconds;
}
