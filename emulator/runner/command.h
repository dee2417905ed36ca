// The command the runner runs on the device.
#pragma once
#include "options.h"
#include "runner.h"

#include <sys/types.h>

// Forks the command with the device's folder in its environment and the
// shim preloaded (or bound into a namespace, per cfg). Returns its pid, or
// -1 after printing why.
pid_t start_command(const emulated_device *dev, const runner_config *cfg);
// A wait status as the runner's exit status: 128+N for a signal N.
int exit_status_of(int wait_status);
