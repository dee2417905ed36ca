#include "menu/text.h"
#include "menu/font.h"
#include "menu/overlay.h"

void draw_text(uint8_t *image, int x, int y, const char *text)
{
    for (int64_t left = x; *text; text++, left += 8) {
        const uint8_t *glyph = font + 8 * static_cast<unsigned char>(*text);
        for (int r = 0; r < 8; r++) {
            int64_t row = int64_t(y) + r;
            if (row < 0 || row >= OVERLAY_HEIGHT)
                continue;
            for (int k = 0; k < 8; k++) {
                int64_t column = left + k;
                if (glyph[r] & 0x80 >> k && column >= 0 && column < OVERLAY_WIDTH)
                    image[row * OVERLAY_WIDTH + column] = 1;
            }
        }
    }
}
