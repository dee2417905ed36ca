// tavro: screenshots of the display controller's visible layer.
#include "capture/convert.h"
#include "capture/grab.h"
#include "capture/png_out.h"
#include "control/safety.h"
#include "control/shutdown.h"
#include "device/devices.h"
#include "device/register_window.h"
#include "menu/combo.h"
#include "menu/menu.h"
#include "menu/overlay.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static void usage(const char *program)
{
    printf("usage: %s [-s <seconds>] <filename>\n", program);
    puts("       or run without arguments for interactive mode");
}

// Seconds as strtol reads them; anything past an int is held at its ends.
static int seconds_of(const char *text)
{
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return int(value);
}

// One shot into the named file; returns main's status.
static int take_shot(const char *name)
{
    int32_t width = 0, height = 0, stride = 0;
    int32_t bpp = grab_screen(&width, &height, &stride);
    // Without converted rows there is nothing to write, and an existing
    // file of that name is left alone.
    if (convert_rows(bpp, width, height, stride) != 0)
        return -1;
    if (write_png(name, width, height) != 0) {
        fputs("tavro: write_png() failed\n", stderr);
        return -1;
    }
    fputs("tavro: done.\n", stderr);
    return 0;
}

// The menu on the overlay until the user leaves it; the caller then hands
// the device to the launcher.
static void run_interactive()
{
    load_combo();
    int cursor = 0;
    take_over_display();
    MenuChoice choice = run_menu(&cursor);
    restore_display();
    if (choice == MENU_GO_TO_BACKGROUND)
        save_combo();
}

static int run_command_line(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "-s") == 0) {
        int seconds = seconds_of(argv[2]);
        printf("tavro: sleeping for %i secs\n", seconds);
        if (seconds > 0)
            sleep(unsigned(seconds));
        return take_shot(argv[3]);
    }
    if (argc == 2 && argv[1][0] != '-')
        return take_shot(argv[1]);
    usage(argv[0]);
    return 0;
}

int main(int argc, char **argv)
{
    refuse_outside_device();
    // Whole lines, so that a forked service never repeats buffered output.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    int status = 0;
    bool return_to_launcher = false;
    if ((mem_fd = open("/dev/mem", O_RDWR)) < 0) {
        perror("open(\"/dev/mem\")");
        status = 1;
        return_to_launcher = true;
    } else if ((gpio_fd = open("/dev/GPIO", O_RDONLY)) < 0) {
        perror("open(\"/dev/GPIO\")");
        status = 1;
        return_to_launcher = true;
    } else if (map_register_window() != 0) {
        perror("mmap(memregs)");
        status = 2;
        return_to_launcher = true;
    } else if (argc < 2) {
        run_interactive();
        return_to_launcher = true;
    } else {
        status = run_command_line(argc, argv);
    }

    release_devices();
    if (argc < 2 && return_to_launcher)
        start_launcher();
    return status;
}
