// Fresh capture buffers, fake registers and a sparse file standing in for
// physical memory, for the tests of the shot pipeline.
#pragma once
#include "capture/buffers.h"
#include "device/devices.h"
#include "fake_registers.h"
#include "fake_system.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

class CaptureTest : public testing::Test {
protected:
    std::string mem_path = "/tmp/tavro-unit-mem-XXXXXX";

    void SetUp() override
    {
        fake_registers_reset();
        for (int i = 0; i < row_slots; i++)
            free(row_table[i]);
        free(row_table);
        free(raw_buffer);
        raw_buffer = nullptr;
        row_table = nullptr;
        raw_capacity = raw_length = row_slots = row_width = 0;
        for (uint32_t &e : palette)
            e = 0;
        mem_fd = mkstemp(mem_path.data());
        ASSERT_GE(mem_fd, 0);
        ASSERT_EQ(ftruncate(mem_fd, 0x08000000), 0);
    }

    void TearDown() override
    {
        if (mem_fd >= 0)
            close(mem_fd);
        mem_fd = -1;
        unlink(mem_path.c_str());
    }

    // A layer group's registers, as the controller would hold them.
    void set_layer(uint32_t group, bool enabled, uint32_t code, uint32_t hstride, uint32_t vstride,
                   uint32_t address)
    {
        register_file[group + 0x18] = code << 16 | (enabled ? 0x20 : 0) | 0x3;
        register_file[group + 0x1C] = hstride;
        register_file[group + 0x20] = vstride;
        register_file[group + 0x2C] = address;
    }

    void set_screen(uint32_t block, int width, int height)
    {
        register_file[block + 4] = uint32_t(height - 1) << 16 | uint32_t(width - 1);
    }

    // Rows sized for the test's own conversions, outside any grab.
    void give_rows(int width, int height)
    {
        for (int i = 0; i < row_slots; i++)
            free(row_table[i]);
        free(row_table);
        row_table = static_cast<uint8_t **>(calloc(height, sizeof *row_table));
        for (int i = 0; i < height; i++)
            row_table[i] = static_cast<uint8_t *>(calloc(width, 3));
        row_slots = height;
        row_width = width;
    }

    void give_raw(const std::vector<uint8_t> &bytes)
    {
        free(raw_buffer);
        raw_buffer = static_cast<uint8_t *>(malloc(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), raw_buffer);
        raw_capacity = raw_length = int32_t(bytes.size());
    }
};
