// tavro-emu: builds an emulated device in a folder, runs a command on it
// with the preload shim, and drives the display controller and the buttons
// while the command runs. Folder layout in layout.h and in --help.
#include "display_model.h"
#include "isolate.h"
#include "layout.h"
#include "motion.h"
#include "picture.h"
#include "runner.h"
#include "window.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static const int FAILED = 125;                 // the runner's own failure
static const long SYNC_NS = 1000000000L / 60;
static const long PULSE_NS = 1000000L;         // sync flag pulse without a trap

static char root[PATH_MAX];
static display_state display;
static emu_shared *shared;
static int mem_fd = -1;
static volatile sig_atomic_t forward_signal;   // signal to pass on to the command

static void on_signal(int sig)
{
    forward_signal = sig;
}

static int fail(const char *what, const char *path)
{
    fprintf(stderr, "tavro-emu: %s %s: %s\n", what, path, strerror(errno));
    return -1;
}

// The root is short enough for every name in it (checked in main).
static void root_path(char *out, const char *name)
{
    if ((size_t)snprintf(out, PATH_MAX, "%s%s", root, name) >= PATH_MAX)
        out[0] = 0;
}

static int write_file(const char *name, const void *data, size_t size, mode_t mode)
{
    char path[PATH_MAX];
    root_path(path, name);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || write(fd, data, size) != (ssize_t)size || close(fd))
        return fail("cannot write", path);
    return chmod(path, mode) ? fail("cannot chmod", path) : 0;
}

// Enough for every layer, within the 4 GiB a 32-bit address reaches.
static uint64_t needed_memory(const runner_config *cfg)
{
    uint64_t end = REGS_PHYS + REGS_SIZE;
    for (int l = 0; l < LAYER_COUNT; l++) {
        const layer_setup *s = &cfg->display.layer[l];
        uint64_t last = s->address + (uint64_t)s->vstride * cfg->display.height[layer_block(l)];
        if (last > end)
            end = (last + 0xFFF) & ~(uint64_t)0xFFF;
    }
    return end < (1ull << 32) ? end : 1ull << 32;
}

static int fill_pictures(const runner_config *cfg)
{
    for (int l = 0; l < LAYER_COUNT; l++) {
        int w = cfg->display.width[layer_block(l)], h = cfg->display.height[layer_block(l)];
        const char *file = cfg->layer_picture[l] ? cfg->layer_picture[l] : cfg->picture;
        uint8_t *screen = (uint8_t *)malloc((size_t)w * h * 3);
        if (!screen)
            return fail("out of memory for", "a picture");
        if (file) {
            int pw, ph;
            uint8_t *pic = load_png(file, &pw, &ph);
            if (!pic) {
                free(screen);
                fprintf(stderr, "tavro-emu: cannot read PNG %s\n", file);
                return -1;
            }
            tile_picture(pic, pw, ph, screen, w, h);
            free(pic);
        } else {
            make_pattern(screen, w, h, l);
        }
        display_fill_layer(&display, l, screen, w, h);
        int kept = cfg->moving ? motion_keep(l, screen, w, h) : 0;
        free(screen);
        if (kept)
            return fail("out of memory for", "a picture");
    }
    return 0;
}

static int make_memory(const runner_config *cfg)
{
    char path[PATH_MAX];
    uint64_t size = cfg->mem_size ? cfg->mem_size : needed_memory(cfg);
    root_path(path, EMU_MEM);
    mem_fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (mem_fd < 0 || ftruncate(mem_fd, (off_t)size))
        return fail("cannot make", path);
    void *mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd, 0);
    if (mem == MAP_FAILED)
        return fail("cannot map", path);
    display_init(&display, (uint8_t *)mem, size, shared->palette, &cfg->display);
    return fill_pictures(cfg);
}

// ROOT/shared: the palettes and the faults to inject, mapped by the shim.
static int make_shared(const runner_config *cfg)
{
    char path[PATH_MAX];
    root_path(path, EMU_SHARED);
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, sizeof *shared))
        return fail("cannot make", path);
    void *m = mmap(nullptr, sizeof *shared, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (m == MAP_FAILED)
        return fail("cannot map", path);
    shared = (emu_shared *)m;
    shared->priority_errno = cfg->priority_errno;
    shared->buttons = cfg->gpio_faults;
    shared->move_offset = cfg->move_offset;
    shared->move_value = cfg->move_value;
    return 0;
}

