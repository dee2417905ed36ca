// The parts of the runner, one file each, and what they share: the device
// it runs, and how it reports its own failures.
#pragma once
#include "device_folder.h"
#include "display_model.h"
#include "options.h"

#include <limits.h>
#include <sys/types.h>

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

// build_device.cpp: the device's folder, built before the command starts.

// Builds the device in dev->root, which exists: its folders, physical
// memory with the register window and the layers' pictures, the button
// word, the framebuffer's record, the shared state, the stand-in launcher;
// the logs emptied. Returns 0, or -1 after printing why.
int build_device(emulated_device *dev, const runner_config *cfg);
// Unmaps and closes what build_device left open.
void release_device(emulated_device *dev);
// Writes the raw button word the driver hands out next.
void set_button_word(const emulated_device *dev, uint32_t word);
// A file of the build beside the runner, else where the build put it.
const char *beside_runner(const char *name, const char *built, char *out);

// command.cpp: the command the runner runs on the device.

// Forks the command with the device's folder in its environment and the
// shim preloaded (or bound into a namespace, per cfg). Returns its pid, or
// -1 after printing why.
pid_t start_command(const emulated_device *dev, const runner_config *cfg);
// A wait status as the runner's exit status: 128+N for a signal N.
int exit_status_of(int wait_status);

// clock.cpp: one tick per sync while the command runs.

// TERM, INT and HUP from now on are the clock's to pass on to the command.
void catch_signals(void);
// Ticks until the command (with --wait-all, every process it started) has
// ended: at each sync the flag is raised and applied layer settings are
// latched, the pictures move, the window is drawn; the buttons follow their
// timeline and the keys. Returns the command's exit status (128+N for a
// signal N); with --wait-all, a signal N that comes once the command has
// ended kills what it left behind and gives 128+N. Takes the end
// screenshot; *screenshot_failed tells whether it could not be written.
int run_device(emulated_device *dev, const runner_config *cfg, pid_t child, bool *screenshot_failed);

// screenshot.cpp: a picture of what the primary screen shows.

// Writes what the primary screen shows now as a PNG file: layers latched as
// at a sync. Returns 0, or -1 after printing why.
int save_screenshot(display_state *d, const char *file);
