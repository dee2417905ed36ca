// The runner's command line, read with getopt_long; the comma lists of
// --layer and --without with getsubopt.
#include "options.h"
#include "window.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char HELP[] =
    "usage: tavro-emu [OPTION...] [--] COMMAND [ARG...]\n"
    "Runs COMMAND on an emulated handheld: its /dev/mem, /dev/GPIO, /dev/fb0,\n"
    "/tmp/tavro.pid and /usr/gp2x are routed into one folder by a preload\n"
    "library, while a display controller with a 60 Hz sync runs beside it.\n"
    "Prints nothing of its own on success; exits with COMMAND's status\n"
    "(128+N if a signal N killed it), 125 on its own failure.\n"
    "\n"
    "  --dir DIR           build the device in DIR and keep it (default: a fresh\n"
    "                      temporary folder, removed at the end)\n"
    "  --screen WxH        primary display size (default 320x240)\n"
    "  --screen2 WxH       secondary display size (default: the primary's)\n"
    "  --layer L:LIST      set up layer L (p0, p1, s0, s1); LIST is a comma list of\n"
    "                      on, off, format=8|16|24|0xCODE, hstride=N, vstride=N,\n"
    "                      addr=0xN, ctl=0xN (raw LAYER_CONTROL), picture=FILE.png.\n"
    "                      format=8|16|24 also sets hstride 1|2|3 and vstride\n"
    "                      width*hstride unless given. Default: p1 on, 16 bpp at\n"
    "                      0x03101000; p0 16 bpp at 0x02800000, s0 24 bpp at\n"
    "                      0x03800000, s1 8 bpp at 0x03C00000, all three off.\n"
    "                      Control bits 0-3 start as 0x3.\n"
    "  --picture FILE.png  picture for every layer (tiled from the top-left)\n"
    "  --pattern           built-in test pattern, turned per layer (default)\n"
    "  --moving            the pictures move: each sync they are drawn again one\n"
    "                      pixel further left, into each layer still set up as at\n"
    "                      the start (not while another program, such as a menu\n"
    "                      on an overlay, has set it up otherwise)\n"
    "  --without DEV,...   leave out dev/DEV (mem, GPIO or fb0): its open fails\n"
    "                      with ENOENT; fb0-info keeps dev/fb0 but its screen\n"
    "                      information query fails with EIO; repeatable\n"
    "  --mem-size N        size of physical memory (dev/mem); mappings past it\n"
    "                      fail with ENXIO (default: 0xC0010000 or enough for\n"
    "                      every layer)\n"
    "  --no-regs           physical memory ends at 0xC0000000: the register\n"
    "                      window cannot be mapped\n"
    "  --buttons W@A-B,... hold raw button word W (hex) from A to B seconds after\n"
    "                      the start (words of overlapping spans are or-ed, 0\n"
    "                      outside them)\n"
    "  --screenshot FILE   write what the primary screen shows as PNG at the end\n"
    "                      (with --window: when the window is closed, if sooner)\n"
    "  --window            show the screens at every sync in a window (the\n"
    "                      secondary beside the primary while one of its layers\n"
    "                      is on), and press the buttons from the keyboard\n"
    "                      (or-ed with --buttons):\n"
    "                      " WINDOW_KEYS_PAD "\n"
    "                      " WINDOW_KEYS_REST "\n"
    "                      Closing the window ends COMMAND (SIGTERM to its\n"
    "                      process group). Needs DISPLAY or WAYLAND_DISPLAY.\n"
    "  --scale N           window pixels per screen pixel, 1-8 (default 2)\n"
    "  --wait-all          run the device until every process COMMAND started has\n"
    "                      ended, not only COMMAND; each one's end goes to\n"
    "                      exits.log as \"PID STATUS\"; TERM, INT or HUP once\n"
    "                      COMMAND has ended kill the rest (status 128+N)\n"
    "Faults:\n"
    "  --setpriority-error N  setpriority fails with errno N\n"
    "  --move-layer L:ADDR at the program's first mapping of frame memory, layer\n"
    "                      L's address register changes to ADDR\n"
    "Running:\n"
    "  --attach            run COMMAND on the device that another tavro-emu is\n"
    "                      running in --dir DIR, leaving the device as it is\n"
    "  --shim FILE         preload library (default: libemudevice.so beside the\n"
    "                      runner)\n"
    "  --no-preload        do not set LD_PRELOAD (for a command that puts the\n"
    "                      library in itself, as qemu-user's -E does); the runner\n"
    "                      exports TAVRO_EMU_SHIM with its path\n"
    "  --bind-devices      no preload library (for a static program): run COMMAND\n"
    "                      in a private user and mount namespace whose /dev holds\n"
    "                      only null and dev/mem, dev/GPIO, dev/fb0 bound in\n"
    "                      (plain files: no button reads are counted, no ioctl\n"
    "                      is answered, no store is seen; /tmp and /usr/gp2x\n"
    "                      are not routed)\n"
    "  --help              this text\n"
    "\n"
    "The command sees TAVRO_EMU_ROOT, the folder:\n"
    "  dev/mem             physical memory, sparse; registers at 0xC0000000\n"
    "  dev/GPIO            4 bytes, the raw button word, little-endian; rewrite\n"
    "                      it in place (pwrite) to press buttons\n"
    "  dev/fb0             the framebuffer: its screen information is id[16],\n"
    "                      smem_start (8 bytes), smem_len, line_length, xres,\n"
    "                      yres, bits_per_pixel (4 bytes each), little-endian;\n"
    "                      reads and mappings give its memory\n"
    "  tmp/                stands for /tmp (tmp/tavro.pid), kept with --dir\n"
    "  gpio-reads          4 bytes, little-endian: reads of dev/GPIO so far\n"
    "  usr/gp2x/gp2xmenu   stand-in launcher; each start adds a line\n"
    "                      \"pid=P cwd=DIR argv0=A args=...\" to launcher.log\n"
    "  setpriority.log     one line \"which who prio\" per setpriority call (the\n"
    "                      call is not applied)\n"
    "  sleep.log           one line per sleep call: its seconds\n"
    "  regwrites.log       one line \"OFFSET VALUE\" (hex, offset in the window)\n"
    "                      per register store, x86-64 only\n"
    "  refused.log         one line \"CALL PATH\" per refused open of one of this\n"
    "                      machine's device nodes (memory, ports, framebuffers,\n"
    "                      GPUs, buttons, disks): the call fails with EACCES\n"
    "  sync-untrapped      present when the library cannot see stores: the sync\n"
    "                      flag is then a short pulse\n"
    "The logs are emptied at the start.\n";

