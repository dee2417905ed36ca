// Stand-ins linked into the unit tests: the register window, and the
// system calls that would wait or flush the machine's disks.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

// The registers. The display controller raises SYNC_PENDING in its status
// register, a write-1-to-clear flag, at every third read of it.
extern std::map<uint32_t, uint32_t> register_file;
extern int status_reads;  // reads of the status register so far

extern std::vector<unsigned> pauses;  // pauses asked for in microseconds, none waited out
extern int syncs;                     // calls of sync(), none made
