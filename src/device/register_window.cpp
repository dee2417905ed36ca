#include "device/register_window.h"
#include "device/devices.h"
#include "device/registers.h"

#include <sys/mman.h>

// The mapped register block; null until map_register_window succeeds.
static volatile uint32_t *memregs = nullptr;

int map_register_window()
{
    void *p = mmap(nullptr, REGISTER_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd,
                   REGISTER_WINDOW_BASE);
    if (p == MAP_FAILED)
        return -1;
    memregs = static_cast<volatile uint32_t *>(p);
    return 0;
}

void release_register_window()
{
    if (!memregs)
        return;
    munmap(const_cast<uint32_t *>(memregs), REGISTER_WINDOW_SIZE); // nothing to do if it fails
    memregs = nullptr;
}

uint32_t reg_read(uint32_t offset)
{
    return memregs[offset / 4];
}

void reg_write(uint32_t offset, uint32_t value)
{
    memregs[offset / 4] = value;
}
