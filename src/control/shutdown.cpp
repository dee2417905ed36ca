#include "control/shutdown.h"
#include "device/devices.h"
#include "device/register_window.h"

#include <unistd.h>

int mem_fd = -1;
int gpio_fd = -1;

// Closed once, at the end: a failed close leaves nothing to do.
void release_devices()
{
    release_register_window();
    if (mem_fd != -1) {
        close(mem_fd);
        mem_fd = -1;
    }
    if (gpio_fd != -1) {
        close(gpio_fd);
        gpio_fd = -1;
    }
}

void start_launcher()
{
    // The launcher expects its own folder as working directory; if that is
    // gone the exec is still tried from where we are.
    [[maybe_unused]] int moved = chdir("/usr/gp2x");
    // Returns only on failure, and then the caller ends anyway.
    execl("gp2xmenu", "gp2xmenu", static_cast<char *>(nullptr));
}
