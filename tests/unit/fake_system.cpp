#include "fake_system.h"

#include <sys/resource.h>

std::vector<int> nice_requests;

// Raising the test's own priority would only slow the machine down.
extern "C" int setpriority(int, id_t, int prio) noexcept
{
    nice_requests.push_back(prio);
    return 0;
}
