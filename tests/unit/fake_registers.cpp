#include "fake_registers.h"
#include "device/register_window.h"

#include <gtest/gtest.h>

std::vector<RegisterAccess> register_log;
std::map<uint32_t, uint32_t> register_file;

static constexpr uint32_t STATUS = 0x308C;
static constexpr uint32_t PENDING = 0x400;
static std::vector<bool> sync_events;
static size_t status_reads;

void fake_registers_reset()
{
    register_log.clear();
    register_file.clear();
    sync_events.clear();
    status_reads = 0;
}

void fake_sync_script(std::vector<bool> events)
{
    sync_events = std::move(events);
    status_reads = 0;
}

int fake_reads_of(uint32_t offset)
{
    int n = 0;
    for (const RegisterAccess &a : register_log)
        n += !a.write && a.offset == offset;
    return n;
}

int map_register_window()
{
    return 0;
}

void release_register_window()
{
}

uint32_t reg_read(uint32_t offset)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register read";
    if (offset == STATUS) {
        if (status_reads < sync_events.size() && sync_events[status_reads])
            register_file[STATUS] |= PENDING;
        // A wait that outlasts its script would never end: fail and let it go.
        if (++status_reads > sync_events.size() + 100000) {
            ADD_FAILURE() << "waiting for a sync that never comes";
            register_file[STATUS] |= PENDING;
        }
    }
    uint32_t value = register_file[offset];
    register_log.push_back({false, offset, value});
    return value;
}

void reg_write(uint32_t offset, uint32_t value)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register write";
    register_log.push_back({true, offset, value});
    if (offset == STATUS)  // write 1 to clear
        register_file[STATUS] = (value & ~PENDING) | (register_file[STATUS] & ~value & PENDING);
    else
        register_file[offset] = value;
}
