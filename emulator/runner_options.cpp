// The runner's command line.
#include "runner.h"

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
    "  --without DEV       leave out dev/DEV (mem, GPIO or fb0): its open fails\n"
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
    "  --screenshot FILE   write what the screen shows as PNG at the end\n"
    "  --screenshot-at S   ... S seconds after the start instead (or at the end\n"
    "                      if COMMAND ends sooner)\n"
    "  --wait-all          run the device until every process COMMAND started has\n"
    "                      ended, not only COMMAND\n"
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
    "  dev/fb0             fixed screen info: id[16], smem_start (8 bytes),\n"
    "                      smem_len, line_length (4 bytes each), little-endian\n"
    "  tmp/                stands for /tmp (tmp/tavro.pid), kept with --dir\n"
    "  gpio-reads          4 bytes, little-endian: reads of dev/GPIO so far\n"
    "  usr/gp2x/gp2xmenu   stand-in launcher; each start adds a line\n"
    "                      \"pid=P cwd=DIR argv0=A args=...\" to launcher.log\n"
    "  setpriority.log     one line \"which who prio\" per setpriority call (the\n"
    "                      call is not applied)\n"
    "  regwrites.log       one line \"OFFSET VALUE\" (hex, offset in the window)\n"
    "                      per register store, x86-64 only\n"
    "  sync-untrapped      present when the library cannot see stores: the sync\n"
    "                      flag is then a short pulse\n"
    "The logs are emptied at the start.\n";

static bool parse_number(const char *s, uint64_t *out)
{
    char *end;
    if (!*s)
        return false;
    *out = strtoull(s, &end, 0);
    return !*end;
}

static bool parse_size(const char *s, int *w, int *h)
{
    char *end;
    long a = strtol(s, &end, 10);
    if (*end != 'x')
        return false;
    long b = strtol(end + 1, &end, 10);
    if (*end || a < 1 || b < 1 || a > 4096 || b > 4096)
        return false;
    *w = (int)a;
    *h = (int)b;
    return true;
}

static int layer_index(const char *s)
{
    for (int l = 0; l < LAYER_COUNT; l++)
        if (!strncmp(s, dc_layer_name[l], 2) && s[2] == ':')
            return l;
    return -1;
}

struct layer_choice {
    uint32_t format;
    bool on, hstride_set, vstride_set, ctl_set;
};

static bool parse_layer(char *list, runner_config *cfg, layer_choice *choice)
{
    int l = layer_index(list);
    if (l < 0)
        return false;
    layer_setup *s = &cfg->display.layer[l];
    layer_choice *c = &choice[l];
    for (char *item = strtok(list + 3, ","); item; item = strtok(nullptr, ",")) {
        char *eq = strchr(item, '=');
        const char *value = eq ? eq + 1 : "";
        uint64_t n = 0;
        if (eq)
            *eq = 0;
        if (!strcmp(item, "on") || !strcmp(item, "off")) {
            c->on = item[1] == 'n';
        } else if (!strcmp(item, "picture") && *value) {
            cfg->layer_picture[l] = value;
        } else if (!parse_number(value, &n) || n > 0xFFFFFFFF) {
            return false;
        } else if (!strcmp(item, "format")) {
            c->format = n == 8 ? DC_FORMAT_8 : n == 16 ? DC_FORMAT_16 : n == 24 ? DC_FORMAT_24 : (uint32_t)n;
            if (n > 0xFFFF)
                return false;
        } else if (!strcmp(item, "hstride")) {
            s->hstride = (uint32_t)n;
            c->hstride_set = true;
        } else if (!strcmp(item, "vstride")) {
            s->vstride = (uint32_t)n;
            c->vstride_set = true;
        } else if (!strcmp(item, "addr")) {
            s->address = (uint32_t)n;
        } else if (!strcmp(item, "ctl")) {
            s->control = (uint32_t)n;
            c->ctl_set = true;
        } else {
            return false;
        }
    }
    return true;
}

