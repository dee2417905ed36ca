#include "capture/shot_name.h"
#include "fakes.h"

#include <cstdio>

using ShotName = InTempDir;

// Each row: the counter, names already taken, whether a new series is
// asked for, and the name given.
TEST_F(ShotName, StepsPastTakenNamesAndCarriesIntoTheSeries)
{
    const struct { uint32_t counter; std::vector<const char *> taken; int series; const char *name; } rows[] = {
        {0, {"shot0_0000.png", "shot0_0001.png"}, 0, "shot0_0002.png"},
        {0, {"shot0_0000.png", "shot1_0000.png"}, 1, "shot2_0000.png"},
        {4, {"shot0_0004.png"}, 1, "shot1_0004.png"},
        {9999, {"shot0_9999.png"}, 0, "shot0_10000.png"},
        {0xFFFF, {"shot0_65535.png"}, 0, "shot1_0000.png"},
        {0x8000FFFF, {}, 0, "shot-32768_65535.png"},  // the longest name there is
    };
    for (const auto &r : rows) {
        ASSERT_EQ(system("rm -f shot*"), 0);
        for (const char *name : r.taken)
            fclose(fopen(name, "w"));
        shot_counter = r.counter;
        EXPECT_STREQ(next_shot_name(r.series), r.name);
    }
}
