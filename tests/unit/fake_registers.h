// A stand-in for the register window, linked into the unit tests in place
// of the real one: a register file whose display status register has a
// write-1-to-clear sync flag.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

extern std::map<uint32_t, uint32_t> register_file;
extern size_t status_reads;  // reads of the display status register since the last reset

// Forgets every value. The script says whether the controller raises
// SYNC_PENDING just before each coming read of the status register; after
// it no further event comes.
void fake_registers_reset(std::vector<bool> sync_events = {});
