// Makes the device calls the screen-capture program makes, one step per
// argument, and prints each step with what it saw, so the emulator's tests
// can check the routing without the program itself. Registers are named
// here once more, on purpose apart from the model's own names.
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int mem = -1;              // /dev/mem, once opened
static volatile uint32_t *regs;   // the register window, once mapped

static void step(const char *s)
{
    printf("%s ", s);
    if (!strcmp(s, "mem")) {
        mem = open("/dev/mem", O_RDWR);
        printf(mem < 0 ? "errno %d\n" : "ok\n", errno);
    } else if (!strcmp(s, "regs")) {
        void *m = mmap(nullptr, 0x10000, PROT_READ | PROT_WRITE, MAP_SHARED, mem, 0xC0000000);
        regs = m == MAP_FAILED ? nullptr : (volatile uint32_t *)m;
        if (!regs)
            printf("errno %d\n", errno);
        else
            printf("screen=%08x p1=%08x@%08x status=%08x\n", regs[0x4004 / 4], regs[0x4058 / 4], regs[0x406C / 4],
                   regs[0x308C / 4] & ~0x400u);
    } else if (!strcmp(s, "sync")) {
        // Layer 1 to 8 bits a pixel, applied at the next sync, and a palette
        // entry; then ten syncs, each seen as the flag going from clear to
        // set. An acknowledge clears it where stores are caught; elsewhere
        // its pulse ends by itself. A flag that stays set shows as fewer.
        regs[0x4058 / 4] = (regs[0x4058 / 4] & 0xFFFF) | 0x443A0010;
        regs[0x4070 / 4] = 0x0100FFFF;
        int syncs = 0;
        bool was = true;   // a flag set already may be from before the stores
        for (time_t end = time(nullptr) + 10; syncs < 10 && time(nullptr) < end; usleep(100)) {
            bool set = regs[0x308C / 4] & 0x400;
            if (set)
                regs[0x308C / 4] = regs[0x308C / 4] | 0x400;
            syncs += set && !was;
            was = set;
        }
        printf("%d ctl=%08x palette=%08x\n", syncs, regs[0x4058 / 4], regs[0x4070 / 4]);
    } else if (!strcmp(s, "fb0")) {
        fb_fix_screeninfo fix;
        fb_var_screeninfo var;
        int fd = open("/dev/fb0", O_RDWR);
        if (fd < 0 || ioctl(fd, FBIOGET_FSCREENINFO, &fix) == -1 || ioctl(fd, FBIOGET_VSCREENINFO, &var) == -1)
            printf("errno %d\n", errno);
        else
            printf("id=%.16s start=%08lx len=%u line=%u %ux%u@%u red=%u/%u\n", fix.id, fix.smem_start, fix.smem_len,
                   fix.line_length, var.xres, var.yres, var.bits_per_pixel, var.red.offset, var.red.length);
    } else if (!strcmp(s, "descriptors")) {
        // Copies of the button driver's descriptor read as the driver (4
        // bytes every time); a number it held before reads as what it is now.
        int g = open("/dev/GPIO", O_RDONLY), copy[4] = {dup(g), dup2(g, 20), dup3(g, 21, 0), fcntl(g, F_DUPFD, 30)};
        uint32_t w[64];
        for (int fd : copy)
            printf("%d ", (int)(read(fd, w, 8) + read(fd, w, 8)));
        syscall(SYS_dup3, open("/etc/passwd", O_RDONLY), 20, 0);   // behind the shim's back
        printf("%d\n", (int)read(20, w, sizeof w));
    } else {
        // open=PATH, openat=DIR,NAME, fopen=PATH or freopen=PATH: what the
        // open reaches, by what a read of it gives.
        const char *path = strchr(s, '=') + 1, *comma = strchr(path, ',');
        int fd;
        if (s[0] == 'f') {
            FILE *f = s[1] == 'r' ? freopen(path, "r", fopen("/dev/null", "r")) : fopen(path, "r");
            fd = f ? fileno(f) : -1;
        } else if (comma) {
            fd = openat(open(strndup(path, (size_t)(comma - path)), O_RDONLY | O_DIRECTORY), comma + 1, O_RDONLY);
        } else {
            fd = open(path, O_RDONLY);
        }
        uint32_t w = 0;
        if (fd < 0 || read(fd, &w, 4) != 4)
            printf("errno %d\n", errno);
        else
            printf("read %08x\n", w);
    }
}

#ifdef EARLY
// Built as a library preloaded after the shim, the probe makes its calls
// from a constructor that runs before the shim's own; the stream comes
// first, when nothing of the shim is set up yet.
__attribute__((constructor)) static void early(void)
{
    printf("early %s\n", fopen("/proc/self/stat", "r") ? "fopen" : "no-fopen");
    step("mem");
    step("fopen=/dev/GPIO");
}
#else
int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        step(argv[i]);
    return 3;
}
#endif
