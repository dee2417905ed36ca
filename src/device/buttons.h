// The device's buttons as one logical mask, paced for a polling caller.
#pragma once
#include <cstdint>

// The logical mask: the raw word's bits where the buttons have them, the
// diagonals folded into their two directions, the volume keys and PUSH moved.
constexpr uint32_t BUTTON_UP = 0x1;
constexpr uint32_t BUTTON_LEFT = 0x4;
constexpr uint32_t BUTTON_DOWN = 0x10;
constexpr uint32_t BUTTON_RIGHT = 0x40;
constexpr uint32_t BUTTON_MENU = 0x100;
constexpr uint32_t BUTTON_SELECT = 0x200;
constexpr uint32_t BUTTON_L = 0x400;
constexpr uint32_t BUTTON_R = 0x800;
constexpr uint32_t BUTTON_A = 0x1000;
constexpr uint32_t BUTTON_B = 0x2000;
constexpr uint32_t BUTTON_X = 0x4000;
constexpr uint32_t BUTTON_Y = 0x8000;
constexpr uint32_t BUTTON_VOL_DOWN = 0x400000;
constexpr uint32_t BUTTON_VOL_UP = 0x800000;
constexpr uint32_t BUTTON_PUSH = 0x8000000;

// The logical mask of a raw button word from /dev/GPIO.
uint32_t remap_buttons(uint32_t raw);

// Returns the buttons at once when they changed since the last call, else
// the same buttons again after a wait that shortens while they stay put.
uint32_t read_buttons();

// "<none>" for 0, the name of the lowest set bit, or null if it has none.
const char *button_name(uint32_t mask);
