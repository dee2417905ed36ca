// The emulated device's folder, built by the runner before the command
// starts (layout in device_folder.h).
#pragma once
#include "options.h"
#include "runner.h"

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
