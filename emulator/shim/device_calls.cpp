// The calls on descriptors of the emulated device's files, handed to the
// device models: reads of the button driver, the framebuffer's queries,
// reads and mappings, and the mappings of physical memory.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "buttons.h"
#include "device_folder.h"
#include "display_model.h"
#include "framebuffer.h"
#include "shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>
// musl's headers make this another name for mmap.
#undef mmap64

#define EXPORT extern "C" __attribute__((visibility("default")))

static ssize_t (*real_read)(int, void *, size_t);
static int (*real_ioctl)(int, unsigned long, void *);
static void *(*real_mmap64)(void *, size_t, int, int, int, off64_t);
static int (*real_munmap)(void *, size_t);

static void resolve(void)
{
    shim_init();
    if (real_read)
        return;
    real_ioctl = (int (*)(int, unsigned long, void *))dlsym(RTLD_NEXT, "ioctl");
    real_mmap64 = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    real_munmap = (int (*)(void *, size_t))dlsym(RTLD_NEXT, "munmap");
    real_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
}

// The count of button reads lives in ROOT/gpio-reads, mapped once: a
// test waits on it, and a read costs no file rewrite.
static button_state *buttons(void)
{
    static button_state b;
    static bool ready;
    if (!ready) {
        errno_guard keep;
        int fd = open_in_root(EMU_GPIO_READS, O_RDWR);
        void *m = fd < 0 ? MAP_FAILED : real_mmap64(nullptr, 4, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (fd >= 0)
            real_close(fd);
        b.reads = m == MAP_FAILED ? nullptr : (volatile uint32_t *)m;
        ready = true;
    }
    return &b;
}

static int fb_of(int fd, fb_state *f)
{
    fb0_record rec;
    ssize_t n = pread64(fd, &rec, sizeof rec, 0);
    if (n < 0 || fb_load(f, &rec, (size_t)n)) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// A read of the framebuffer reads frame memory from the descriptor's offset.
static ssize_t fb_read(int fd, void *buf, size_t n)
{
    fb_state f;
    uint64_t phys;
    if (fb_of(fd, &f))
        return -1;
    off64_t pos = lseek64(fd, 0, SEEK_CUR);
    if (pos < 0)
        return -1;
    size_t len = fb_span(&f, (uint64_t)pos, n, &phys);
    if (!len)
        return 0;
    int mem = open_in_root(EMU_MEM, O_RDONLY | O_LARGEFILE);
    if (mem < 0)
        return -1;
    ssize_t got = pread64(mem, buf, len, (off64_t)phys);
    {
        errno_guard keep;
        real_close(mem);
    }
    if (got > 0 && lseek64(fd, pos + got, SEEK_SET) < 0)
        return -1;
    return got;
}

EXPORT ssize_t read(int fd, void *buf, size_t n)
{
    resolve();
    switch (fd_kind(fd)) {
    case KIND_GPIO: return button_read(buttons(), fd, buf, n);
    case KIND_FB0: return fb_read(fd, buf, n);
    }
    return real_read(fd, buf, n);
}

EXPORT ssize_t __read_chk(int fd, void *buf, size_t n, size_t buflen)
{
    if (n > buflen)
        abort();
    return read(fd, buf, n);
}

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    resolve();
    fb_state f;
    if (fd_kind(fd) == KIND_FB0)
        return fb_of(fd, &f) ? -1 : fb_ioctl(&f, request, arg);
    return real_ioctl(fd, request, arg);
}

// At the first mapping of frame memory, the layer may move (a fault the
// runner injects).
static void move_layer(int mem_fd, uint64_t phys)
{
    errno_guard keep;
    emu_shared *s = shim_shared();
    if (!s || !s->move_offset || phys >= REGS_PHYS || __atomic_exchange_n(&s->move_done, 1, __ATOMIC_SEQ_CST))
        return;
    uint8_t v[4];
    for (int i = 0; i < 4; i++)
        v[i] = (uint8_t)(s->move_value >> 8 * i);
    if (pwrite64(mem_fd, v, 4, (off64_t)(REGS_PHYS + (s->move_offset & ~3u))) != 4) {
        // the layer stays where it is; the program sees no fault
    }
}

// Physical memory ends where the file ends: a mapping past it fails as it
// would on a board without memory there, rather than faulting later.
static void *map_memory(void *addr, size_t len, int prot, int flags, int fd, uint64_t off)
{
    struct stat64 st;
    if (fstat64(fd, &st))
        return MAP_FAILED;
    if (off > (uint64_t)st.st_size || len > (uint64_t)st.st_size - off) {
        errno = ENXIO;
        return MAP_FAILED;
    }
    void *map = real_mmap64(addr, len, prot, flags, fd, (off64_t)off);
    if (map != MAP_FAILED) {
        move_layer(fd, off);
        trap_window(map, off, len, prot, flags);
    }
    return map;
}

// The framebuffer maps its memory from the page that holds smem_start.
static void *map_fb(void *addr, size_t len, int prot, int flags, int fd, uint64_t off)
{
    fb_state f;
    uint64_t phys;
    if (fb_of(fd, &f))
        return MAP_FAILED;
    uint64_t first = f.smem_start & 0xFFF;
    if (off + len > ((first + f.smem_len + 0xFFF) & ~(uint64_t)0xFFF)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    fb_span(&f, 0, 0, &phys);
    int mem = open_in_root(EMU_MEM, (prot & PROT_WRITE ? O_RDWR : O_RDONLY) | O_LARGEFILE);
    if (mem < 0)
        return MAP_FAILED;
    void *map = map_memory(addr, len, prot, flags, mem, phys - first + off);
    errno_guard keep;
    real_close(mem);
    return map;
}

static void *map_routed(void *addr, size_t len, int prot, int flags, int fd, uint64_t off)
{
    resolve();
    switch (fd_kind(fd)) {
    case KIND_MEM: return map_memory(addr, len, prot, flags, fd, off);
    case KIND_FB0: return map_fb(addr, len, prot, flags, fd, off);
    case KIND_GPIO: errno = ENODEV; return MAP_FAILED;
    }
    return real_mmap64(addr, len, prot, flags, fd, (off64_t)off);
}

EXPORT void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    // A 32-bit off_t carries physical addresses above 2 GiB as negative.
    uint64_t phys = sizeof off == 4 ? (uint64_t)(uint32_t)off : (uint64_t)off;
    return map_routed(addr, len, prot, flags, fd, phys);
}

EXPORT void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    return map_routed(addr, len, prot, flags, fd, (uint64_t)off);
}

EXPORT int munmap(void *addr, size_t len)
{
    resolve();
    trap_forget(addr, len);
    return real_munmap(addr, len);
}
