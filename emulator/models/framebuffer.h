// The framebuffer device of the emulated handheld: the shim routes the
// program's queries, reads and mappings of /dev/fb0 here.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Contents of ROOT/dev/fb0, little-endian with no padding, the same on every
// architecture (the shim may be an ARM build, the runner a host one).
struct fb0_record {
    char id[16];
    uint8_t smem_start[8];
    uint8_t smem_len[4];
    uint8_t line_length[4];
    uint8_t xres[4];
    uint8_t yres[4];
    uint8_t bits_per_pixel[4];
};

// What the framebuffer driver knows of its screen: layer 1 as it was set up
// at power-on.
struct fb_state {
    char id[16];
    uint64_t smem_start;
    uint32_t smem_len, line_length, xres, yres, bits_per_pixel;
};

// Fills f from the device's record; -1 when the record is short.
int fb_load(fb_state *f, const fb0_record *rec, size_t size);
// FBIOGET_FSCREENINFO and FBIOGET_VSCREENINFO; -1 with errno for the rest.
int fb_ioctl(const fb_state *f, unsigned long request, void *arg);
// The part of frame memory that a read of n bytes at offset pos covers:
// its physical address and length (0 at or past the end).
size_t fb_span(const fb_state *f, uint64_t pos, size_t n, uint64_t *phys);
