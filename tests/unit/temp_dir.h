// Runs each test in a fresh empty working folder, removed afterwards.
#pragma once
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

class InTempDir : public testing::Test {
protected:
    char dir[32] = "/tmp/tavro-unit-cwd-XXXXXX";

    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        ASSERT_EQ(chdir(dir), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir("/tmp"), 0);
        ASSERT_EQ(system(("rm -rf " + std::string(dir)).c_str()), 0);
    }
};
