// Makes the device calls the screen-capture program makes, one step per
// argument, and prints one line per step with what it saw, so the
// emulator's tests can check the routing without the program itself.
// Registers are named here once more, on purpose apart from the model's.
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

// The registers as a program on the device names them.
static const uint64_t REGISTERS = 0xC0000000;
static const uint32_t STATUS = 0x308C / 4, SYNC_PENDING = 0x400;
static const uint32_t P1_CONTROL = 0x4058 / 4, P1_PALETTE = 0x4070 / 4;
static const uint32_t FORMAT_8BPP_APPLY = 0x443A0010;

// Layer 1 to 8 bits a pixel, applied at the next sync, and a palette entry;
// then ten syncs, each seen as the flag going from clear to set. An
// acknowledge clears it where stores are caught; elsewhere its pulse ends by
// itself. A flag that stays set shows as fewer.
static void sync_ten_times(void)
{
    void *m = mmap(nullptr, 0x10000, PROT_READ | PROT_WRITE, MAP_SHARED, open("/dev/mem", O_RDWR), REGISTERS);
    if (m == MAP_FAILED)
        return perror("mmap");
    volatile uint32_t *regs = (volatile uint32_t *)m;
    regs[P1_CONTROL] = (regs[P1_CONTROL] & 0xFFFF) | FORMAT_8BPP_APPLY;
    regs[P1_PALETTE] = 0x0100FFFF;  // entry 1, white
    int syncs = 0;
    bool was = true;   // a flag set already may be from before the stores
    for (time_t end = time(nullptr) + 10; syncs < 10 && time(nullptr) < end; usleep(100)) {
        bool set = regs[STATUS] & SYNC_PENDING;
        if (set)
            regs[STATUS] = regs[STATUS] | SYNC_PENDING;
        syncs += set && !was;
        was = set;
    }
    printf("%d ctl=%08x palette=%08x\n", syncs, regs[P1_CONTROL], regs[P1_PALETTE]);
}

// open=PATH, openat=DIR,NAME, fopen=PATH or freopen=PATH: what the open
// reaches, by what a read of 4 bytes gives.
static int open_as_told(const char *s)
{
    const char *path = strchr(s, '=') + 1, *comma = strchr(path, ',');
    if (s[0] == 'f') {
        FILE *f = s[1] == 'r' ? freopen(path, "r", fopen("/dev/null", "r")) : fopen(path, "r");
        return f ? fileno(f) : -1;
    }
    if (comma)
        return openat(open(strndup(path, size_t(comma - path)), O_RDONLY | O_DIRECTORY), comma + 1, O_RDONLY);
    return open(path, O_RDONLY);
}

static void step(const char *s)
{
    uint32_t w[64] = {};
    if (!strcmp(s, "sync")) {
        sync_ten_times();
    } else if (!strcmp(s, "mem")) {
        // Opens only: where the shim may be missing, nothing reads this
        // machine's memory.
        int fd = open("/dev/mem", O_RDWR);
        printf(fd < 0 ? "errno %d\n" : "opened\n", errno);
    } else if (!strcmp(s, "fb0")) {
        fb_fix_screeninfo fix;
        fb_var_screeninfo var;
        int fd = open("/dev/fb0", O_RDWR);
        if (fd < 0 || ioctl(fd, FBIOGET_FSCREENINFO, &fix) == -1 || ioctl(fd, FBIOGET_VSCREENINFO, &var) == -1)
            printf("errno %d\n", errno);
        else
            printf("len=%u line=%u %ux%u@%u red=%u/%u\n", fix.smem_len, fix.line_length, var.xres, var.yres,
                   var.bits_per_pixel, var.red.offset, var.red.length);
    } else if (!strcmp(s, "descriptors")) {
        // Copies of the button driver's descriptor read as the driver (4
        // bytes every time); a number it held before reads as what it is now.
        int g = open("/dev/GPIO", O_RDONLY), copy[4] = {dup(g), dup2(g, 20), dup3(g, 21, 0), fcntl(g, F_DUPFD, 30)};
        for (int fd : copy)
            printf("%d ", (int)(read(fd, w, 8) + read(fd, w, 8)));
        syscall(SYS_dup3, open("/etc/passwd", O_RDONLY), 20, 0);   // behind the shim's back
        printf("%d\n", (int)read(20, w, sizeof w));
    } else {
        int fd = open_as_told(s);
        if (fd < 0 || read(fd, w, 4) != 4)
            printf("errno %d\n", errno);
        else
            printf("read %08x\n", w[0]);
    }
}

#ifdef EARLY
// Built as a library preloaded after the shim, the probe makes its calls
// from a constructor that runs before the shim's own; a stream on a plain
// file comes first, when nothing of the shim is set up yet.
__attribute__((constructor)) static void early(void)
{
    step("fopen=/proc/self/exe");
    step("mem");
    step("fopen=/dev/GPIO");
}
#else
int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        step(argv[i]);
}
#endif
