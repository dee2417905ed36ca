#include "fakes.h"
#include "device/register_window.h"
#include "display_model.h"

#include <cerrno>
#include <sys/syscall.h>

std::map<uint32_t, uint32_t> register_file;
int status_reads;
std::vector<unsigned> pauses;
int syncs;
int fsync_error;
int fchmod_error;

// Nothing is mapped: the register file is all there is.
void release_register_window() {}

uint32_t reg_read(uint32_t offset)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register read";
    if (offset == DC_STATUS && ++status_reads % 3 == 0)
        register_file[DC_STATUS] |= DC_STATUS_SYNC;
    return register_file[offset];
}

void reg_write(uint32_t offset, uint32_t value)
{
    EXPECT_EQ(offset % 4, 0u) << "unaligned register write";
    if (offset == DC_STATUS)  // write 1 to clear
        register_file[DC_STATUS] = (value & ~DC_STATUS_SYNC) | (register_file[DC_STATUS] & ~value & DC_STATUS_SYNC);
    else
        register_file[offset] = value;
}

// Fake time: the button pacing and the display pauses end at once.
extern "C" int usleep(useconds_t us)
{
    pauses.push_back(us);
    return 0;
}

// Flushing every file system of the machine is not the tests' business.
extern "C" void sync() noexcept
{
    syncs++;
}

// A disk that fails its flush, or a file system that refuses a mode.
extern "C" int fsync(int fd)
{
    if (fsync_error) {
        errno = fsync_error;
        return -1;
    }
    return int(syscall(SYS_fsync, fd));
}

extern "C" int fchmod(int fd, mode_t mode) noexcept
{
    if (fchmod_error) {
        errno = fchmod_error;
        return -1;
    }
    return int(syscall(SYS_fchmod, fd, mode));
}
