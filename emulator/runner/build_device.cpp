#include "runner.h"
#include "framebuffer.h"
#include "motion.h"
#include "picture.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static void put_le(uint8_t *p, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)(v >> 8 * i);
}

static int write_file(const emulated_device *dev, const char *name, const void *data, size_t size, mode_t mode)
{
    char path[PATH_MAX];
    device_path(dev, name, path);
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

// The picture of layer l, w x h RGB888: a PNG tiled, or the pattern; null
// after printing why.
static uint8_t *layer_picture(const runner_config *cfg, int l, int w, int h)
{
    const char *file = cfg->layer_picture[l] ? cfg->layer_picture[l] : cfg->picture;
    uint8_t *screen = (uint8_t *)malloc((size_t)w * h * 3);
    if (!screen) {
        fail("out of memory for", "a picture");
        return nullptr;
    }
    if (!file) {
        make_pattern(screen, w, h, l);
        return screen;
    }
    int pw, ph;
    uint8_t *pic = load_png(file, &pw, &ph);
    if (!pic) {
        free(screen);
        fprintf(stderr, "tavro-emu: cannot read PNG %s\n", file);
        return nullptr;
    }
    tile_picture(pic, pw, ph, screen, w, h);
    free(pic);
    return screen;
}

static int fill_pictures(emulated_device *dev, const runner_config *cfg)
{
    for (int l = 0; l < LAYER_COUNT; l++) {
        int w = cfg->display.width[layer_block(l)], h = cfg->display.height[layer_block(l)];
        uint8_t *screen = layer_picture(cfg, l, w, h);
        if (!screen)
            return -1;
        display_fill_layer(&dev->display, l, screen, w, h);
        int kept = cfg->moving ? motion_keep(l, screen, w, h) : 0;
        free(screen);
        if (kept)
            return fail("out of memory for", "a picture");
    }
    return 0;
}

static int make_memory(emulated_device *dev, const runner_config *cfg)
{
    char path[PATH_MAX];
    uint64_t size = cfg->mem_size ? cfg->mem_size : needed_memory(cfg);
    device_path(dev, EMU_MEM, path);
    dev->mem_fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (dev->mem_fd < 0 || ftruncate(dev->mem_fd, (off_t)size))
        return fail("cannot make", path);
    void *mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, dev->mem_fd, 0);
    if (mem == MAP_FAILED)
        return fail("cannot map", path);
    display_init(&dev->display, (uint8_t *)mem, size, dev->shared->palette, &cfg->display);
    return fill_pictures(dev, cfg);
}

// ROOT/shared: the palettes and the faults to inject, mapped by the shim.
static int make_shared(emulated_device *dev, const runner_config *cfg)
{
    char path[PATH_MAX];
    device_path(dev, EMU_SHARED, path);
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, sizeof *dev->shared))
        return fail("cannot make", path);
    void *m = mmap(nullptr, sizeof *dev->shared, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (m == MAP_FAILED)
        return fail("cannot map", path);
    dev->shared = (emu_shared *)m;
    dev->shared->priority_errno = cfg->priority_errno;
    dev->shared->move_offset = cfg->move_offset;
    dev->shared->move_value = cfg->move_value;
    return 0;
}

// What the framebuffer driver knows: layer 1 as set up at power-on.
static int make_fb0(const emulated_device *dev, const runner_config *cfg)
{
    const layer_setup *fb = &cfg->display.layer[LAYER_P1];
    int bytes = format_bytes(fb->control >> DC_FORMAT_SHIFT);
    fb0_record rec;
    memset(&rec, 0, sizeof rec);
    strcpy(rec.id, "emu-lcd");
    put_le(rec.smem_start, fb->address, 8);
    put_le(rec.smem_len, (uint64_t)fb->vstride * cfg->display.height[0], 4);
    put_le(rec.line_length, fb->vstride, 4);
    put_le(rec.xres, (uint64_t)cfg->display.width[0], 4);
    put_le(rec.yres, (uint64_t)cfg->display.height[0], 4);
    put_le(rec.bits_per_pixel, (uint64_t)(bytes ? 8 * bytes : 16), 4);
    // Without its record the framebuffer answers no screen information query.
    size_t fb0_size = cfg->without & WITHOUT_FB0_INFO ? 0 : sizeof rec;
    return write_file(dev, EMU_FB0, &rec, fb0_size, 0644);
}

const char *beside_runner(const char *name, const char *built, char *out)
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

// The stand-in launcher is a program, so that it sees its real argv.
static int link_launcher(const emulated_device *dev)
{
    char launcher[PATH_MAX], path[PATH_MAX];
    beside_runner("tavro-emu-launcher", EMU_LAUNCHER_PATH, launcher);
    device_path(dev, EMU_LAUNCHER, path);
    if (unlink(path) && errno != ENOENT)
        return fail("cannot remove", path);
    return symlink(launcher, path) ? fail("cannot link", path) : 0;
}

static int make_folders(const emulated_device *dev)
{
    static const char *const folders[] = {"/dev", "/tmp", "/usr", EMU_LAUNCHER_DIR};
    static const char *const old[] = {EMU_LAUNCHER_LOG, EMU_GPIO_READS, EMU_PRIORITY_LOG, EMU_SLEEP_LOG,
                                      EMU_REGWRITES_LOG, EMU_UNTRAPPED_MARK, EMU_REFUSED_LOG, EMU_EXITS_LOG,
                                      EMU_MEM, EMU_GPIO, EMU_FB0};
    char path[PATH_MAX];
    for (const char *f : folders) {
        device_path(dev, f, path);
        if (mkdir(path, 0755) && errno != EEXIST)
            return fail("cannot make", path);
    }
    for (const char *f : old) {
        device_path(dev, f, path);
        if (unlink(path) && errno != ENOENT)
            return fail("cannot remove", path);
    }
    return 0;
}

int build_device(emulated_device *dev, const runner_config *cfg)
{
    uint8_t word[4];
    if (make_folders(dev) || make_shared(dev, cfg))
        return -1;
    if (!(cfg->without & WITHOUT_MEM) && make_memory(dev, cfg))
        return -1;
    put_le(word, buttons_at(cfg, 0), 4);
    if (!(cfg->without & WITHOUT_GPIO) && write_file(dev, EMU_GPIO, word, sizeof word, 0644))
        return -1;
    put_le(word, 0, 4);
    if (write_file(dev, EMU_GPIO_READS, word, sizeof word, 0644))
        return -1;
    if (!(cfg->without & WITHOUT_FB0) && make_fb0(dev, cfg))
        return -1;
    return link_launcher(dev);
}

void release_device(emulated_device *dev)
{
    if (dev->display.mem)
        munmap(dev->display.mem, dev->display.mem_size);
    if (dev->shared)
        munmap(dev->shared, sizeof *dev->shared);
    if (dev->mem_fd >= 0)
        close(dev->mem_fd);
}

void set_button_word(const emulated_device *dev, uint32_t word)
{
    char path[PATH_MAX];
    uint8_t le[4];
    put_le(le, word, 4);
    device_path(dev, EMU_GPIO, path);
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 || pwrite(fd, le, 4, 0) != 4)
        fail("cannot press buttons in", path);
    if (fd >= 0)
        close(fd);
}
