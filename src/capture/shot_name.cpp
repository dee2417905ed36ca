#include "capture/shot_name.h"

#include <cstdio>

uint32_t shot_counter = 0;

// The last name produced; the longest the counter can give has 20 characters.
static char shot_name[32];

const char *next_shot_name(int new_series)
{
    for (;;) {
        snprintf(shot_name, sizeof shot_name, "shot%i_%04i.png", int(int16_t(shot_counter >> 16)),
                 int(shot_counter & 0xFFFF));
        FILE *taken = fopen(shot_name, "r");
        if (!taken)
            return shot_name;
        fclose(taken);
        // The shot number carries into the series after 65535.
        shot_counter += new_series ? 0x10000 : 1;
    }
}