enum {
    OPT_DIR = 256, OPT_SCREEN, OPT_SCREEN2, OPT_LAYER, OPT_PICTURE, OPT_PATTERN, OPT_MOVING, OPT_WITHOUT,
    OPT_MEM_SIZE, OPT_NO_REGS, OPT_BUTTONS, OPT_SCREENSHOT, OPT_WINDOW, OPT_SCALE, OPT_WAIT_ALL,
    OPT_SETPRIORITY_ERROR, OPT_MOVE_LAYER, OPT_ATTACH, OPT_SHIM, OPT_NO_PRELOAD, OPT_BIND_DEVICES, OPT_HELP,
};

static const option long_options[] = {
    {"dir", required_argument, nullptr, OPT_DIR},
    {"screen", required_argument, nullptr, OPT_SCREEN},
    {"screen2", required_argument, nullptr, OPT_SCREEN2},
    {"layer", required_argument, nullptr, OPT_LAYER},
    {"picture", required_argument, nullptr, OPT_PICTURE},
    {"pattern", no_argument, nullptr, OPT_PATTERN},
    {"moving", no_argument, nullptr, OPT_MOVING},
    {"without", required_argument, nullptr, OPT_WITHOUT},
    {"mem-size", required_argument, nullptr, OPT_MEM_SIZE},
    {"no-regs", no_argument, nullptr, OPT_NO_REGS},
    {"buttons", required_argument, nullptr, OPT_BUTTONS},
    {"screenshot", required_argument, nullptr, OPT_SCREENSHOT},
    {"window", no_argument, nullptr, OPT_WINDOW},
    {"scale", required_argument, nullptr, OPT_SCALE},
    {"wait-all", no_argument, nullptr, OPT_WAIT_ALL},
    {"setpriority-error", required_argument, nullptr, OPT_SETPRIORITY_ERROR},
    {"move-layer", required_argument, nullptr, OPT_MOVE_LAYER},
    {"attach", no_argument, nullptr, OPT_ATTACH},
    {"shim", required_argument, nullptr, OPT_SHIM},
    {"no-preload", no_argument, nullptr, OPT_NO_PRELOAD},
    {"bind-devices", no_argument, nullptr, OPT_BIND_DEVICES},
    {"help", no_argument, nullptr, OPT_HELP},
    {nullptr, 0, nullptr, 0},
};

// A whole number in C's notation (0x for hex) that fits in 32 bits.
static bool parse_u32(const char *s, uint32_t *out)
{
    char *end;
    if (!s || !*s)
        return false;
    unsigned long long n = strtoull(s, &end, 0);
    if (*end || n > 0xFFFFFFFF)
        return false;
    *out = (uint32_t)n;
    return true;
}

