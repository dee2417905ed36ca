// The button driver and the framebuffer device of the emulated handheld:
// each a state struct and the handlers the shim routes the program's calls
// on /dev/GPIO and /dev/fb0 to.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

struct fb0_record;

// Reads are counted from 1; a span from..to (inclusive, 0 for none) makes
// those reads come back short (2 bytes) or fail with EIO.
struct button_faults {
    uint32_t short_from, short_to, fail_from, fail_to;
};

struct button_state {
    volatile uint32_t *reads;       // reads so far, shared with the tests; or null
    const volatile button_faults *faults;   // or null
};

// A read of the driver: the current raw word, at once, from the start of the
// word file (fd); never more than 4 bytes.
ssize_t button_read(button_state *b, int fd, void *buf, size_t n);

// What the framebuffer driver knows of its screen: layer 1 as it was set up
// at power-on.
struct fb_state {
    char id[16];
    uint64_t smem_start;
    uint32_t smem_len, line_length, xres, yres, bits_per_pixel;
    const volatile uint32_t *palette;   // layer 1's 256 entries 0x00RRGGBB, or null
};

// Fills f from the device's record; -1 when the record is short.
int fb_load(fb_state *f, const fb0_record *rec, size_t size);
// FBIOGET_FSCREENINFO, FBIOGET_VSCREENINFO and FBIOGETCMAP; -1 with errno
// for the rest.
int fb_ioctl(const fb_state *f, unsigned long request, void *arg);
// The part of frame memory that a read of n bytes at offset pos covers:
// its physical address and length (0 at or past the end).
size_t fb_span(const fb_state *f, uint64_t pos, size_t n, uint64_t *phys);
