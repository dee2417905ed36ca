// Device descriptors, open for the whole run: opened by main, closed by
// release_devices (control/shutdown.cpp, where they are defined).
#pragma once

extern int mem_fd;   // /dev/mem, read-write; -1 while not open
extern int gpio_fd;  // /dev/GPIO, read-only; -1 while not open
