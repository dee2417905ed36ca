#include "fake_registers.h"
#include "device/register_window.h"

#include <gtest/gtest.h>

std::map<uint32_t, uint32_t> register_file;
size_t status_reads;

static constexpr uint32_t STATUS = 0x308C;
static constexpr uint32_t PENDING = 0x400;
static std::vector<bool> sync_script;

void fake_registers_reset(std::vector<bool> sync_events)
{
    register_file.clear();
    sync_script = std::move(sync_events);
    status_reads = 0;
}

// Nothing is mapped: the register file is all there is.
void release_register_window()
{
}

uint32_t reg_read(uint32_t offset)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register read";
    if (offset == STATUS) {
        if (status_reads < sync_script.size() && sync_script[status_reads])
            register_file[STATUS] |= PENDING;
        // A wait that outlasts its script would never end: fail and let it go.
        if (++status_reads > sync_script.size() + 100000) {
            ADD_FAILURE() << "waiting for a sync that never comes";
            register_file[STATUS] |= PENDING;
        }
    }
    return register_file[offset];
}

void reg_write(uint32_t offset, uint32_t value)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register write";
    if (offset == STATUS)  // write 1 to clear
        register_file[STATUS] = (value & ~PENDING) | (register_file[STATUS] & ~value & PENDING);
    else
        register_file[offset] = value;
}
