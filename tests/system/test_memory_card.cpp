// Shots and the combo file on a memory card's FAT file system, which keeps
// no modes of its own and refuses a chmod: an image made with mkfs.vfat,
// mounted through FUSE.
#include "interactive.h"

#include <fstream>

class MemoryCard : public InteractiveTest {
protected:
    std::string card = in_work("card");
    bool mounted = false;

    void SetUp() override
    {
        InteractiveTest::SetUp();
        const std::string sbin = "PATH=$PATH:/usr/sbin:/sbin ";
        if (access("/dev/fuse", R_OK | W_OK) != 0 ||
            system((sbin + "command -v fusefat mkfs.vfat fusermount >/dev/null").c_str()) != 0)
            GTEST_SKIP() << "no /dev/fuse, or no fusefat, mkfs.vfat or fusermount here: no card to test on";
        std::string image = in_work("card.img");
        ASSERT_EQ(system((sbin + "mkdir " + card + " && truncate -s 8M " + image + " && mkfs.vfat " + image +
                          " >/dev/null && fusefat -o rw+ " + image + " " + card + " >/dev/null 2>&1").c_str()),
                  0);
        mounted = true;
    }
    void TearDown() override
    {
        end_all();
        // Processes just killed may hold the card for a moment longer.
        std::string unmount = "fusermount -u " + card + " 2>/dev/null";
        if (mounted) {
            EXPECT_TRUE(wait_for([&] { return system(unmount.c_str()) == 0; })) << "the card stays busy";
        }
        InteractiveTest::TearDown();
    }
    // The names on the card, each followed by a space.
    std::string listing() { return run_program({"/bin/sh", "-c", "LC_ALL=C ls -A | tr '\\n' ' '"}, card).out; }
};

// One shot from the command line onto the card: whole, in place of what
// was there, and nothing else left beside it.
TEST_F(MemoryCard, AShotIsWrittenWholeOntoTheCard)
{
    const struct { const char *what; const char *planted; } cases[] = {
        {"a new file", nullptr},
        {"over an older shot", "shot.png"},
        {"beside what a cut-off write left", ".tavro-shot.png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system(("rm -f " + card + "/* " + card + "/.tavro-*").c_str()), 0);
        if (c.planted)
            std::ofstream(card + "/" + c.planted) << "an older file";
        RunResult r = tavro({"card/shot.png"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(decode_png(card + "/shot.png").ok);
        EXPECT_EQ(listing(), "shot.png ");
    }
}

// Started from the card, as the launcher starts it: the combo is saved
// there and the service's shots land there.
TEST_F(MemoryCard, TheServiceSavesItsComboAndShootsOntoTheCard)
{
    start({"--wait-all"}, {}, card);
    ASSERT_TRUE(menu_shown() && press_go()) << err();
    ASSERT_TRUE(wait_for([&] { return count_of(out(), "child starting with pid"); })) << err();
    ASSERT_TRUE(polled(12) && hold(0) && hold(RAW_MENU | RAW_R));
    EXPECT_TRUE(wait_for([&] { return count_of(out(), "tavro: wrote \"shot0_0000.png\".\n"); })) << err();
    EXPECT_EQ(read_file(card + "/tavro.bcfg"), std::string("\0\x01\0\0\0\x08\0\0\0\0\0\0", 12));
    EXPECT_TRUE(decode_png(card + "/shot0_0000.png").ok);
    EXPECT_EQ(listing(), "shot0_0000.png tavro.bcfg ");
    EXPECT_EQ(err(), "");
}
