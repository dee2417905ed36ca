// The menu's drawing surface: primary layer 1 lent out as an 8-bit overlay.
#pragma once
#include <csignal>
#include <cstdint>

constexpr int OVERLAY_WIDTH = 320;
constexpr int OVERLAY_HEIGHT = 240;
constexpr int OVERLAY_BYTES = OVERLAY_WIDTH * OVERLAY_HEIGHT;

// One byte a pixel, palette index 0 (black) or 1 (white); valid from
// take_over_display to restore_display.
extern uint8_t *overlay;

// Set by TERM, INT, HUP or USR1 while the overlay is shown: the menu is to
// be left as by "exit".
extern volatile sig_atomic_t leave_requested;

// Shows the overlay, cleared, in place of layer 1; ends the process with
// status 1 if the framebuffer cannot be found or mapped.
void take_over_display();

// Gives layer 1 back in its 16-bit mode and releases the overlay.
void restore_display();
