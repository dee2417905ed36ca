#include "capture/png_out.h"
#include "capture_fixture.h"
#include "png_decode.h"

#include <sys/stat.h>

class WritePng : public CaptureTest {
protected:
    char dir[32] = "/tmp/tavro-unit-png-XXXXXX";
    std::string path;

    void SetUp() override
    {
        CaptureTest::SetUp();
        ASSERT_NE(mkdtemp(dir), nullptr);
        path = std::string(dir) + "/shot.png";
    }
    void TearDown() override
    {
        unlink(path.c_str());
        rmdir(dir);
        CaptureTest::TearDown();
    }
    void fill_rows(int width, int height)
    {
        give_rows(width, height);
        for (int y = 0; y < height; y++)
            for (int i = 0; i < width * 3; i++)
                row_table[y][i] = uint8_t(y * 40 + i);
    }
};

TEST_F(WritePng, WritesEightBitRgbWithOnlyTheNeededChunks)
{
    fill_rows(3, 2);
    EXPECT_EQ(write_png(path.c_str(), 3, 2), 0);
    DecodedPng png = decode_png(path);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(png.width, 3u);
    EXPECT_EQ(png.height, 2u);
    EXPECT_EQ(png.bit_depth, 8);
    EXPECT_EQ(png.color_type, 2);
    EXPECT_EQ(png.interlace + png.compression + png.filter, 0);
    EXPECT_EQ(png.rgb, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8,
                                             40, 41, 42, 43, 44, 45, 46, 47, 48}));
}

TEST_F(WritePng, WritesOnlyTheRowsAskedForAndReplacesAnOldFileThroughALink)
{
    fill_rows(4, 3);
    FILE *old = fopen(path.c_str(), "w");
    fputs("an older file, longer than nothing", old);
    fclose(old);
    std::string link = std::string(dir) + "/link.png";
    ASSERT_EQ(symlink("shot.png", link.c_str()), 0);
    EXPECT_EQ(write_png(link.c_str(), 2, 1), 0);
    DecodedPng png = decode_png(path);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.rgb, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5}));
    struct stat st;
    EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
    unlink(link.c_str());
}

TEST_F(WritePng, UnopenableNameFailsWithItsName)
{
    fill_rows(1, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_png(dir, 1, 1), -1);
    EXPECT_EQ(write_png("", 1, 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tavro: failed to open \"" + std::string(dir) + "\"\ntavro: failed to open \"\"\n");
}

TEST_F(WritePng, EncoderErrorLeavesNoPartialFile)
{
    fill_rows(1, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_png(path.c_str(), 0, 1), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("error in png code\n"), std::string::npos) << err;
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "a partial file was left behind";
}
