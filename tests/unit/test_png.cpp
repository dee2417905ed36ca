#include "capture/png_out.h"
#include "capture_buffers.h"
#include "fake_system.h"
#include "png_decode.h"
#include "temp_dir.h"

#include <sys/stat.h>

using WritePng = InTempDir;

TEST_F(WritePng, WritesTheRowsThroughALinkAndSyncsOrLeavesNoFile)
{
    set_capture({}, 4, 3);
    for (int i = 0; i < 36; i++)
        row_table[i / 12][i % 12] = uint8_t(i / 12 * 40 + i % 12);
    syncs = 0;
    // A folder cannot be opened, and libpng refuses a width of 0.
    EXPECT_EQ(write_png(".", 1, 1), -1);
    EXPECT_EQ(write_png("shot.png", 0, 1), -1);
    EXPECT_EQ(system("test -z \"$(ls -A)\""), 0) << "a file was left behind";
    EXPECT_EQ(syncs, 0);

    FILE *old = fopen("shot.png", "w");
    fputs("an older file, longer than nothing", old);
    fclose(old);
    ASSERT_EQ(symlink("shot.png", "link.png"), 0);
    EXPECT_EQ(write_png("link.png", 3, 2), 0);
    EXPECT_EQ(syncs, 1) << "the shot must reach the card before the next one";
    DecodedPng png = decode_png("shot.png");
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.width * 10 + png.height, 32u);
    EXPECT_EQ(png.rgb, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 40, 41, 42, 43, 44, 45, 46, 47, 48}));
    struct stat st;
    EXPECT_TRUE(lstat("link.png", &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
}
