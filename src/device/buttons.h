// The device's buttons as one logical mask, paced for a polling caller.
#pragma once
#include <cstdint>

constexpr uint32_t BUTTON_UP = 0x1;
constexpr uint32_t BUTTON_LEFT = 0x4;
constexpr uint32_t BUTTON_DOWN = 0x10;
constexpr uint32_t BUTTON_RIGHT = 0x40;
constexpr uint32_t BUTTON_MENU = 0x100;
constexpr uint32_t BUTTON_SELECT = 0x200;
constexpr uint32_t BUTTON_R = 0x800;
constexpr uint32_t BUTTON_B = 0x2000;

// The logical mask of a raw button word from /dev/GPIO.
uint32_t remap_buttons(uint32_t raw);

// Returns the buttons at once when they changed since the last call, else
// the same buttons again after a wait that shortens while they stay put.
uint32_t read_buttons();

// "<none>" for 0, the name of the lowest set bit, or null if it has none.
const char *button_name(uint32_t mask);
