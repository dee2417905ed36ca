#include "capture/grab.h"
#include "capture/buffers.h"
#include "capture/convert.h"
#include "device/devices.h"
#include "device/display.h"
#include "device/register_window.h"
#include "device/registers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/resource.h>

uint8_t *raw_buffer = nullptr;
int32_t raw_capacity = 0;
int32_t raw_length = 0;
uint8_t **row_table = nullptr;
int32_t row_slots = 0;
int32_t row_width = 0;
uint32_t palette[256];

static void *grow(void *p, size_t bytes)
{
    p = realloc(p, bytes);
    if (!p) {
        fputs("tavro: OOM!\n", stderr);
        exit(1);
    }
    return p;
}

static void grow_buffers(int32_t size, int32_t width, int32_t height)
{
    if (size > raw_capacity) {
        raw_buffer = static_cast<uint8_t *>(grow(raw_buffer, size));
        raw_capacity = size;
    }
    if (height > row_slots) {
        row_table = static_cast<uint8_t **>(grow(row_table, height * sizeof *row_table));
        for (int32_t i = row_slots; i < height; i++)
            row_table[i] = nullptr;
        row_slots = height;
    } else if (width <= row_width) {
        return;
    }
    // Every row gets the new width, also those beyond this height.
    for (int32_t i = 0; i < row_slots; i++)
        row_table[i] = static_cast<uint8_t *>(grow(row_table[i], width * 3));
    row_width = width;
}

// The last enabled layer in this order is the one on top; primary layer 0
// is taken when no other is enabled, whatever its own enable bit says.
static uint32_t visible_layer()
{
    // Its value is dropped on purpose (primary layer 0 is the fallback
    // whatever its bit says); the read stays, so that all four are read in turn.
    reg_read(PRIMARY_LAYER0 + LAYER_CONTROL);
    bool secondary0 = reg_read(SECONDARY_LAYER0 + LAYER_CONTROL) & LAYER_ENABLE;
    bool primary1 = reg_read(PRIMARY_LAYER1 + LAYER_CONTROL) & LAYER_ENABLE;
    bool secondary1 = reg_read(SECONDARY_LAYER1 + LAYER_CONTROL) & LAYER_ENABLE;
    uint32_t group = PRIMARY_LAYER0;
    if (secondary0)
        group = SECONDARY_LAYER0;
    if (primary1)
        group = PRIMARY_LAYER1;
    if (secondary1)
        group = SECONDARY_LAYER1;
    return group;
}

// Frame memory is read in 16-byte bursts: a block of four words, which the
// compiler moves with one load-multiple and one store-multiple. A frame at
// an address that is no multiple of 4 goes block by block through memcpy.
struct Block {
    uint32_t word[4];
};

static void copy_frame(const uint8_t *frame, int32_t size)
{
    int32_t blocks = size / 16;
    if (reinterpret_cast<uintptr_t>(frame) % alignof(Block) == 0) {
        const Block *from = reinterpret_cast<const Block *>(frame);
        Block *to = reinterpret_cast<Block *>(raw_buffer);
        for (int32_t i = 0; i < blocks; i++)
            to[i] = from[i];
    } else {
        for (int32_t i = 0; i < blocks; i++)
            memcpy(raw_buffer + i * 16, frame + i * 16, 16);
    }
    memcpy(raw_buffer + blocks * 16, frame + blocks * 16, size % 16);
}

bool decode_geometry(uint32_t hstride, uint32_t vstride, uint32_t screen_size, FrameGeometry *g)
{
    g->width = int32_t(screen_size & SCREEN_WIDTH_MASK) + 1;
    g->height = int32_t(screen_size >> SCREEN_HEIGHT_SHIFT & SCREEN_HEIGHT_MASK) + 1;
    g->bpp = int64_t(hstride) * 8;
    // In 64 bits nothing here can overflow; whatever does not fit the
    // 32-bit geometry, or could be no real frame, is refused.
    int64_t pixels = g->bpp > 0 ? int64_t(vstride) * 8 / g->bpp : 0;
    g->size = pixels * g->height * g->bpp / 8;
    g->stride = pixels <= INT32_MAX ? int32_t(pixels) : 0;
    return g->bpp > 0 && g->bpp <= INT32_MAX && pixels > 0 && pixels <= INT32_MAX &&
           g->size > 0 && g->size <= MAX_FRAME_BYTES;
}

