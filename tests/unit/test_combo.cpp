#include "menu/combo.h"
#include "fakes.h"

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <tuple>

using ComboFile = InTempDir;

TEST_F(ComboFile, FileReplacesOnlyTheBytesItHoldsAndIsSavedAsTwelve)
{
    combo[0] = 0x100, combo[1] = 0x12340800, combo[2] = 0;
    load_combo();
    EXPECT_EQ(combo[0], 0x100u) << "no file leaves the combo";
    std::ofstream("tavro.bcfg", std::ios::binary) << std::string("\x01\x00\x00\x00\x10\x00", 6);
    load_combo();
    EXPECT_EQ(combo[0], 0x1u);
    EXPECT_EQ(combo[1], 0x12340010u) << "the two high bytes are kept";
    std::ofstream("tavro.bcfg", std::ios::binary)
        << std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x00\x00\x10\x00\xFF", 13);
    load_combo();
    EXPECT_EQ(combo[2], 0x100000u);
    combo[2] = 0x04030201;
    save_combo();
    std::ifstream saved("tavro.bcfg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
              std::string("\x00\x01\x00\x00\x00\x08\x00\x00\x01\x02\x03\x04", 12));
}

// A FIFO named like the file, whose writer holds twelve zero bytes, would
// empty the combo if it were read.
TEST_F(ComboFile, AFifoInItsPlaceIsNotRead)
{
    combo[0] = 0x100, combo[1] = 0x800, combo[2] = 0;
    ASSERT_EQ(mkfifo("tavro.bcfg", 0644), 0);
    int writer = open("tavro.bcfg", O_RDWR | O_NONBLOCK);
    ASSERT_EQ(write(writer, std::string(12, '\0').data(), 12), 12);
    load_combo();
    EXPECT_EQ(std::make_tuple(combo[0], combo[1], combo[2]), std::make_tuple(0x100u, 0x800u, 0u));
    close(writer);
}

TEST_F(ComboFile, SavedWithTheUsualModeOrTheOldFilesOwn)
{
    umask(022);
    save_combo();
    struct stat st;
    EXPECT_TRUE(stat("tavro.bcfg", &st) == 0 && (st.st_mode & 07777) == 0644) << std::oct << st.st_mode;
    ASSERT_EQ(chmod("tavro.bcfg", 0640), 0);
    save_combo();
    EXPECT_TRUE(stat("tavro.bcfg", &st) == 0 && (st.st_mode & 07777) == 0640) << std::oct << st.st_mode;
}