static void put_le(uint8_t *p, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)(v >> 8 * i);
}

static uint32_t buttons_at(const runner_config *cfg, double t)
{
    uint32_t word = 0;
    for (int i = 0; i < cfg->button_count; i++)
        if (t >= cfg->buttons[i].from && t < cfg->buttons[i].to)
            word |= cfg->buttons[i].word;
    return word;
}

// What the framebuffer driver knows: layer 1 as set up at power-on.
static int make_fb0(const runner_config *cfg)
{
    const layer_setup *fb = &cfg->display.layer[LAYER_P1];
    int bytes = format_bytes(fb->control >> DC_FORMAT_SHIFT);
    fb0_record rec;
    memset(&rec, 0, sizeof rec);
    strcpy(rec.id, "emu-lcd");
    put_le(rec.smem_start, cfg->fb_address_set ? cfg->fb_address : fb->address, 8);
    put_le(rec.smem_len, (uint64_t)fb->vstride * cfg->display.height[0], 4);
    put_le(rec.line_length, fb->vstride, 4);
    put_le(rec.xres, (uint64_t)cfg->display.width[0], 4);
    put_le(rec.yres, (uint64_t)cfg->display.height[0], 4);
    put_le(rec.bits_per_pixel, (uint64_t)(bytes ? 8 * bytes : 16), 4);
    // Without its record the framebuffer answers no screen information query.
    size_t fb0_size = cfg->without & WITHOUT_FB0_INFO ? 0 : sizeof rec;
    return write_file(EMU_FB0, &rec, fb0_size, 0644);
}

// A file of the build beside the runner, else where the build put it.
static const char *beside_runner(const char *name, const char *built, char *out)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
        *strrchr(self, '/') = 0;
        if ((size_t)snprintf(out, PATH_MAX, "%s/%s", self, name) < PATH_MAX && !access(out, R_OK))
            return out;
    }
    snprintf(out, PATH_MAX, "%s", built);
    return out;
}

static int make_device(const runner_config *cfg)
{
    static const char *const folders[] = {"/dev", "/tmp", "/usr", EMU_LAUNCHER_DIR};
    static const char *const logs[] = {EMU_LAUNCHER_LOG, EMU_GPIO_READS, EMU_PRIORITY_LOG, EMU_SLEEP_LOG,
                                       EMU_REGWRITES_LOG, EMU_UNTRAPPED_MARK, EMU_REFUSED_LOG, EMU_EXITS_LOG,
                                       EMU_MEM, EMU_GPIO, EMU_FB0};
    char path[PATH_MAX];
    for (const char *f : folders) {
        root_path(path, f);
        if (mkdir(path, 0755) && errno != EEXIST)
            return fail("cannot make", path);
    }
    for (const char *f : logs) {
        root_path(path, f);
        if (unlink(path) && errno != ENOENT)
            return fail("cannot remove", path);
    }
    if (make_shared(cfg) || (!(cfg->without & WITHOUT_MEM) && make_memory(cfg)))
        return -1;
    uint8_t word[4];
    put_le(word, buttons_at(cfg, 0), 4);
    if (!(cfg->without & WITHOUT_GPIO) && write_file(EMU_GPIO, word, sizeof word, 0644))
        return -1;
    put_le(word, 0, 4);
    if (write_file(EMU_GPIO_READS, word, sizeof word, 0644))
        return -1;
    if (!(cfg->without & WITHOUT_FB0) && make_fb0(cfg))
        return -1;
    // The stand-in launcher is a program, so that it sees its real argv.
    char launcher[PATH_MAX];
    beside_runner("tavro-emu-launcher", EMU_LAUNCHER_PATH, launcher);
    root_path(path, EMU_LAUNCHER);
    if ((unlink(path) && errno != ENOENT) || symlink(launcher, path))
        return fail("cannot link", path);
    return 0;
}

static const char *find_shim(const runner_config *cfg, char *out)
{
    if (cfg->shim)
        return realpath(cfg->shim, out);
    return beside_runner("libemudevice.so", EMU_SHIM_PATH, out);
}

