// System calls the unit tests take over from the C library.
#pragma once
#include <vector>

extern std::vector<unsigned> pauses;  // pauses asked for in microseconds, none waited out
extern int syncs;                     // calls of sync(), none made
