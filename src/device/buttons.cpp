#include "device/buttons.h"
#include "device/devices.h"

#include <unistd.h>

// The raw word: bits 0-7 the eight pad positions from up round to up-right
// (odd bits are the diagonals), 8-15 the face and shoulder buttons, 16 VOL
// UP, 17 VOL DOWN, 18 PUSH.
static constexpr uint32_t RAW_UP_LEFT = 0x2, RAW_DOWN_LEFT = 0x8;
static constexpr uint32_t RAW_DOWN_RIGHT = 0x20, RAW_UP_RIGHT = 0x80;
static constexpr uint32_t RAW_DIAGONALS = 0xAA;
static constexpr uint32_t RAW_VOL_UP = 0x10000, RAW_VOL_DOWN = 0x20000, RAW_PUSH = 0x40000;
static constexpr uint32_t RAW_USED = 0x7FFFF;

static constexpr unsigned MAX_REPEAT = 14;
static constexpr useconds_t POLL_PAUSE = 30000;

static const char *const names[32] = {
    "UP", "???", "LEFT", "???", "DOWN", "???", "RIGHT", "???",
    "MENU", "SELECT", "L", "R", "A", "B", "X", "Y",
    "???", "???", "???", "???", "???", "???", "VOL DOWN", "VOL UP",
    "???", "???", "???", "PUSH", "???", "???", "???", "???",
};

// Unchanged calls in a row (at most MAX_REPEAT), and the state returned last.
static unsigned repeat_count = 0;
static uint32_t last_buttons = 0;

uint32_t remap_buttons(uint32_t raw)
{
    uint32_t state = raw;
    if (raw & RAW_UP_LEFT)
        state |= BUTTON_UP | BUTTON_LEFT;
    if (raw & RAW_DOWN_LEFT)
        state |= BUTTON_LEFT | BUTTON_DOWN;
    if (raw & RAW_DOWN_RIGHT)
        state |= BUTTON_DOWN | BUTTON_RIGHT;
    if (raw & RAW_UP_RIGHT)
        state |= BUTTON_UP | BUTTON_RIGHT;
    state &= RAW_USED & ~RAW_DIAGONALS;
    if (raw & RAW_VOL_UP)
        state |= BUTTON_VOL_UP;
    if (raw & RAW_VOL_DOWN)
        state |= BUTTON_VOL_DOWN;
    if (raw & RAW_PUSH)
        state |= BUTTON_PUSH;
    return state & ~(RAW_VOL_UP | RAW_VOL_DOWN | RAW_PUSH);
}

uint32_t read_buttons()
{
    unsigned polls = 8 - repeat_count / 2;
    for (unsigned unchanged = 0;;) {
        // The driver hands out the word in little-endian byte order; bytes a
        // short or failed read leaves out count as released buttons.
        uint8_t bytes[4] = {0, 0, 0, 0};
        [[maybe_unused]] ssize_t got = read(gpio_fd, bytes, sizeof bytes);
        uint32_t state = remap_buttons(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                       uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
        if (state != last_buttons) {
            repeat_count = 0;
            last_buttons = state;
            return state;
        }
        // A signal may cut the pause short; polling goes on all the same.
        usleep(POLL_PAUSE);
        if (++unchanged == polls) {
            if (repeat_count < MAX_REPEAT)
                repeat_count++;
            return state;
        }
    }
}

const char *button_name(uint32_t mask)
{
    if (mask == 0)
        return "<none>";
    int bit = __builtin_ctz(mask);
    return names[bit][0] == '?' ? nullptr : names[bit];
}
