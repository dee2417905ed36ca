// The menu screen: three combo slots, "GO to background" and "exit".
#pragma once
#include <cstdint>

enum MenuChoice { MENU_GO_TO_BACKGROUND, MENU_EXIT };

// Menu items, by cursor value: the slots, an empty row, then the two ends.
constexpr int ITEM_GO_TO_BACKGROUND = 4;
constexpr int ITEM_EXIT = 5;

// Runs the menu on the shown overlay until an end item is chosen, or exit
// when a signal asks to leave. The cursor outlives the menu, so that it
// opens again where it was left.
MenuChoice run_menu(int *cursor);

// Cursor moves over the items, past the empty row, wrapping at both ends.
int cursor_up(int cursor);
int cursor_down(int cursor);

// Steps a slot to the previous or next named button, through the empty slot.
uint32_t slot_back(uint32_t mask);
uint32_t slot_forward(uint32_t mask);
