// Writing the row table as a PNG file.
#pragma once
#include <cstdint>

// Writes height rows of width RGB888 pixels from the row table to the named
// file and syncs. A regular file (or a new one) is replaced only when the
// PNG is whole. Returns 0, or -1 with no partial file left behind.
int write_png(const char *name, int32_t width, int32_t height);
