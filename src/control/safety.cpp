#include "control/safety.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

void refuse_outside_device()
{
#ifndef TAVRO_DEVICE_RELEASE
    // The emulated device announces itself with this symbol.
    if (dlsym(RTLD_DEFAULT, "emulated_device_present"))
        return;
    fputs("tavro: this build runs only on the device or its emulated device\n", stderr);
    exit(1);
#endif
}