static pid_t start_command(const runner_config *cfg)
{
    char shim[PATH_MAX];
    if (!find_shim(cfg, shim)) {
        fprintf(stderr, "tavro-emu: cannot find the preload library\n");
        return -1;
    }
    pid_t pid = fork();
    if (pid > 0 && cfg->window)
        setpgid(pid, pid);
    if (pid)
        return pid < 0 ? fail("cannot fork", "") , -1 : pid;
    // The window's close ends the services the command leaves behind too.
    if (cfg->window)
        setpgid(0, 0);
    setenv(EMU_ROOT_VARIABLE, root, 1);
    setenv("TAVRO_EMU_SHIM", shim, 1);
    if (cfg->preload) {
        const char *old = getenv("LD_PRELOAD");
        char preload[2 * PATH_MAX];
        snprintf(preload, sizeof preload, "%s%s%s", shim, old && *old ? ":" : "", old && *old ? old : "");
        setenv("LD_PRELOAD", preload, 1);
    }
    if (cfg->bind_devices && enter_device_namespace(root))
        _exit(FAILED);
    execvp(cfg->command[0], cfg->command);
    fprintf(stderr, "tavro-emu: cannot run %s: %s\n", cfg->command[0], strerror(errno));
    _exit(errno == ENOENT ? 127 : 126);
}

static int screenshot_of(int block, const char *file)
{
    int w, h;
    display_screen(&display, block, &w, &h);
    uint8_t *rgb = (uint8_t *)malloc((size_t)w * h * 3);
    if (!rgb || (display_render(&display, block, rgb, w, h), save_png(file, rgb, w, h))) {
        free(rgb);
        fprintf(stderr, "tavro-emu: cannot write screenshot %s\n", file);
        return -1;
    }
    free(rgb);
    return 0;
}

// Each display block drives its own screen: one picture each.
static int take_screenshots(const runner_config *cfg)
{
    display_update(&display);
    int failed = cfg->screenshot ? screenshot_of(0, cfg->screenshot) : 0;
    if (cfg->screenshot2 && screenshot_of(1, cfg->screenshot2))
        failed = -1;
    return failed;
}

static double seconds(const timespec *a, const timespec *b)
{
    return (double)(b->tv_sec - a->tv_sec) + (double)(b->tv_nsec - a->tv_nsec) / 1e9;
}

static void add_ns(timespec *t, long ns)
{
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        t->tv_sec++;
    }
}

static void set_buttons(uint32_t word)
{
    char path[PATH_MAX];
    uint8_t le[4];
    put_le(le, word, 4);
    root_path(path, EMU_GPIO);
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 || pwrite(fd, le, 4, 0) != 4)
        fail("cannot press buttons in", path);
    if (fd >= 0)
        close(fd);
}

// With --wait-all every process's end goes to ROOT/exits.log, status as
// the runner itself reports one.
static void note_exit(pid_t pid, int st)
{
    char path[PATH_MAX], line[64];
    root_path(path, EMU_EXITS_LOG);
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    int n = snprintf(line, sizeof line, "%d %d\n", (int)pid, WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st));
    if (fd < 0 || write(fd, line, (size_t)n) != n)
        fail("cannot write", path);
    if (fd >= 0)
        close(fd);
}

// The screens as the screenshots show them, the secondary one beside the
// primary while any of its layers is on; returns the keys' button word.
static uint32_t show_window(bool *closed)
{
    static uint8_t *rgb, *part;
    static size_t room;
    int w[2] = {0, 0}, h[2] = {0, 0};
    bool second = (display.shown[LAYER_S0].control | display.shown[LAYER_S1].control) & DC_CONTROL_ENABLE;
    for (int b = 0; b < (second ? 2 : 1); b++)
        display_screen(&display, b, &w[b], &h[b]);
    int width = w[0] + w[1], height = h[0] > h[1] ? h[0] : h[1];
    size_t need = (size_t)width * height * 3;
    if (need > room) {
        free(rgb);
        free(part);
        rgb = (uint8_t *)malloc(need);
        part = (uint8_t *)malloc(need);
        room = rgb && part ? need : 0;
    }
    if (room) {
        memset(rgb, 0, need);
        for (int b = 0, x = 0; b < 2 && w[b]; x += w[b], b++) {
            display_render(&display, b, part, w[b], h[b]);
            for (int y = 0; y < h[b]; y++)
                memcpy(rgb + ((size_t)y * width + x) * 3, part + (size_t)y * w[b] * 3, (size_t)w[b] * 3);
        }
        window_show(rgb, width, height);
    }
    return window_poll(closed);
}

