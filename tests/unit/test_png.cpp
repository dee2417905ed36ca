#include "capture/png_out.h"
#include "fakes.h"
#include "png_decode.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <utility>

// Rows of three pixels, each byte its own value, written under umask 022.
class WritePng : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        set_capture({}, 4, 3);
        for (int i = 0; i < 36; i++)
            row_table[i / 12][i % 12] = uint8_t(i / 12 * 40 + i % 12);
        syncs = fsync_error = fchmod_error = 0;
        umask(022);
    }
    void TearDown() override
    {
        fsync_error = fchmod_error = 0;
        InTempDir::TearDown();
    }
};

static const std::vector<uint8_t> TWO_ROWS = {0, 1, 2, 3, 4, 5, 6, 7, 8, 40, 41, 42, 43, 44, 45, 46, 47, 48};

static std::string contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

static bool is_whole_shot(const std::string &path)
{
    DecodedPng png = decode_png(path);
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(3u, 2u)) << path << ": " << png.error;
    return png.ok && png.rgb == TWO_ROWS;
}

// The names in the working folder, in byte order, each followed by a space.
static std::string folder_listing()
{
    std::string names;
    FILE *ls = popen("LC_ALL=C ls -A", "r");
    for (int c; ls && (c = fgetc(ls)) != EOF;)
        names += char(c == '\n' ? ' ' : c);
    if (ls)
        pclose(ls);
    return names;
}

TEST_F(WritePng, AFailedWriteKeepsTheOldFileAndLeavesNoOther)
{
    const struct { const char *what; int width, fsync_errno; } cases[] = {
        {"libpng refuses a width of 0 after the file is opened", 0, 0},
        {"the card fails to flush the written file", 3, EIO},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream("shot.png") << "an older file";
        fsync_error = c.fsync_errno;
        EXPECT_EQ(write_png("shot.png", c.width, 2), -1);
        EXPECT_EQ(contents("shot.png"), "an older file");
        EXPECT_EQ(folder_listing(), "shot.png ");
        EXPECT_EQ(syncs, 0);
    }
}

TEST_F(WritePng, TheNameGetsANewFileAndAReaderKeepsTheOldOne)
{
    std::ofstream("shot.png") << "an older file";
    int reader = open("shot.png", O_RDONLY);
    struct stat before, after;
    ASSERT_EQ(fstat(reader, &before), 0);
    ASSERT_EQ(write_png("shot.png", 3, 2), 0);
    char old[32] = {};
    EXPECT_EQ(pread(reader, old, sizeof old, 0), 13);
    EXPECT_STREQ(old, "an older file");
    ASSERT_EQ(stat("shot.png", &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    close(reader);
}

TEST_F(WritePng, ALinkLeadsToTheFileItNamesOrWouldName)
{
    const struct { const char *what, *link_to, *target; } cases[] = {
        {"a link to an older shot", "old.png", "old.png"},
        {"a dangling link into a folder", "sub/new.png", "sub/new.png"},
        {"a link to a dangling link", "hop.png", "sub/end.png"},
    };
    ASSERT_EQ(mkdir("sub", 0755), 0);
    std::ofstream("old.png") << "an older file";
    ASSERT_EQ(symlink("sub/end.png", "hop.png"), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(symlink(c.link_to, "link.png"), 0);
        syncs = 0;
        EXPECT_EQ(write_png("link.png", 3, 2), 0);
        EXPECT_TRUE(is_whole_shot(c.target));
        EXPECT_EQ(syncs, 1) << "the shot must reach the card before the next one";
        struct stat st;
        EXPECT_TRUE(lstat("link.png", &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
        unlink("link.png");
    }
}

// The mode a plain open gives a new file; an old file keeps its own where
// the file system lets it, and a refusal costs only the mode.
TEST_F(WritePng, ANewFileGetsTheUsualModeAndAnOldOneKeepsItsOwn)
{
    const struct { const char *what; mode_t old_mode; int fchmod_errno; mode_t mode; } cases[] = {
        {"a new file: 0666 less the umask", 0, 0, 0644},
        {"an old file's mode", 0640, 0, 0640},
        {"an old file's mode with bits the umask takes", 0666, 0, 0666},
        {"a file system that refuses a mode (FAT)", 0666, EPERM, 0644},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        unlink("shot.png");
        if (c.old_mode) {
            ASSERT_EQ(close(open("shot.png", O_CREAT | O_WRONLY, 0)) | chmod("shot.png", c.old_mode), 0);
        }
        fchmod_error = c.fchmod_errno;
        EXPECT_EQ(write_png("shot.png", 3, 2), 0);
        struct stat st;
        ASSERT_EQ(stat("shot.png", &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
}

// What is at the temporary name when a shot is written: cleared only when
// a cut-off write left it there.
TEST_F(WritePng, WhatLiesAtTheTemporaryNameIsClearedOnlyWhenLeftOver)
{
    // plant returns a descriptor to hold while the shot is written, 0 for
    // none, or -1 when it failed.
    const struct { const char *what; std::function<int()> plant; std::string left; } cases[] = {
        {"a file a cut-off write left", [] { return close(open(".tavro-shot.png", O_CREAT | O_WRONLY, 0600)); },
         "shot.png victim "},
        {"a file a live writer holds",
         [] {
             int fd = open(".tavro-shot.png", O_CREAT | O_WRONLY, 0600);
             return flock(fd, LOCK_EX) == 0 ? fd : -1;  // held until the case ends
         },
         ".tavro-shot.png shot.png victim "},
        {"a link to another file", [] { return symlink("victim", ".tavro-shot.png"); },
         ".tavro-shot.png shot.png victim "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system("rm -f .tavro-* shot.png && echo keep >victim"), 0);
        int held = c.plant();
        ASSERT_GE(held, 0);
        EXPECT_EQ(write_png("shot.png", 3, 2), 0);
        EXPECT_TRUE(is_whole_shot("shot.png"));
        EXPECT_EQ(folder_listing(), c.left);
        EXPECT_EQ(contents("victim"), "keep\n");
        if (held > 0)
            close(held);
    }
}
