#include "device/buttons.h"
#include "device/devices.h"
#include "fake_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(ButtonRemap, DiagonalsSplitAndSideKeysMove)
{
    const uint32_t cases[][2] = {
        {0x00000002, 0x00000005}, {0x000000AA, 0x00000055}, {0x00000080, 0x00000041},
        {0x00000008, 0x00000014}, {0x00000020, 0x00000050}, {0x0000FF00, 0x0000FF00},
        {0x00010000, 0x00800000}, {0x00020000, 0x00400000}, {0x00040000, 0x08000000},
        {0xFFF80000, 0x00000000}, {0xFFFFFFFF, 0x08C0FF55},
    };
    for (const auto &c : cases)
        EXPECT_EQ(remap_buttons(c[0]), c[1]) << std::hex << c[0];
}

// The button driver stands behind a pipe: each poll takes the next word.
class ButtonPacing : public testing::Test {
protected:
    int feed_fd = -1;

    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        gpio_fd = fds[0];
        feed_fd = fds[1];
        // A state no test ends on: the next one is a change, from repeat 0.
        feed(0xFF00, 1);
        read_buttons();
        pauses.clear();
    }
    void TearDown() override
    {
        close(gpio_fd);
        if (feed_fd >= 0)
            close(feed_fd);
        gpio_fd = -1;
    }
    void feed(uint32_t raw, int polls)
    {
        uint8_t bytes[4] = {uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16), uint8_t(raw >> 24)};
        for (int i = 0; i < polls; i++)
            ASSERT_EQ(write(feed_fd, bytes, 4), 4);
    }
};

TEST_F(ButtonPacing, UnchangedStatesComeBackFasterUpToEveryPoll)
{
    feed(0x100, 1 + 200);
    EXPECT_EQ(read_buttons(), 0x100u);
    EXPECT_TRUE(pauses.empty()) << "a change returns without a pause";
    const size_t polls[] = {8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 1, 1};
    for (size_t expected : polls) {
        pauses.clear();
        EXPECT_EQ(read_buttons(), 0x100u);
        EXPECT_EQ(pauses, std::vector<unsigned>(expected, 30000));
    }
}

TEST_F(ButtonPacing, ChangeEndsTheWaitAndRestartsThePacing)
{
    feed(0, 1 + 8 + 8 + 3);
    feed(0x800, 1 + 8);
    EXPECT_EQ(read_buttons(), 0u);
    EXPECT_EQ(read_buttons(), 0u);
    EXPECT_EQ(read_buttons(), 0u);
    pauses.clear();
    EXPECT_EQ(read_buttons(), 0x800u);  // seen at the fourth poll
    EXPECT_EQ(pauses.size(), 3u);
    pauses.clear();
    EXPECT_EQ(read_buttons(), 0x800u);
    EXPECT_EQ(pauses.size(), 8u) << "the repeat count went back to 0";
}

TEST_F(ButtonPacing, ShortOrFailedReadsCountAsReleased)
{
    const uint8_t half[2] = {0x00, 0x01};
    ASSERT_EQ(write(feed_fd, half, 2), 2);
    EXPECT_EQ(read_buttons(), 0x100u);  // MENU, from the low half alone
    close(feed_fd);
    feed_fd = -1;
    EXPECT_EQ(read_buttons(), 0u);
}
