// The emulated screen in a desktop window, and the keyboard as the
// handheld's buttons.
#pragma once
#include "display_model.h"

#include <stdint.h>

// Which key is which button, in two parts of one line.
#define WINDOW_KEYS_PAD "arrows: pad (two arrows: a diagonal)  M: MENU  S: SELECT"
#define WINDOW_KEYS_REST "L R A B X Y: the same  =/-: VOL UP/DOWN  P: PUSH  Esc: close"

// Opens a window for a w x h screen drawn scale times larger. Without a
// display, or when no window can be made, prints why and returns -1.
int window_open(int scale, int w, int h);
// At a sync: shows the screens as the controller shows them now, the
// secondary beside the primary while one of its layers is on (the window
// follows a change of size), and handles the window's events. Returns the
// raw button word of the keys held; sets *closed once the window is closed
// (or Esc pressed).
uint32_t window_frame(const display_state *d, bool *closed);
void window_close();
