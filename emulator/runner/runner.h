// What the parts of the runner share: the device it runs, and how it
// reports its own failures.
#pragma once
#include "device_folder.h"
#include "display_model.h"

#include <limits.h>

constexpr int FAILED = 125;     // the runner's own failure, as its exit status

// The emulated device as the runner holds it.
struct emulated_device {
    char root[PATH_MAX];        // its folder, at most PATH_MAX - 64 long
    display_state display;      // the controller's side of the display model
    emu_shared *shared;         // ROOT/shared, mapped, or null
    int mem_fd;                 // ROOT/dev/mem, or -1
};

// out, PATH_MAX long, gets the path of name (EMU_*) in the device's folder.
void device_path(const emulated_device *dev, const char *name, char *out);
// Prints "tavro-emu: WHAT PATH: REASON" with errno's reason; returns -1.
int fail(const char *what, const char *path);
