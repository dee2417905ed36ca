#include "menu/combo.h"

#include <cstdio>

uint32_t combo[COMBO_SLOTS] = {0x100, 0x800, 0};  // MENU and R

static const char COMBO_FILE[] = "tavro.bcfg";

static void to_bytes(uint8_t bytes[4 * COMBO_SLOTS])
{
    for (int i = 0; i < 4 * COMBO_SLOTS; i++)
        bytes[i] = uint8_t(combo[i / 4] >> 8 * (i % 4));
}

void load_combo()
{
    FILE *f = fopen(COMBO_FILE, "rb");
    if (!f)
        return;
    uint8_t bytes[4 * COMBO_SLOTS];
    to_bytes(bytes);
    [[maybe_unused]] size_t got = fread(bytes, 1, sizeof bytes, f);
    fclose(f);
    for (int s = 0; s < COMBO_SLOTS; s++)
        combo[s] = uint32_t(bytes[4 * s]) | uint32_t(bytes[4 * s + 1]) << 8 |
                   uint32_t(bytes[4 * s + 2]) << 16 | uint32_t(bytes[4 * s + 3]) << 24;
}

void save_combo()
{
    FILE *f = fopen(COMBO_FILE, "wb");
    if (!f)
        return;
    uint8_t bytes[4 * COMBO_SLOTS];
    to_bytes(bytes);
    [[maybe_unused]] size_t put = fwrite(bytes, 1, sizeof bytes, f);
    fclose(f);
}