// Nice value -10 for the copy, so that little else runs between its bursts;
// its result is reported, but a refusal does not stop the shot.
static void raise_priority()
{
    int nice_result = setpriority(PRIO_PROCESS, 0, -10);
    if (nice_result != 0)
        fprintf(stderr, "tavro: setpriority failed: %i\n", nice_result);
}

// Back to 0 after a grab that copied nothing. Unchecked: a failure leaves
// only the raised priority, which the next grab sets again anyway.
static void drop_priority()
{
    setpriority(PRIO_PROCESS, 0, 0);
}

int32_t grab_screen(int32_t *width, int32_t *height, int32_t *stride)
{
    raise_priority();
    uint32_t group = visible_layer();
    uint32_t address = reg_read(group + LAYER_ADDRESS);
    uint32_t code = reg_read(group + LAYER_CONTROL) >> LAYER_FORMAT_SHIFT;
    int expected = format_bpp(code);
    if (!expected)
        fprintf(stderr, "tavro: unhandled format: %04x\n", code);
    uint32_t hstride = reg_read(group + LAYER_HSTRIDE);
    if (expected != int64_t(hstride) * 8)
        fprintf(stderr, "tavro: bpp and hstride mismatch: %d %lld\n", expected,
                static_cast<long long>(hstride) * 8);
    uint32_t vstride = reg_read(group + LAYER_VSTRIDE);
    FrameGeometry g;
    bool usable = decode_geometry(hstride, vstride, reg_read(screen_size_of(group)), &g);
    *width = g.width;
    *height = g.height;
    *stride = g.stride;
    if (!usable) {
        fprintf(stderr, "tavro: unusable layer: hstride=%u, vstride=%u, %ix%i\n", hstride, vstride,
                g.width, g.height);
        drop_priority();
        return -1;
    }
    int32_t bpp = int32_t(g.bpp);
    int32_t size = int32_t(g.size);
    // A depth the conversion refuses is not worth a copy: it says so itself.
    if (!depth_known(bpp)) {
        drop_priority();
        return bpp;
    }
    grow_buffers(size, g.width, g.height);

    printf("tavro: about to dump %08x, %ix%i@%i, stride=%i, size=%i\n", address, g.width,
           g.height, bpp, g.stride, size);
    uint32_t page_offset = address & 0xFFF;
    size_t length = size_t(size) + page_offset;
    void *frame = mmap(nullptr, length, PROT_READ, MAP_SHARED, mem_fd, off_t(address - page_offset));
    if (frame == MAP_FAILED) {
        perror("tavro: mmap failed");
        drop_priority();
        return -1;
    }
    if (reg_read(group + LAYER_ADDRESS) != address)
        puts("tavro: addr changed!");
    copy_frame(static_cast<const uint8_t *>(frame) + page_offset, size);
    raw_length = size;
    if (bpp < 16) {
        // The palette register cannot be read back: indexed layers come out grey.
        fputs("tavro: can't dump palette for 8bpp image on POLLUX :(\n", stderr);
        for (uint32_t i = 0; i < 256; i++)
            palette[i] = i | i << 8 | i << 16;
    }
    munmap(frame, length); // a failure leaves only an unused mapping behind
    // Not back to 0 but just above it: a service that shots keeps a small
    // lead over the program on screen. Unchecked, as in drop_priority.
    setpriority(PRIO_PROCESS, 0, -1);
    return bpp;
}
