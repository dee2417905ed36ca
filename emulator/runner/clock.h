// The emulated device's clock: one tick per sync while the command runs.
#pragma once
#include "options.h"
#include "runner.h"

#include <sys/types.h>

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
