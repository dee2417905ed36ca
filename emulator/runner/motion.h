// A program on screen that draws its picture again at every sync, one
// pixel further to the left each time, so that the screen keeps moving.
#pragma once
#include "display_model.h"

// Keeps a copy of the w x h RGB888 picture a layer starts with.
int motion_keep(int layer, const uint8_t *rgb, int w, int h);
// Draws the next frame into each enabled layer that is still set up as in
// cfg; a layer another program has set up otherwise (the menu's overlay)
// is left alone until it is given back.
void motion_step(display_state *d, const display_config *cfg);
