// A recording stand-in for the register window, linked into the unit tests
// in place of the real one.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

struct RegisterAccess {
    bool write;
    uint32_t offset;
    uint32_t value;
};

extern std::vector<RegisterAccess> register_log;
extern std::map<uint32_t, uint32_t> register_file;

// Forgets every value and access; no sync events are scripted.
void fake_registers_reset();

// Whether the controller raises SYNC_PENDING just before each coming read
// of the status register; after the script no further event comes.
void fake_sync_script(std::vector<bool> events);

int fake_reads_of(uint32_t offset);
