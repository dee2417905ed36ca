// The emulated device's folder, shared by the runner that builds it and the
// shim that routes the program's calls into it. TAVRO_EMU_ROOT names it.
//
//   ROOT/dev/mem            physical memory, a sparse file; the register
//                           window lies at 0xC0000000, frame memory below it
//   ROOT/dev/GPIO           4 bytes: the current raw button word, little-endian
//   ROOT/dev/fb0            what the framebuffer driver knows of its screen
//                           (struct fb0_record, models/framebuffer.h)
//   ROOT/shared             state the runner and the shim share (struct
//                           emu_shared below): palettes, injected faults
//   ROOT/tmp/               stands for /tmp (the pid file goes here)
//   ROOT/usr/gp2x/gp2xmenu  stand-in launcher: a link to tavro-emu-launcher
//   ROOT/gpio-reads         4 bytes, little-endian: reads of dev/GPIO so far,
//                           counted in place through a shared mapping
//   ROOT/launcher.log       one line per launcher start
//   ROOT/setpriority.log    one line per setpriority call: "which who prio"
//   ROOT/sleep.log          one line per sleep call: its seconds
//   ROOT/regwrites.log      one line per register store the shim saw:
//                           "OFFSET VALUE", hex, offset within the window
//   ROOT/refused.log        one line per refused open of a host device:
//                           "CALL PATH", the path as the program spelled it
//   ROOT/exits.log          with --wait-all, one line per process that
//                           ended: "PID STATUS"
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
#define EMU_SLEEP_LOG "/sleep.log"
#define EMU_REGWRITES_LOG "/regwrites.log"
#define EMU_UNTRAPPED_MARK "/sync-untrapped"
#define EMU_SHARED "/shared"
#define EMU_REFUSED_LOG "/refused.log"
#define EMU_EXITS_LOG "/exits.log"

// Contents of ROOT/shared: 32-bit words only, so that the layout is the
// same on every architecture.
struct emu_shared {
    uint32_t palette[4][256];         // per layer, 0x00RRGGBB, as the program set it
    uint32_t priority_errno;          // setpriority fails with it; 0: succeeds
    // At the program's first mapping of frame memory the register at this
    // offset (0: none) takes this value, as if the layer moved meanwhile.
    uint32_t move_offset, move_value, move_done;
};
