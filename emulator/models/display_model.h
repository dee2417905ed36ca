// The display controller: its register window over emulated physical
// memory, the four layers it scans out, their pixel formats and its sync.
#pragma once
#include <stdint.h>

constexpr uint64_t REGS_PHYS = 0xC0000000;   // register window, physical
constexpr uint32_t REGS_SIZE = 0x10000;

constexpr uint32_t DC_STATUS = 0x308C;        // controller status
constexpr uint32_t DC_STATUS_SYNC = 0x400;    // set at each sync, write 1 to clear
constexpr uint32_t DC_BLOCK_PRIMARY = 0x4000;
constexpr uint32_t DC_BLOCK_SECONDARY = 0x4400;
constexpr uint32_t DC_SCREEN_SIZE = 0x04;     // in a block: width-1 bits 0-11, height-1 bits 16-27

// Within a layer group.
constexpr uint32_t DC_CONTROL = 0x18;
constexpr uint32_t DC_HSTRIDE = 0x1C;         // bytes from one pixel to the next
constexpr uint32_t DC_VSTRIDE = 0x20;         // bytes from one line to the next
constexpr uint32_t DC_ADDRESS = 0x2C;         // physical address of the first pixel
constexpr uint32_t DC_PALETTE = 0x30;         // write-only: index bits 24-31, RGB565 bits 0-15

constexpr uint32_t DC_CONTROL_APPLY = 0x10;   // take the layer's new settings over
constexpr uint32_t DC_CONTROL_ENABLE = 0x20;  // layer shown
constexpr uint32_t DC_FORMAT_SHIFT = 16;
constexpr uint32_t DC_FORMAT_8 = 0x443A;      // palette index
constexpr uint32_t DC_FORMAT_16 = 0x4432;     // RGB565, little-endian
constexpr uint32_t DC_FORMAT_24 = 0xC653;     // bytes blue, green, red

// Layers by index: primary 0, primary 1, secondary 0, secondary 1.
enum { LAYER_P0, LAYER_P1, LAYER_S0, LAYER_S1, LAYER_COUNT };
extern const uint32_t dc_layer_base[LAYER_COUNT];
extern const char *const dc_layer_name[LAYER_COUNT];

struct layer_setup {
    uint32_t control, hstride, vstride, address;
};

struct display_config {
    int width[2], height[2];           // primary and secondary display blocks
    layer_setup layer[LAYER_COUNT];
    uint32_t status;                   // DISPLAY_STATUS at power-on, sync clear
};

// Physical memory as the controller sees it: the whole of ROOT/dev/mem.
struct display_state {
    uint8_t *mem;
    uint64_t mem_size;
    volatile uint32_t *regs;           // into mem, or null when mem ends short of it
    uint32_t (*palette)[256];          // per layer, 0x00RRGGBB; shared with the
                                       // write handler in the program
    layer_setup shown[LAYER_COUNT];    // settings scanned out, latched at sync
};

int layer_block(int layer);
int format_bytes(uint32_t code);       // 1, 2, 3, or 0 for an unknown code

void display_init(display_state *d, uint8_t *mem, uint64_t mem_size, uint32_t (*palette)[256],
                  const display_config *cfg);
void display_write(display_state *d, uint32_t offset, uint32_t value);
void display_vsync(display_state *d);
void display_update(display_state *d);
void display_end_pulse(display_state *d);
void display_fill_layer(display_state *d, int layer, const uint8_t *rgb, int w, int h);
// Size of display block b's screen, from its register.
void display_screen(const display_state *d, int block, int *w, int *h);
void display_render(const display_state *d, int block, uint8_t *rgb, int w, int h);
