// A fresh emulated device and working folder for each system test.
#pragma once
#include "device_run.h"
#include "png_decode.h"

#include <gtest/gtest.h>

class DeviceTest : public testing::Test {
protected:
    std::string device = make_temp_dir("device");
    std::string work = make_temp_dir("work");

    void TearDown() override
    {
        remove_tree(device);
        remove_tree(work);
    }

    RunResult tavro(const std::vector<std::string> &args, const std::vector<std::string> &options = {})
    {
        return run_tavro(device, options, args, work);
    }

    std::string launcher_log() { return read_file(device + "/launcher.log"); }
    std::string in_work(const std::string &name) { return work + "/" + name; }
};

#define EXPECT_RUN(result, status_, out_, err_)                                    \
    do {                                                                           \
        const RunResult &r_ = (result);                                            \
        EXPECT_EQ(r_.status, status_) << "stderr: " << r_.err;                     \
        EXPECT_EQ(r_.out, out_);                                                   \
        EXPECT_EQ(r_.err, err_);                                                   \
    } while (0)
