// The runner's command line.
#include "runner.h"
#include "window.h"

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
    "  --screenshot FILE   write what the primary screen shows as PNG at the end\n"
    "                      (with --window: when the window is closed, if sooner)\n"
    "  --screenshot2 FILE  ... and the secondary screen (its own output)\n"
    "  --screenshot-at S   ... S seconds after the start instead (or at the end\n"
    "                      if COMMAND ends sooner)\n"
    "  --window            show the screen in a window at every sync, and press\n"
    "                      the buttons from the keyboard (or-ed with --buttons):\n"
    "                      " WINDOW_KEYS_PAD "\n"
    "                      " WINDOW_KEYS_REST "\n"
    "                      Closing the window ends COMMAND (SIGTERM to its\n"
    "                      process group). Needs DISPLAY or WAYLAND_DISPLAY.\n"
    "  --scale N           window pixels per screen pixel, 1-8 (default 2)\n"
    "  --wait-all          run the device until every process COMMAND started has\n"
    "                      ended, not only COMMAND; each one's end goes to\n"
    "                      exits.log as \"PID STATUS\"\n"
    "  --fb-addr ADDR      fb0's memory (smem_start) at ADDR instead of layer 1's\n"
    "  --reg OFF=VALUE     register at offset OFF of the window starts as VALUE\n"
    "                      (after the layers are set up); repeatable\n"
    "Faults:\n"
    "  --setpriority-error N  setpriority fails with errno N\n"
    "  --gpio-short A-B    button reads A to B (counted from 1) return 2 bytes\n"
    "  --gpio-fail A-B     button reads A to B fail with EIO\n"
    "  --move-layer L:ADDR at the program's first mapping of frame memory, layer\n"
    "                      L's address register changes to ADDR\n"
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

static bool parse_span(const char *s, uint32_t *from, uint32_t *to)
{
    char *end;
    unsigned long a = strtoul(s, &end, 10);
    if (*end != '-' || a < 1)
        return false;
    unsigned long b = strtoul(end + 1, &end, 10);
    if (*end || b < a || b > 0xFFFFFFFF)
        return false;
    *from = (uint32_t)a;
    *to = (uint32_t)b;
    return true;
}

static bool parse_reg(const char *s, runner_config *cfg)
{
    char *end;
    display_config *d = &cfg->display;
    unsigned long offset = strtoul(s, &end, 0);
    if (*end != '=' || offset >= REGS_SIZE || (offset & 3) || d->presets == 32)
        return false;
    uint64_t value;
    if (!parse_number(end + 1, &value) || value > 0xFFFFFFFF)
        return false;
    d->preset[d->presets].offset = (uint32_t)offset;
    d->preset[d->presets++].value = (uint32_t)value;
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
    *cfg = runner_config{};
    cfg->display.width[0] = 320;
    cfg->display.height[0] = 240;
    cfg->display.status = 0x3;
    cfg->screenshot_at = -1;
    cfg->preload = true;
    cfg->scale = 2;
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
        } else if (!strcmp(o, "--window")) {
            cfg->window = true;
        } else if (!strcmp(o, "--moving")) {
            cfg->moving = true;
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
        } else if (!strcmp(o, "--screenshot2")) {
            cfg->screenshot2 = arg;
        } else if (!strcmp(o, "--fb-addr")) {
            uint64_t n;
            if (!parse_number(arg, &n) || n > 0xFFFFFFFF)
                return bad("address", arg);
            cfg->fb_address = (uint32_t)n;
            cfg->fb_address_set = true;
        } else if (!strcmp(o, "--reg")) {
            if (!parse_reg(arg, cfg))
                return bad("register", arg);
        } else if (!strcmp(o, "--setpriority-error")) {
            uint64_t n;
            if (!parse_number(arg, &n) || n < 1 || n > 4095)
                return bad("errno", arg);
            cfg->priority_errno = (uint32_t)n;
        } else if (!strcmp(o, "--gpio-short")) {
            if (!parse_span(arg, &cfg->gpio_faults.short_from, &cfg->gpio_faults.short_to))
                return bad("read span", arg);
        } else if (!strcmp(o, "--gpio-fail")) {
            if (!parse_span(arg, &cfg->gpio_faults.fail_from, &cfg->gpio_faults.fail_to))
                return bad("read span", arg);
        } else if (!strcmp(o, "--move-layer")) {
            int l = layer_index(arg);
            uint64_t n;
            if (l < 0 || !parse_number(arg + 3, &n) || n > 0xFFFFFFFF)
                return bad("layer move", arg);
            cfg->move_offset = dc_layer_base[l] + DC_ADDRESS;
            cfg->move_value = (uint32_t)n;
        } else if (!strcmp(o, "--screenshot-at")) {
            char *end;
            cfg->screenshot_at = strtod(arg, &end);
            if (*end || cfg->screenshot_at < 0)
                return bad("time", arg);
        } else if (!strcmp(o, "--shim")) {
            cfg->shim = arg;
        } else if (!strcmp(o, "--scale")) {
            uint64_t n;
            if (!parse_number(arg, &n) || n < 1 || n > 8)
                return bad("scale", arg);
            cfg->scale = (int)n;
        } else {
            return bad("option", o);
        }
    }
    if (i >= argc)
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
    cfg->command = argv + i;
    return 0;
}
