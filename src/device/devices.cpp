#include "device/devices.h"

int mem_fd = -1;
int gpio_fd = -1;
