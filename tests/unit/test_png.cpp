#include "capture/png_out.h"
#include "capture_fixture.h"
#include "png_decode.h"

#include <sys/stat.h>

class WritePng : public CaptureTest {
protected:
    char dir[32] = "/tmp/tavro-unit-png-XXXXXX";
    std::string path, link;

    void SetUp() override
    {
        CaptureTest::SetUp();
        ASSERT_NE(mkdtemp(dir), nullptr);
        path = std::string(dir) + "/shot.png";
        link = std::string(dir) + "/link.png";
        give_rows(4, 3);
        for (int y = 0; y < 3; y++)
            for (int i = 0; i < 12; i++)
                row_table[y][i] = uint8_t(y * 40 + i);
        syncs = 0;
    }
    void TearDown() override
    {
        ASSERT_EQ(system(("rm -rf " + std::string(dir)).c_str()), 0);
        CaptureTest::TearDown();
    }
};

TEST_F(WritePng, WritesTheRowsAskedForThroughALinkAndSyncs)
{
    FILE *old = fopen(path.c_str(), "w");
    fputs("an older file, longer than nothing", old);
    fclose(old);
    ASSERT_EQ(symlink("shot.png", link.c_str()), 0);
    EXPECT_EQ(write_png(link.c_str(), 3, 2), 0);
    EXPECT_EQ(syncs, 1) << "the shot must reach the card before the next one";
    DecodedPng png = decode_png(path);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(png.bit_depth * 10 + png.color_type, 82);
    EXPECT_EQ(png.interlace + png.compression + png.filter, 0);
    EXPECT_EQ(png.width * 10 + png.height, 32u);
    EXPECT_EQ(png.rgb, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 40, 41, 42, 43, 44, 45, 46, 47, 48}));
    struct stat st;
    EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
}

TEST_F(WritePng, FailuresSayWhatFailedLeaveNoFileAndDoNotSync)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_png(dir, 1, 1), -1);
    EXPECT_EQ(write_png("", 1, 1), -1);
    EXPECT_EQ(write_png(path.c_str(), 0, 1), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("tavro: failed to open \"" + std::string(dir) + "\"\ntavro: failed to open \"\"\n", 0), 0u)
        << err;
    EXPECT_NE(err.find("error in png code\n"), std::string::npos) << err;
    EXPECT_EQ(system(("test -z \"$(ls -A " + std::string(dir) + ")\"").c_str()), 0) << "a file was left behind";
    EXPECT_EQ(syncs, 0);
}
