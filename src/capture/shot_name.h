// Names of numbered shot files in the working directory.
#pragma once
#include <cstdint>

// Series number in bits 16-31, shot number in bits 0-15.
extern uint32_t shot_counter;

// Returns the first free name from the counter on, "shot<series>_<shot>.png".
// A taken name steps the series when new_series is non-zero, else the shot;
// after 65536 taken names in a row, null with a message.
const char *next_shot_name(int new_series);
