// One shot of the visible layer into a PNG file.
#pragma once

// Grabs, converts and writes; returns 0, or -1 with the failure reported.
// A failed grab leaves any file of that name as it was.
int take_shot(const char *name);
