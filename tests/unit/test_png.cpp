#include "capture/png_out.h"
#include "fakes.h"
#include "png_decode.h"

#include <fstream>
#include <sys/stat.h>

using WritePng = InTempDir;

TEST_F(WritePng, WritesTheRowsThroughALinkAndSyncsOrLeavesNoFile)
{
    set_capture({}, 4, 3);
    for (int i = 0; i < 36; i++)
        row_table[i / 12][i % 12] = uint8_t(i / 12 * 40 + i % 12);
    syncs = 0;
    // libpng refuses a width of 0 after the file is opened.
    EXPECT_EQ(write_png("shot.png", 0, 1), -1);
    EXPECT_EQ(system("test -z \"$(ls -A)\""), 0) << "a file was left behind";
    EXPECT_EQ(syncs, 0);

    std::ofstream("shot.png") << "an older file, longer than nothing";
    ASSERT_EQ(symlink("shot.png", "link.png"), 0);
    EXPECT_EQ(write_png("link.png", 3, 2), 0);
    EXPECT_EQ(syncs, 1) << "the shot must reach the card before the next one";
    DecodedPng png = decode_png("shot.png");
    EXPECT_EQ(png.width * 10 + png.height, 32u) << png.error;
    EXPECT_EQ(png.rgb, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 40, 41, 42, 43, 44, 45, 46, 47, 48}));
    struct stat st;
    EXPECT_TRUE(lstat("link.png", &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
}
