#include "menu/overlay.h"
#include "device/devices.h"
#include "device/display.h"
#include "device/register_window.h"
#include "device/registers.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

uint8_t *overlay = nullptr;
volatile sig_atomic_t leave_requested = 0;

// /dev/fb0 while the overlay is shown, else -1.
static int fb_fd = -1;

// While the overlay is shown these signals, where their default action
// would end the process with the screen in menu mode, leave the menu as
// "exit" does; the actions before are put back after. sigaction cannot
// fail on them: unchecked.
static const int LEAVING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
static struct sigaction saved_actions[4];

static void on_leaving_signal(int)
{
    leave_requested = 1;
}

static constexpr uint32_t BLACK_ENTRY = 0x00000000;  // entry 0, RGB565 0x0000
static constexpr uint32_t WHITE_ENTRY = 1u << PALETTE_INDEX_SHIFT | 0xFFFF;

void take_over_display()
{
    leave_requested = 0;
    struct sigaction action = {};
    action.sa_handler = on_leaving_signal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 4; i++) {
        sigaction(LEAVING_SIGNALS[i], nullptr, &saved_actions[i]);
        // An ignored signal ends nothing; a handled one (a service's stop
        // request, back in its menu) keeps its handler.
        if (saved_actions[i].sa_handler == SIG_DFL)
            sigaction(LEAVING_SIGNALS[i], &action, nullptr);
    }
    fb_fd = open("/dev/fb0", O_RDWR);
    if (fb_fd < 0) {
        perror("can't open fbdev");
        exit(1);
    }
    fb_fix_screeninfo fix;
    if (ioctl(fb_fd, FBIOGET_FSCREENINFO, &fix) == -1) {
        perror("ioctl(fbdev) failed");
        exit(1);
    }
    printf("tavro: framebuffer: \"%.16s\" @ %08lx\n", fix.id, fix.smem_start);
    void *p = mmap(nullptr, OVERLAY_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd,
                   off_t(fix.smem_start));
    if (p == MAP_FAILED) {
        perror("tavro: mmap failed");
        exit(1);
    }
    overlay = static_cast<uint8_t *>(p);

    // Layer 1 scans the framebuffer's memory already: switching it to one
    // byte a pixel shows the overlay there.
    reg_write(PRIMARY_LAYER1 + LAYER_HSTRIDE, 1);
    reg_write(PRIMARY_LAYER1 + LAYER_VSTRIDE, OVERLAY_WIDTH);
    set_layer_format(PRIMARY_LAYER1, FORMAT_8BPP);
    reg_write(PRIMARY_LAYER1 + LAYER_PALETTE, BLACK_ENTRY);
    reg_write(PRIMARY_LAYER1 + LAYER_PALETTE, WHITE_ENTRY);
    // Let the controller take the new mode over before drawing.
    wait_display_sync();
    usleep(5000);  // a signal may cut it short: the second wait still follows
    wait_display_sync();
    memset(overlay, 0, OVERLAY_BYTES);
}

void restore_display()
{
    // Failures here would leave nothing to undo: the layer is set back anyway.
    munmap(overlay, OVERLAY_BYTES);
    overlay = nullptr;
    close(fb_fd);
    fb_fd = -1;
    reg_write(PRIMARY_LAYER1 + LAYER_HSTRIDE, 2);
    reg_write(PRIMARY_LAYER1 + LAYER_VSTRIDE, OVERLAY_WIDTH * 2);
    set_layer_format(PRIMARY_LAYER1, FORMAT_16BPP);
    for (int i = 0; i < 4; i++)
        sigaction(LEAVING_SIGNALS[i], &saved_actions[i], nullptr);
}