static bool parse_size(const char *s, int *w, int *h)
{
    int used = -1;
    return sscanf(s, "%dx%d%n", w, h, &used) == 2 && !s[used] && *w >= 1 && *h >= 1 && *w <= 4096 &&
           *h <= 4096;
}

// The layer that "p1:..." and the like name, or -1.
static int layer_index(const char *s)
{
    for (int l = 0; l < LAYER_COUNT; l++)
        if (!strncmp(s, dc_layer_name[l], 2) && s[2] == ':')
            return l;
    return -1;
}

// What the command line set of a layer; the rest follows from it.
struct layer_choice {
    uint32_t format;
    bool on, hstride_set, vstride_set, ctl_set;
};

static bool parse_layer(char *arg, runner_config *cfg, layer_choice *choice)
{
    enum { ON, OFF, FORMAT, HSTRIDE, VSTRIDE, ADDR, CTL, PICTURE };
    static char *const keys[] = {(char *)"on", (char *)"off", (char *)"format", (char *)"hstride",
                                 (char *)"vstride", (char *)"addr", (char *)"ctl", (char *)"picture", nullptr};
    int l = layer_index(arg);
    if (l < 0)
        return false;
    layer_setup *s = &cfg->display.layer[l];
    layer_choice *c = &choice[l];
    char *list = arg + 3, *value;
    while (*list) {
        int key = getsubopt(&list, keys, &value);
        uint32_t n = 0;
        if (key == ON || key == OFF) {
            if (value)
                return false;
            c->on = key == ON;
        } else if (key == PICTURE && value && *value) {
            cfg->layer_picture[l] = value;
        } else if (key < FORMAT || key > CTL || !parse_u32(value, &n)) {
            return false;
        } else if (key == FORMAT) {
            c->format = n == 8 ? DC_FORMAT_8 : n == 16 ? DC_FORMAT_16 : n == 24 ? DC_FORMAT_24 : n;
            if (n > 0xFFFF)
                return false;
        } else if (key == HSTRIDE) {
            s->hstride = n;
            c->hstride_set = true;
        } else if (key == VSTRIDE) {
            s->vstride = n;
            c->vstride_set = true;
        } else if (key == ADDR) {
            s->address = n;
        } else {
            s->control = n;
            c->ctl_set = true;
        }
    }
    return true;
}

static bool parse_without(char *list, int *without)
{
    static char *const devices[] = {(char *)"mem", (char *)"GPIO", (char *)"fb0", (char *)"fb0-info", nullptr};
    static const int flags[] = {WITHOUT_MEM, WITHOUT_GPIO, WITHOUT_FB0, WITHOUT_FB0_INFO};
    char *value;
    while (*list) {
        int device = getsubopt(&list, devices, &value);
        if (device < 0 || value)
            return false;
        *without |= flags[device];
    }
    return true;
}

// Spans "W@A-B", comma-separated: W in hex, A and B in seconds.
static bool parse_buttons(char *list, runner_config *cfg)
{
    char *rest;
    for (char *item = strtok_r(list, ",", &rest); item; item = strtok_r(nullptr, ",", &rest)) {
        button_span *b = &cfg->buttons[cfg->button_count];
        int used = -1;
        if (cfg->button_count == 64 || sscanf(item, "%x@%lf-%lf%n", &b->word, &b->from, &b->to, &used) != 3 ||
            item[used] || b->to < b->from)
            return false;
        cfg->button_count++;
    }
    return true;
}

static bool parse_move(const char *arg, runner_config *cfg)
{
    int l = layer_index(arg);
    if (l < 0 || !parse_u32(arg + 3, &cfg->move_value))
        return false;
    cfg->move_offset = dc_layer_base[l] + DC_ADDRESS;
    return true;
}

uint32_t buttons_at(const runner_config *cfg, double t)
{
    uint32_t word = 0;
    for (int i = 0; i < cfg->button_count; i++)
        if (t >= cfg->buttons[i].from && t < cfg->buttons[i].to)
            word |= cfg->buttons[i].word;
    return word;
}

// Strides and control words that were not given follow from the format and
// the screen size, which may come later on the line.
static void complete_layers(runner_config *cfg, const layer_choice *choice)
{
    for (int l = 0; l < LAYER_COUNT; l++) {
        layer_setup *s = &cfg->display.layer[l];
        const layer_choice *c = &choice[l];
        int bytes = format_bytes(c->format);
        if (!c->hstride_set)
            s->hstride = bytes ? (uint32_t)bytes : 2;
        if (!c->vstride_set)
            s->vstride = (uint32_t)cfg->display.width[layer_block(l)] * s->hstride;
        if (!c->ctl_set)
            s->control = c->format << DC_FORMAT_SHIFT | (c->on ? DC_CONTROL_ENABLE : 0) | 0x3;
    }
}

