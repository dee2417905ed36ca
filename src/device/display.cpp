#include "device/display.h"
#include "device/register_window.h"
#include "device/registers.h"

int format_bpp(uint32_t code)
{
    switch (code) {
    case FORMAT_8BPP: return 8;
    case FORMAT_16BPP: return 16;
    case FORMAT_24BPP: return 24;
    default: return 0;
    }
}

// A short pause between two polls of the status register; volatile so
// that the compiler keeps every step.
static void sync_spin()
{
    for (volatile int i = 0; i <= 999; i = i + 1) {
    }
}

void wait_display_sync()
{
    while (!(reg_read(DISPLAY_STATUS) & SYNC_PENDING))
        sync_spin();
    // The flag clears on a write of 1; the other bits go back as read.
    reg_write(DISPLAY_STATUS, reg_read(DISPLAY_STATUS) | SYNC_PENDING);
}

void set_layer_format(uint32_t group, uint32_t code)
{
    uint32_t control = reg_read(group + LAYER_CONTROL) & LAYER_KEEP_MASK;
    reg_write(group + LAYER_CONTROL, control | code << LAYER_FORMAT_SHIFT | LAYER_APPLY);
}
