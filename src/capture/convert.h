// Turning the raw copy into RGB888 rows.
#pragma once
#include <cstdint>

// Converts height lines of width pixels from the raw buffer into the row
// table. Returns 0, or -1 for a depth it does not know (4, 8, 16 and 24 are).
int convert_rows(int32_t bpp, int32_t width, int32_t height, int32_t stride);

// The depths convert_rows knows.
inline bool depth_known(int32_t bpp)
{
    return bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24;
}
