#include "menu/menu.h"
#include "capture/shot_name.h"
#include "device/buttons.h"
#include "device/display.h"
#include "menu/combo.h"
#include "menu/overlay.h"
#include "menu/text.h"

#include <cstdio>
#include <cstring>

static constexpr int TEXT_X = 60;
static constexpr int CURSOR_X = 50;
static constexpr int FIRST_ITEM_Y = 76;
static constexpr int ROW = 8;
static constexpr int BAND_ROWS = 48;  // from the first slot to below "exit"

int cursor_up(int cursor)
{
    return cursor == 0 ? ITEM_EXIT : cursor == ITEM_GO_TO_BACKGROUND ? 2 : cursor - 1;
}

int cursor_down(int cursor)
{
    return cursor == ITEM_EXIT ? 0 : cursor == 2 ? ITEM_GO_TO_BACKGROUND : cursor + 1;
}

// Masks of several bits (only a foreign file holds them) move as a whole;
// an empty mask counts as named, so neither loop runs past 32 steps.
uint32_t slot_back(uint32_t mask)
{
    if (mask == 0)
        mask = 0x80000000;
    do
        mask >>= 1;
    while (!button_name(mask));
    return mask;
}

uint32_t slot_forward(uint32_t mask)
{
    if (mask == 0)
        return BUTTON_UP;
    do
        mask <<= 1;
    while (!button_name(mask));
    return mask;
}

static void draw_slot(int slot)
{
    const char *name = button_name(combo[slot]);
    char unnamed[16];
    if (!name) {
        snprintf(unnamed, sizeof unnamed, "0x%08X", combo[slot]);
        name = unnamed;
    }
    draw_text(overlay, TEXT_X, FIRST_ITEM_Y + ROW * slot, name);
}

static void redraw(int cursor)
{
    wait_display_sync();
    memset(overlay + FIRST_ITEM_Y * OVERLAY_WIDTH, 0, BAND_ROWS * OVERLAY_WIDTH);
    for (int slot = 0; slot < COMBO_SLOTS; slot++)
        draw_slot(slot);
    draw_text(overlay, TEXT_X, FIRST_ITEM_Y + ROW * ITEM_GO_TO_BACKGROUND, "GO to background");
    draw_text(overlay, TEXT_X, FIRST_ITEM_Y + ROW * ITEM_EXIT, "exit");
    draw_text(overlay, CURSOR_X, FIRST_ITEM_Y + ROW * cursor, ">");
}

MenuChoice run_menu(int *cursor)
{
    draw_text(overlay, TEXT_X, 35, "tavro r2");
    draw_text(overlay, TEXT_X, 45, "pick a combo, then go");
    draw_text(overlay, TEXT_X, 68, "button combo:");
    draw_text(overlay, TEXT_X, 150, "next file:");
    const char *next = next_shot_name(1);
    draw_text(overlay, TEXT_X, 158, next ? next : "<none>");
    for (;;) {
        redraw(*cursor);
        // Only the first matching test counts; the menu waits on anything else.
        for (bool changed = false; !changed;) {
            uint32_t buttons = read_buttons();
            if (leave_requested)
                return MENU_EXIT;
            changed = true;
            if (buttons & BUTTON_UP)
                *cursor = cursor_up(*cursor);
            else if (buttons & BUTTON_DOWN)
                *cursor = cursor_down(*cursor);
            else if (buttons & BUTTON_LEFT) {
                if (*cursor < COMBO_SLOTS)
                    combo[*cursor] = slot_back(combo[*cursor]);
            } else if (buttons & BUTTON_RIGHT) {
                if (*cursor < COMBO_SLOTS)
                    combo[*cursor] = slot_forward(combo[*cursor]);
            } else if (buttons & (BUTTON_MENU | BUTTON_B)) {
                if (*cursor == ITEM_GO_TO_BACKGROUND)
                    return MENU_GO_TO_BACKGROUND;
                if (*cursor == ITEM_EXIT)
                    return MENU_EXIT;
                changed = false;
            } else {
                changed = false;
            }
        }
    }
}
