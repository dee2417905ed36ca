// The button driver of the emulated handheld: the shim routes the program's
// reads of /dev/GPIO here.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

struct button_state {
    volatile uint32_t *reads;   // reads so far, shared with the tests; or null
};

// A read of the driver: the current raw word, at once, from the start of the
// word file (fd); never more than 4 bytes.
ssize_t button_read(button_state *b, int fd, void *buf, size_t n);