// One tick per sync: raise the flag, latch layers, move the buttons on, and
// take a timed screenshot; runs until the command (or, with --wait-all,
// every process it started) has ended. Returns the command's wait status.
static int run_device(const runner_config *cfg, pid_t child, int *screenshot_failed)
{
    char mark[PATH_MAX];
    timespec start, now, next;
    int status = 0;
    bool shots = cfg->screenshot || cfg->screenshot2;
    bool child_done = false, pulsing = false, shot = false;
    bool windowed = cfg->window, closed = false;
    uint32_t word = buttons_at(cfg, 0), keys = 0;
    root_path(mark, EMU_UNTRAPPED_MARK);
    clock_gettime(CLOCK_MONOTONIC, &start);
    next = start;
    for (;;) {
        pid_t pid;
        int st;
        while ((pid = waitpid(-1, &st, WNOHANG)) > 0) {
            if (pid == child) {
                status = st;
                child_done = true;
            }
            if (cfg->wait_all)
                note_exit(pid, st);
        }
        if (child_done && (!cfg->wait_all || (pid < 0 && errno == ECHILD)))
            break;
        if (forward_signal && (!child_done || cfg->window)) {
            kill(cfg->window ? -child : child, forward_signal);
            forward_signal = 0;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        double t = seconds(&start, &now);
        if (pulsing)
            display_end_pulse(&display);
        pulsing = false;
        if (seconds(&next, &now) >= 0) {
            display_vsync(&display);
            if (cfg->moving)
                motion_step(&display, &cfg->display);
            if (windowed)
                keys = show_window(&closed);
            if (windowed && closed) {
                // As at the end of the command: the device goes with it. The
                // end screenshot is what the window showed last, before the
                // programs on it answer the signal.
                if (shots && !shot) {
                    *screenshot_failed = take_screenshots(cfg);
                    shot = true;
                }
                window_close();
                windowed = false;
                keys = 0;
                kill(-child, SIGTERM);
            }
            pulsing = !access(mark, F_OK);
            add_ns(&next, SYNC_NS);
            if (seconds(&next, &now) > 0.1)   // fell far behind: do not catch up
                next = now;
        }
        if ((cfg->button_count || cfg->window) && (buttons_at(cfg, t) | keys) != word) {
            word = buttons_at(cfg, t) | keys;
            set_buttons(word);
        }
        if (shots && cfg->screenshot_at >= 0 && !shot && t >= cfg->screenshot_at) {
            *screenshot_failed = take_screenshots(cfg);
            shot = true;
        }
        timespec wake = next;
        if (pulsing) {
            wake = now;
            add_ns(&wake, PULSE_NS);
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    }
    if (shots && !shot)
        *screenshot_failed = take_screenshots(cfg);
    return status;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

int main(int argc, char **argv)
{
    runner_config cfg;
    int r = parse_options(argc, argv, &cfg);
    if (r)
        return r > 0 ? 0 : FAILED;
    if (cfg.window && window_open(cfg.scale, cfg.display.width[0], cfg.display.height[0]))
        return FAILED;
    if (cfg.dir) {
        if (mkdir(cfg.dir, 0755) && errno != EEXIST)
            return fail("cannot make", cfg.dir), FAILED;
        if (!realpath(cfg.dir, root))
            return fail("cannot find", cfg.dir), FAILED;
    } else {
        const char *tmp = getenv("TMPDIR");
        snprintf(root, sizeof root, "%s/tavro-emu.XXXXXX", tmp && *tmp == '/' ? tmp : "/tmp");
        if (!mkdtemp(root))
            return fail("cannot make", root), FAILED;
    }
    int status = FAILED;
    if (strlen(root) > PATH_MAX - 64) {
        fprintf(stderr, "tavro-emu: folder name too long: %s\n", root);
    } else if (cfg.attach) {
        // The device runs in the runner that made it: only start the command.
        pid_t child = start_command(&cfg);
        int st = 0;
        if (child > 0 && waitpid(child, &st, 0) == child)
            status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
        return status;
    } else if (!make_device(&cfg)) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = on_signal;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
        if (cfg.wait_all)
            prctl(PR_SET_CHILD_SUBREAPER, 1);
        pid_t child = start_command(&cfg);
        if (child > 0) {
            int screenshot_failed = 0;
            int st = run_device(&cfg, child, &screenshot_failed);
            status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
            if (screenshot_failed)
                status = FAILED;
        }
    }
    if (cfg.window)
        window_close();
    if (display.mem)
        munmap(display.mem, display.mem_size);
    if (shared)
        munmap(shared, sizeof *shared);
    if (mem_fd >= 0)
        close(mem_fd);
    if (!cfg.dir)
        nftw(root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    return status;
}
