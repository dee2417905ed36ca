// The runner's settings, from its command line.
#pragma once
#include "display_model.h"

struct button_span {
    uint32_t word;
    double from, to;                 // seconds after the command starts
};

enum { WITHOUT_MEM = 1, WITHOUT_GPIO = 2, WITHOUT_FB0 = 4, WITHOUT_FB0_INFO = 8 };

struct runner_config {
    const char *dir;                 // kept folder, or null for a fresh one
    display_config display;
    const char *picture;             // PNG for every layer, or null: the pattern
    const char *layer_picture[LAYER_COUNT];
    int without;                     // WITHOUT_* device files left out
    uint64_t mem_size;               // size of dev/mem, 0 for enough
    button_span buttons[64];
    int button_count;
    const char *screenshot;          // the primary screen at the end, or null
    uint32_t priority_errno;         // setpriority fails with it; 0: succeeds
    uint32_t move_offset, move_value;   // layer address change at the first grab
    bool wait_all;
    bool attach;                     // run on the device another runner made in dir
    bool preload;                    // put the shim into LD_PRELOAD
    bool bind_devices;               // no shim: a namespace with the device files
    const char *shim;                // the preload library, or null: beside the runner
    bool window;                     // show the screen, take the keyboard's buttons
    int scale;                       // window pixels per screen pixel
    bool moving;                     // pictures redrawn at every sync, scrolled
    char **command;
};

// Fills cfg from argv; prints the reason and returns -1 on a bad line,
// returns 1 after printing the help.
int parse_options(int argc, char **argv, runner_config *cfg);
// The raw button word that the --buttons timeline holds t seconds after the
// start.
uint32_t buttons_at(const runner_config *cfg, double t);
