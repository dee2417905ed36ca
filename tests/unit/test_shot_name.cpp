#include "capture/shot_name.h"
#include "fakes.h"

#include <cstdio>

using ShotName = InTempDir;

// Each row: the counter, names already taken (a file, or a link that leads
// nowhere), whether a new series is asked for, and the name given.
TEST_F(ShotName, StepsPastTakenNamesAndCarriesIntoTheSeries)
{
    const struct { uint32_t counter; std::vector<const char *> taken, dangling; int series; const char *name; } rows[] = {
        {0, {"shot0_0000.png", "shot0_0001.png"}, {}, 0, "shot0_0002.png"},
        {0, {"shot0_0000.png"}, {"shot0_0001.png"}, 0, "shot0_0002.png"},
        {0, {"shot0_0000.png", "shot1_0000.png"}, {}, 1, "shot2_0000.png"},
        {4, {"shot0_0004.png"}, {}, 1, "shot1_0004.png"},
        {9999, {"shot0_9999.png"}, {}, 0, "shot0_10000.png"},
        {0xFFFF, {"shot0_65535.png"}, {}, 0, "shot1_0000.png"},
        {0x8000FFFF, {}, {}, 0, "shot-32768_65535.png"},  // the longest name there is
    };
    for (const auto &r : rows) {
        ASSERT_EQ(system("rm -f shot*"), 0);
        for (const char *name : r.taken)
            fclose(fopen(name, "w"));
        for (const char *name : r.dangling)
            ASSERT_EQ(symlink("nowhere/shot.png", name), 0);
        shot_counter = r.counter;
        EXPECT_STREQ(next_shot_name(r.series), r.name);
    }
}

// The menu shows "<none>" then, and the service shoots nowhere.
TEST_F(ShotName, NoNameAfterAFullRoundOfSeries)
{
    ASSERT_EQ(system("seq -f shot%g_0000.png -32768 32767 | xargs touch"), 0);
    shot_counter = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(next_shot_name(1), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tavro: no free shot name left\n");
}
