#include "device/buttons.h"
#include "device/devices.h"
#include "fakes.h"

TEST(ButtonRemap, DiagonalsSplitAndSideKeysMove)
{
    const struct { const char *what; uint32_t raw, buttons; } cases[] = {
        {"up-left: up and left", 0x00000002, 0x00000005},
        {"all four diagonals: the four directions", 0x000000AA, 0x00000055},
        {"up-right: up and right", 0x00000080, 0x00000041},
        {"down-left: down and left", 0x00000008, 0x00000014},
        {"down-right: down and right", 0x00000020, 0x00000050},
        {"MENU to Y stay where they are", 0x0000FF00, 0x0000FF00},
        {"volume up moves to bit 23", 0x00010000, 0x00800000},
        {"volume down moves to bit 22", 0x00020000, 0x00400000},
        {"the stick's push moves to bit 27", 0x00040000, 0x08000000},
        {"bits of no button are dropped", 0xFFF80000, 0x00000000},
        {"every bit at once", 0xFFFFFFFF, 0x08C0FF55},
    };
    for (const auto &c : cases)
        EXPECT_EQ(remap_buttons(c.raw), c.buttons) << c.what;
}

// The button driver stands behind a pipe that already holds every word to
// come, in little-endian byte order, and then ends: no read can block.
TEST(ButtonPacing, UnchangedStatesComeBackFasterAndChangesAtOnce)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    gpio_fd = fds[0];
    // Runs of one word: a word, and how many polls see it.
    const std::pair<uint32_t, int> runs[] = {{0x100, 1 + 74}, {0, 1 + 8 + 3}, {0x800, 1 + 8}};
    for (const auto &run : runs) {
        const uint8_t bytes[4] = {uint8_t(run.first), uint8_t(run.first >> 8), 0, 0};
        for (int i = 0; i < run.second; i++)
            ASSERT_EQ(write(fds[1], bytes, 4), 4);
    }
    // A short read at the end leaves the high half released.
    ASSERT_EQ(write(fds[1], "\x00\x01", 2), 2);
    close(fds[1]);

    // Each read: the state it returns and the pauses it takes. A change
    // comes at once, also in the middle of a wait, and starts the pacing over.
    const std::pair<uint32_t, size_t> reads[] = {
        {0x100, 0}, {0x100, 8}, {0x100, 8}, {0x100, 7}, {0x100, 7}, {0x100, 6}, {0x100, 6},
        {0x100, 5}, {0x100, 5}, {0x100, 4}, {0x100, 4}, {0x100, 3}, {0x100, 3}, {0x100, 2},
        {0x100, 2}, {0x100, 1}, {0x100, 1}, {0x100, 1}, {0x100, 1},
        {0, 0}, {0, 8}, {0x800, 3}, {0x800, 8},
        {0x100, 0}, {0, 0},  // the half word, then the end of the driver's words
    };
    for (const auto &r : reads) {
        pauses.clear();
        EXPECT_EQ(read_buttons(), r.first);
        EXPECT_EQ(pauses, std::vector<unsigned>(r.second, 30000)) << std::hex << r.first;
    }
    close(fds[0]);
}
