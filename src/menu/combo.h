// The trigger combination: three button masks, kept in "tavro.bcfg".
#pragma once
#include <cstdint>

constexpr int COMBO_SLOTS = 3;

// Slots in the bit layout of the button mask; 0 is an empty slot.
extern uint32_t combo[COMBO_SLOTS];

// Reads up to 12 bytes from "tavro.bcfg" over the combo, little-endian;
// a shorter file replaces only the bytes it has, and anything but a regular
// file is not read. Never reports.
void load_combo();

// Replaces "tavro.bcfg" with the 12 bytes of the combo, whole or not at
// all. Never reports.
void save_combo();
