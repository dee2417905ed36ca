// Shared between the two halves of the preload shim: the routing of calls
// (shim.cpp) and the catching of register stores (shim_trap.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

extern char emu_root[];                    // TAVRO_EMU_ROOT, "" when unset
extern int (*real_open)(const char *, int, ...);

// A mapping of /dev/mem was made at map for physical address phys.
void trap_window(void *map, uint64_t phys, size_t len, int prot, int flags);
// The program is about to unmap addr..addr+len.
void trap_forget(void *addr, size_t len);
