// Pictures of what the emulated screens show.
#pragma once
#include "display_model.h"

// Writes what the primary screen shows now as a PNG file: layers latched as
// at a sync. Returns 0, or -1 after printing why.
int save_screenshot(display_state *d, const char *file);
