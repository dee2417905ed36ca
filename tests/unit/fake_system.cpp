#include "fake_system.h"

#include <sys/resource.h>
#include <unistd.h>

std::vector<unsigned> pauses;
int syncs;

// Raising the test's own priority would only slow the machine down.
extern "C" int setpriority(int, id_t, int) noexcept
{
    return 0;
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
