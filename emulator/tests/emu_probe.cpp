// Makes the device calls the screen-capture program makes, one step per
// argument, and prints one line per step with what it saw, so the
// emulator's tests can check the routing without the program itself.
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

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
    if (!strcmp(s, "mem")) {
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
