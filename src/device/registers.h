// Display controller registers, as byte offsets into the 64 KiB register
// window at physical 0xC0000000. Every register is 32 bits wide.
#pragma once
#include <cstdint>

constexpr uint32_t REGISTER_WINDOW_BASE = 0xC0000000; // physical address of the window
constexpr uint32_t REGISTER_WINDOW_SIZE = 0x10000;

// Controller status; SYNC_PENDING is set at each display sync, write 1 to clear.
constexpr uint32_t DISPLAY_STATUS = 0x308C;
constexpr uint32_t SYNC_PENDING = 0x400;

// Display blocks, each with a screen size register at +0x4.
constexpr uint32_t PRIMARY_BLOCK = 0x4000;
constexpr uint32_t SECONDARY_BLOCK = 0x4400;
constexpr uint32_t SCREEN_SIZE = 0x4;             // offset from a block's base
constexpr uint32_t SCREEN_WIDTH_MASK = 0xFFF;     // bits 0-11: width - 1
constexpr uint32_t SCREEN_HEIGHT_SHIFT = 16;      // bits 16-27: height - 1
constexpr uint32_t SCREEN_HEIGHT_MASK = 0xFFF;

// Layer groups: each layer's registers at the same distance from its base.
constexpr uint32_t PRIMARY_LAYER0 = 0x400C;
constexpr uint32_t PRIMARY_LAYER1 = 0x4040;
constexpr uint32_t SECONDARY_LAYER0 = 0x440C;
constexpr uint32_t SECONDARY_LAYER1 = 0x4440;

constexpr uint32_t LAYER_CONTROL = 0x18;  // offset from a layer group's base
constexpr uint32_t LAYER_HSTRIDE = 0x1C;  // bytes from one pixel to the next
constexpr uint32_t LAYER_VSTRIDE = 0x20;  // bytes from one line to the next
constexpr uint32_t LAYER_ADDRESS = 0x2C;  // physical address of the first pixel
constexpr uint32_t LAYER_PALETTE = 0x30;  // write-only: entry in 24-31, RGB565 in 0-15

constexpr uint32_t LAYER_APPLY = 0x10;          // controller takes over the new settings
constexpr uint32_t LAYER_ENABLE = 0x20;         // layer is shown
constexpr uint32_t LAYER_FORMAT_SHIFT = 16;     // bits 16-31: pixel format code
constexpr uint32_t LAYER_KEEP_MASK = 0xFFFF;    // bits a control write keeps as read
constexpr uint32_t PALETTE_INDEX_SHIFT = 24;

// Pixel format codes.
constexpr uint32_t FORMAT_8BPP = 0x443A;   // one byte, a palette index
constexpr uint32_t FORMAT_16BPP = 0x4432;  // RGB565, little-endian
constexpr uint32_t FORMAT_24BPP = 0xC653;  // bytes blue, green, red

// The group base above which a layer belongs to the secondary block.
constexpr uint32_t screen_size_of(uint32_t group)
{
    return (group > SECONDARY_BLOCK ? SECONDARY_BLOCK : PRIMARY_BLOCK) + SCREEN_SIZE;
}
