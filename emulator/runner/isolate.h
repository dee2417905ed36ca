// Running a program on the emulated device without the preload library:
// for a static program, which no library can be preloaded into.
#pragma once

// In the forked child, before exec: moves into a private user and mount
// namespace where /dev is a fresh tmpfs holding only null and the device's
// files from ROOT/dev. Nothing else of this machine's /dev can be reached (no
// /dev/mem, and no capability to open one). Leaves
// ROOT/sync-untrapped behind, since no library sees the program's stores.
// Returns 0, or -1 after printing why.
int enter_device_namespace(const char *root);
