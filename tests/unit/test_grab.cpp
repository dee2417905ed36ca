#include "capture/grab.h"
#include "capture_fixture.h"

#include <cstring>

using GrabScreen = CaptureTest;

TEST_F(GrabScreen, CopiesA16BitScreenAtRaisedPriority)
{
    register_file[0x4004] = 0xF0EFF13F;  // high nibbles of both fields are not size
    set_layer(0x4040, true, 0x4432, 2, 640, 0x03101000);
    std::vector<uint8_t> frame(153600);
    for (size_t i = 0; i < frame.size(); i++)
        frame[i] = uint8_t(i * 7 + i / 640);
    put_frame(0x03101000, frame);
    int32_t width, height, stride;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(grab_screen(&width, &height, &stride), 16);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(stride, 320);
    EXPECT_EQ(nice_requests, (std::vector<int>{-10, -1}));
    ASSERT_GE(raw_capacity, 153600);
    EXPECT_EQ(memcmp(raw_buffer, frame.data(), frame.size()), 0);
}

TEST_F(GrabScreen, RegisterStrideDecidesTheDepthAndEightBitGetsGrey)
{
    struct Case { uint32_t code, hstride; int bpp; const char *messages; bool grey; };
    const Case cases[] = {
        {0x443A, 2, 16, "tavro: bpp and hstride mismatch: 8 16\n", false},
        {0x1234, 1, 8,
         "tavro: unhandled format: 1234\ntavro: bpp and hstride mismatch: 0 8\n"
         "tavro: can't dump palette for 8bpp image on POLLUX :(\n",
         true},
        {0xC653, 3, 24, "", false},
    };
    for (const Case &c : cases) {
        fake_registers_reset();
        for (uint32_t &e : palette)
            e = 0xDEAD;
        set_screen(0x4000, 8, 2);
        set_layer(0x4040, true, c.code, c.hstride, 8 * c.hstride, 0x01000000);
        int32_t width, height, stride;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(grab_screen(&width, &height, &stride), c.bpp);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
        EXPECT_EQ(stride, 8);
        EXPECT_EQ(palette[0x80], c.grey ? 0x808080u : 0xDEADu) << std::hex << c.code;
        EXPECT_EQ(palette[255], c.grey ? 0xFFFFFFu : 0xDEADu);
    }
}

TEST_F(GrabScreen, CopiesEveryByteFromAnUnalignedAddress)
{
    // 7 x 5 bytes: two whole 16-byte blocks and a tail of three.
    set_screen(0x4000, 7, 5);
    set_layer(0x4040, true, 0x443A, 1, 7, 0x01000800);
    std::vector<uint8_t> frame(35);
    for (size_t i = 0; i < frame.size(); i++)
        frame[i] = uint8_t(0x40 + i);
    put_frame(0x01000000, std::vector<uint8_t>(0x800, 0xEE));
    put_frame(0x01000800, frame);
    int32_t width, height, stride;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(grab_screen(&width, &height, &stride), 8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "tavro: about to dump 01000800, 7x5@8, stride=7, size=35\n");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(raw_length, 35);
    EXPECT_EQ(memcmp(raw_buffer, frame.data(), 35), 0);
}

TEST_F(GrabScreen, BuffersFollowTheLargestGeometryAndEveryRowTakesTheWidth)
{
    struct Step { int width, height; int slots, row_width; };
    const Step steps[] = {{8, 2, 2, 8}, {8, 2, 2, 8}, {4, 4, 4, 4}, {6, 3, 4, 6}, {2, 1, 4, 6}};
    for (const Step &s : steps) {
        fake_registers_reset();
        set_screen(0x4000, s.width, s.height);
        set_layer(0x4040, true, 0x4432, 2, 2 * s.width, 0x01000000);
        int32_t width, height, stride;
        testing::internal::CaptureStdout();
        EXPECT_EQ(grab_screen(&width, &height, &stride), 16);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(row_slots, s.slots);
        EXPECT_EQ(row_width, s.row_width);
        EXPECT_GE(raw_capacity, 2 * s.width * s.height);
        for (int i = 0; i < row_slots; i++)  // the sanitizer build checks each size
            memset(row_table[i], 0x55, size_t(row_width) * 3);
    }
}

TEST_F(GrabScreen, RefusesGeometryNoFrameCouldHaveAndAllocatesNothing)
{
    struct Case { int width, height; uint32_t hstride, vstride; };
    const Case cases[] = {
        {320, 240, 0, 640},            // no depth
        {320, 240, 2, 0},              // no line
        {320, 240, 1, 0xFFFFFFFF},     // a stride past 32 bits
        {4096, 4096, 3, 3 * 8192},     // 96 MiB
        {320, 240, 0x20000000, 640},   // a depth past 32 bits
    };
    for (const Case &c : cases) {
        fake_registers_reset();
        nice_requests.clear();
        set_screen(0x4000, c.width, c.height);
        set_layer(0x4040, true, 0x4432, c.hstride, c.vstride, 0x01000000);
        int32_t width, height, stride;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(grab_screen(&width, &height, &stride), -1) << c.hstride << " " << c.vstride;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_NE(testing::internal::GetCapturedStderr().find("tavro: unusable layer"),
                  std::string::npos);
        EXPECT_EQ(nice_requests, (std::vector<int>{-10, 0}));
        EXPECT_EQ(raw_capacity, 0);
        EXPECT_EQ(row_slots, 0);
    }
}

TEST_F(GrabScreen, FailedMappingKeepsTheOldCopyAndResetsPriority)
{
    set_screen(0x4000, 4, 2);
    set_layer(0x4040, true, 0x443A, 1, 4, 0x01000000);
    give_raw(std::vector<uint8_t>(8, 0x77));
    palette[3] = 0x123456;
    close(mem_fd);
    mem_fd = -1;
    int32_t width, height, stride;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(grab_screen(&width, &height, &stride), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "tavro: about to dump 01000000, 4x2@8, stride=4, size=8\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tavro: mmap failed: Bad file descriptor\n");
    EXPECT_EQ(nice_requests, (std::vector<int>{-10, 0}));
    EXPECT_EQ((std::vector<uint8_t>(raw_buffer, raw_buffer + 8)), std::vector<uint8_t>(8, 0x77));
    EXPECT_EQ(palette[3], 0x123456u);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(stride, 4);
}