static int bad(const char *what, const char *arg)
{
    fprintf(stderr, "tavro-emu: bad %s: %s (see --help)\n", what, arg ? arg : "(missing)");
    return -1;
}

static bool parse_option(int option, char *arg, runner_config *cfg, layer_choice *choice, bool *screen2)
{
    uint32_t n;
    switch (option) {
    case OPT_DIR: cfg->dir = arg; return true;
    case OPT_SCREEN: return parse_size(arg, &cfg->display.width[0], &cfg->display.height[0]);
    case OPT_SCREEN2:
        *screen2 = true;
        return parse_size(arg, &cfg->display.width[1], &cfg->display.height[1]);
    case OPT_LAYER: return parse_layer(arg, cfg, choice);
    case OPT_PICTURE: cfg->picture = arg; return true;
    case OPT_PATTERN: cfg->picture = nullptr; return true;
    case OPT_MOVING: cfg->moving = true; return true;
    case OPT_WITHOUT: return parse_without(arg, &cfg->without);
    case OPT_MEM_SIZE: {
        char *end;
        cfg->mem_size = strtoull(arg, &end, 0);
        return *arg && !*end && cfg->mem_size;
    }
    case OPT_NO_REGS: cfg->mem_size = REGS_PHYS; return true;
    case OPT_BUTTONS: return parse_buttons(arg, cfg);
    case OPT_SCREENSHOT: cfg->screenshot = arg; return true;
    case OPT_WINDOW: cfg->window = true; return true;
    case OPT_SCALE:
        if (!parse_u32(arg, &n) || n < 1 || n > 8)
            return false;
        cfg->scale = (int)n;
        return true;
    case OPT_WAIT_ALL: cfg->wait_all = true; return true;
    case OPT_SETPRIORITY_ERROR:
        return parse_u32(arg, &cfg->priority_errno) && cfg->priority_errno >= 1 && cfg->priority_errno <= 4095;
    case OPT_MOVE_LAYER: return parse_move(arg, cfg);
    case OPT_ATTACH: cfg->attach = true; return true;
    case OPT_SHIM: cfg->shim = arg; return true;
    case OPT_NO_PRELOAD: cfg->preload = false; return true;
    case OPT_BIND_DEVICES:
        cfg->bind_devices = true;
        cfg->preload = false;
        return true;
    }
    return false;
}

int parse_options(int argc, char **argv, runner_config *cfg)
{
    static const uint32_t default_address[LAYER_COUNT] = {0x02800000, 0x03101000, 0x03800000, 0x03C00000};
    static const uint32_t default_format[LAYER_COUNT] = {DC_FORMAT_16, DC_FORMAT_16, DC_FORMAT_24, DC_FORMAT_8};
    layer_choice choice[LAYER_COUNT] = {};
    bool screen2 = false;
    *cfg = runner_config{};
    cfg->display.width[0] = 320;
    cfg->display.height[0] = 240;
    cfg->display.status = 0x3;
    cfg->preload = true;
    cfg->scale = 2;
    for (int l = 0; l < LAYER_COUNT; l++) {
        cfg->display.layer[l].address = default_address[l];
        choice[l].format = default_format[l];
        choice[l].on = l == LAYER_P1;
    }
    // "+": the options end at the command, whose own options are its own.
    for (int option, index = 0; (option = getopt_long(argc, argv, "+", long_options, &index)) != -1;) {
        if (option == OPT_HELP) {
            fputs(HELP, stdout);
            return 1;
        }
        if (option == '?') {
            fputs("tavro-emu: see --help\n", stderr);
            return -1;
        }
        // Parsing cuts a list up: the message shows it as given.
        char given[256] = "";
        if (optarg)
            snprintf(given, sizeof given, "%s", optarg);
        if (!parse_option(option, optarg, cfg, choice, &screen2)) {
            fprintf(stderr, "tavro-emu: bad --%s: %s (see --help)\n", long_options[index].name, given);
            return -1;
        }
    }
    if (optind >= argc)
        return bad("command", nullptr);
    if (cfg->attach && !cfg->dir)
        return bad("--attach without --dir", nullptr);
    if (cfg->attach && (cfg->window || cfg->moving))
        return bad("option with --attach", cfg->window ? "--window" : "--moving");
    if (!screen2) {
        cfg->display.width[1] = cfg->display.width[0];
        cfg->display.height[1] = cfg->display.height[0];
    }
    complete_layers(cfg, choice);
    cfg->command = argv + optind;
    return 0;
}
