// The emulated device's folder, shared by the runner that builds it and the
// shim that routes the program's calls into it. TAVRO_EMU_ROOT names it.
//
//   ROOT/dev/mem            physical memory, a sparse file; the register
//                           window lies at 0xC0000000, frame memory below it
//   ROOT/dev/GPIO           4 bytes: the current raw button word, little-endian
//   ROOT/dev/fb0            the framebuffer's fixed screen information
//                           (struct fb0_record below)
//   ROOT/tmp/               stands for /tmp (the pid file goes here)
//   ROOT/usr/gp2x/gp2xmenu  stand-in launcher, a shell script
//   ROOT/gpio-reads         4 bytes, little-endian: reads of dev/GPIO so far
//   ROOT/launcher.log       one line per launcher start
//   ROOT/setpriority.log    one line per setpriority call: "which who prio"
//   ROOT/regwrites.log      one line per register store the shim saw:
//                           "OFFSET VALUE", hex, offset within the window
//   ROOT/sync-untrapped     made by a shim that cannot see stores; the
//                           controller then pulses the sync flag instead
#pragma once
#include <stdint.h>

#define EMU_ROOT_VARIABLE "TAVRO_EMU_ROOT"
#define EMU_MEM "/dev/mem"
#define EMU_GPIO "/dev/GPIO"
#define EMU_FB0 "/dev/fb0"
#define EMU_LAUNCHER_DIR "/usr/gp2x"
#define EMU_LAUNCHER "/usr/gp2x/gp2xmenu"
#define EMU_PID_FILE "/tmp/tavro.pid"
#define EMU_LAUNCHER_LOG "/launcher.log"
#define EMU_GPIO_READS "/gpio-reads"
#define EMU_PRIORITY_LOG "/setpriority.log"
#define EMU_REGWRITES_LOG "/regwrites.log"
#define EMU_UNTRAPPED_MARK "/sync-untrapped"

// Contents of ROOT/dev/fb0, little-endian with no padding, the same on every
// architecture (the shim may be an ARM build, the runner a host one).
struct fb0_record {
    char id[16];
    uint8_t smem_start[8];
    uint8_t smem_len[4];
    uint8_t line_length[4];
};
