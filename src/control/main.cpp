// tavro: screenshots of the display controller's visible layer.
#include "control/service.h"
#include "control/shot.h"
#include "control/shutdown.h"
#include "device/devices.h"
#include "device/register_window.h"
#include "menu/combo.h"
#include "menu/menu.h"
#include "menu/overlay.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

// Ends the process with status 1 unless it runs on the device itself or
// on its emulated stand-in: anywhere else /dev/mem is the host's memory.
static void refuse_outside_device()
{
#ifndef TAVRO_DEVICE_RELEASE
    // The emulated device announces itself with this symbol.
    if (dlsym(RTLD_DEFAULT, "emulated_device_present"))
        return;
    fputs("tavro: this build runs only on the device or its emulated device\n", stderr);
    exit(1);
#endif
}

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

// Interactive mode: the menu, and the background services it starts, in
// this process until it leaves to the launcher (true) or has handed the
// device back to a running service (false).
static bool run_interactive(int *status)
{
    if (check_other_instance())
        return false;
    load_combo();
    int cursor = 0;
    uint32_t previous_buttons = 0;
    for (;;) {
        take_over_display();
        MenuChoice choice = run_menu(&cursor);
        restore_display();
        if (choice == MENU_EXIT)
            return true;
        save_combo();
        // The parent leaves to the launcher, also when there is no child;
        // the child is the service, and comes back here on a stop request.
        pid_t child = fork();
        if (child < 0)
            perror("tavro: fork failed, no service runs");
        if (child != 0)
            return true;
        run_capture_service(&previous_buttons, status);
    }
}

static int shot_into(const char *name)
{
    if (take_shot(name) != 0)
        return -1;
    fputs("tavro: done.\n", stderr);
    return 0;
}

static int run_command_line(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "-s") == 0) {
        int seconds = seconds_of(argv[2]);
        printf("tavro: sleeping for %i secs\n", seconds);
        // A signal may cut the sleep short; the shot is taken then.
        if (seconds > 0)
            sleep(unsigned(seconds));
        return shot_into(argv[3]);
    }
    if (argc == 2 && argv[1][0] != '-')
        return shot_into(argv[1]);
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
        return_to_launcher = run_interactive(&status);
    } else {
        status = run_command_line(argc, argv);
    }

    release_devices();
    if (argc < 2 && return_to_launcher)
        start_launcher();
    return status;
}
