#include "capture/shot_name.h"
#include "temp_dir.h"

#include <cstdio>

class ShotName : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        shot_counter = 0;
    }
    static void touch(const char *name) { fclose(fopen(name, "w")); }
};

TEST_F(ShotName, StepsTheShotPastTakenNames)
{
    EXPECT_STREQ(next_shot_name(0), "shot0_0000.png");
    EXPECT_STREQ(next_shot_name(0), "shot0_0000.png");
    touch("shot0_0000.png");
    touch("shot0_0001.png");
    EXPECT_STREQ(next_shot_name(0), "shot0_0002.png");
    EXPECT_EQ(shot_counter, 2u);
}

TEST_F(ShotName, NewSeriesKeepsTheShotNumber)
{
    for (const char *name : {"shot0_0000.png", "shot0_0004.png", "shot1_0004.png"})
        touch(name);
    EXPECT_STREQ(next_shot_name(1), "shot1_0000.png");
    shot_counter = 4;
    EXPECT_STREQ(next_shot_name(1), "shot2_0004.png");
}

TEST_F(ShotName, NumbersGrowPastFourDigitsAndCarryIntoTheSeries)
{
    shot_counter = 9999;
    touch("shot0_9999.png");
    EXPECT_STREQ(next_shot_name(0), "shot0_10000.png");
    shot_counter = 0xFFFF;
    touch("shot0_65535.png");
    EXPECT_STREQ(next_shot_name(0), "shot1_0000.png");
    shot_counter = 0x80000000 | 0xFFFF;
    EXPECT_STREQ(next_shot_name(0), "shot-32768_65535.png");  // the longest name there is
}
