// What the unit tests share: stand-ins for the register window and for the
// system calls that would wait or flush the machine's disks, capture
// buffers set by hand, and a fresh working folder.
#pragma once
#include "capture/buffers.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

// The registers. The display controller raises SYNC_PENDING in its status
// register, a write-1-to-clear flag, at every third read of it.
extern std::map<uint32_t, uint32_t> register_file;
extern int status_reads;  // reads of the status register so far

extern std::vector<unsigned> pauses;  // pauses asked for in microseconds, none waited out
extern int syncs;                     // calls of sync(), none made
extern int fsync_error;               // errno of every fsync(), or 0 to flush
extern int fchmod_error;              // errno of every fchmod(), or 0 to change the mode

// Capture buffers as a grab would leave them: rows of width pixels, each
// byte set to fill, and the copy; the buffer goes on past the copy with 0xFF
// bytes, which a conversion must never show.
inline void set_capture(const std::vector<uint8_t> &copy, int width, int height, uint8_t fill = 0)
{
    for (int i = 0; i < row_slots; i++)
        free(row_table[i]);
    free(row_table);
    row_table = static_cast<uint8_t **>(calloc(height, sizeof *row_table));
    for (int i = 0; i < height; i++)
        row_table[i] = static_cast<uint8_t *>(memset(malloc(size_t(width) * 3), fill, size_t(width) * 3));
    row_slots = height;
    row_width = width;
    raw_length = int32_t(copy.size());
    raw_capacity = raw_length + 16;
    raw_buffer = static_cast<uint8_t *>(memset(realloc(raw_buffer, raw_capacity), 0xFF, raw_capacity));
    std::copy(copy.begin(), copy.end(), raw_buffer);
}

// Runs each test in a fresh empty working folder, removed afterwards; in
// memory where it can be, since one test makes 65,536 files.
class InTempDir : public testing::Test {
protected:
    char dir[40] = "/tmp/tavro-unit-cwd-XXXXXX";

    void SetUp() override
    {
        if (access("/dev/shm", W_OK) == 0)
            memcpy(dir, "/dev/shm/tavro-unit-cwd-XXXXXX", 31);
        ASSERT_TRUE(mkdtemp(dir) && chdir(dir) == 0) << dir;
    }
    void TearDown() override { ASSERT_TRUE(chdir("/tmp") == 0 && system(("rm -rf " + std::string(dir)).c_str()) == 0); }
};
