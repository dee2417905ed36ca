#include "capture/shot_name.h"

#include <cstdio>
#include <sys/stat.h>

uint32_t shot_counter = 0;

// The last name produced; the longest the counter can give has 20 characters.
static char shot_name[32];

// A name is taken when anything at all is there. It is looked at, not
// opened: a FIFO or a device named like a shot must not stop the program.
static bool taken(const char *name)
{
    struct stat st;
    return lstat(name, &st) == 0;
}

const char *next_shot_name(int new_series)
{
    // One full round of the field that steps, and no further.
    for (int probes = 0; probes < 0x10000; probes++) {
        snprintf(shot_name, sizeof shot_name, "shot%i_%04i.png", int(int16_t(shot_counter >> 16)),
                 int(shot_counter & 0xFFFF));
        if (!taken(shot_name))
            return shot_name;
        // The shot number carries into the series after 65535.
        shot_counter += new_series ? 0x10000 : 1;
    }
    fputs("tavro: no free shot name left\n", stderr);
    return nullptr;
}
