// System calls the unit tests take over from the C library.
#pragma once
#include <vector>

// Nice values the code under test asked for, in order; none is applied.
extern std::vector<int> nice_requests;

// Pauses asked for, in microseconds, in order; none is waited out.
extern std::vector<unsigned> pauses;
