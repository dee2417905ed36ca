// System calls the unit tests take over from the C library.
#pragma once
#include <vector>

// Nice values the code under test asked for, in order; none is applied.
extern std::vector<int> nice_requests;