static bool parse_buttons(char *list, runner_config *cfg)
{
    for (char *item = strtok(list, ","); item; item = strtok(nullptr, ",")) {
        button_span *b = &cfg->buttons[cfg->button_count];
        char *end;
        if (cfg->button_count == 64)
            return false;
        b->word = (uint32_t)strtoul(item, &end, 16);
        if (*end != '@')
            return false;
        b->from = strtod(end + 1, &end);
        if (*end != '-')
            return false;
        b->to = strtod(end + 1, &end);
        if (*end || b->to < b->from)
            return false;
        cfg->button_count++;
    }
    return true;
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

int parse_options(int argc, char **argv, runner_config *cfg)
{
    static const uint32_t default_address[LAYER_COUNT] = {0x02800000, 0x03101000, 0x03800000, 0x03C00000};
    static const uint32_t default_format[LAYER_COUNT] = {DC_FORMAT_16, DC_FORMAT_16, DC_FORMAT_24, DC_FORMAT_8};
    layer_choice choice[LAYER_COUNT] = {};
    bool screen2 = false;
    memset(cfg, 0, sizeof *cfg);
    cfg->display.width[0] = 320;
    cfg->display.height[0] = 240;
    cfg->display.status = 0x3;
    cfg->screenshot_at = -1;
    cfg->preload = true;
    for (int l = 0; l < LAYER_COUNT; l++) {
        cfg->display.layer[l].address = default_address[l];
        choice[l].format = default_format[l];
        choice[l].on = l == LAYER_P1;
    }
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *o = argv[i];
        char *arg = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!strcmp(o, "--")) {
            i++;
            break;
        } else if (!strcmp(o, "--help")) {
            fputs(HELP, stdout);
            return 1;
        } else if (!strcmp(o, "--pattern")) {
            cfg->picture = nullptr;
        } else if (!strcmp(o, "--no-regs")) {
            cfg->mem_size = REGS_PHYS;
        } else if (!strcmp(o, "--wait-all")) {
            cfg->wait_all = true;
        } else if (!strcmp(o, "--attach")) {
            cfg->attach = true;
        } else if (!strcmp(o, "--no-preload")) {
            cfg->preload = false;
        } else if (!strcmp(o, "--bind-devices")) {
            cfg->bind_devices = true;
            cfg->preload = false;
        } else if (!arg) {
            return bad("option", o);
        } else if (i++, !strcmp(o, "--dir")) {
            cfg->dir = arg;
        } else if (!strcmp(o, "--screen")) {
            if (!parse_size(arg, &cfg->display.width[0], &cfg->display.height[0]))
                return bad("screen size", arg);
        } else if (!strcmp(o, "--screen2")) {
            if (!parse_size(arg, &cfg->display.width[1], &cfg->display.height[1]))
                return bad("screen size", arg);
            screen2 = true;
        } else if (!strcmp(o, "--layer")) {
            if (!parse_layer(arg, cfg, choice))
                return bad("layer", argv[i]);
        } else if (!strcmp(o, "--picture")) {
            cfg->picture = arg;
        } else if (!strcmp(o, "--without")) {
            if (!strcmp(arg, "mem"))
                cfg->without |= WITHOUT_MEM;
            else if (!strcmp(arg, "GPIO"))
                cfg->without |= WITHOUT_GPIO;
            else if (!strcmp(arg, "fb0"))
                cfg->without |= WITHOUT_FB0;
            else if (!strcmp(arg, "fb0-info"))
                cfg->without |= WITHOUT_FB0_INFO;
            else
                return bad("device", arg);
        } else if (!strcmp(o, "--mem-size")) {
            if (!parse_number(arg, &cfg->mem_size) || !cfg->mem_size)
                return bad("memory size", arg);
        } else if (!strcmp(o, "--buttons")) {
            if (!parse_buttons(arg, cfg))
                return bad("button timeline", argv[i]);
        } else if (!strcmp(o, "--screenshot")) {
            cfg->screenshot = arg;
        } else if (!strcmp(o, "--screenshot-at")) {
            char *end;
            cfg->screenshot_at = strtod(arg, &end);
            if (*end || cfg->screenshot_at < 0)
                return bad("time", arg);
        } else if (!strcmp(o, "--shim")) {
            cfg->shim = arg;
        } else {
            return bad("option", o);
        }
    }
    if (i >= argc)
        return bad("command", nullptr);
    if (cfg->attach && !cfg->dir)
        return bad("--attach without --dir", nullptr);
    if (!screen2) {
        cfg->display.width[1] = cfg->display.width[0];
        cfg->display.height[1] = cfg->display.height[0];
    }
    complete_layers(cfg, choice);
    cfg->command = argv + i;
    return 0;
}
