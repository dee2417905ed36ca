#include "menu/combo.h"
#include "capture/replace_file.h"
#include "device/buttons.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

uint32_t combo[COMBO_SLOTS] = {BUTTON_MENU, BUTTON_R, 0};

static const char COMBO_FILE[] = "tavro.bcfg";

static void to_bytes(uint8_t bytes[4 * COMBO_SLOTS])
{
    for (int i = 0; i < 4 * COMBO_SLOTS; i++)
        bytes[i] = uint8_t(combo[i / 4] >> 8 * (i % 4));
}

// Only a regular file is read: a FIFO or a device in its place is opened
// without waiting and left alone.
void load_combo()
{
    int fd = open(COMBO_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    uint8_t bytes[4 * COMBO_SLOTS];
    to_bytes(bytes);
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    for (size_t got = 0; regular && got < sizeof bytes;) {
        ssize_t n = read(fd, bytes + got, sizeof bytes - got);
        if (n <= 0)
            break;  // the end, or a failed read: what came before is kept
        got += size_t(n);
    }
    close(fd);  // read only: a failed close loses nothing
    for (int s = 0; s < COMBO_SLOTS; s++)
        combo[s] = uint32_t(bytes[4 * s]) | uint32_t(bytes[4 * s + 1]) << 8 |
                   uint32_t(bytes[4 * s + 2]) << 16 | uint32_t(bytes[4 * s + 3]) << 24;
}

// Saved whole or not at all; a name held by anything but a regular file
// (a link, a FIFO) is left alone.
void save_combo()
{
    struct stat st;
    if (lstat(COMBO_FILE, &st) == 0 ? !S_ISREG(st.st_mode) : errno != ENOENT)
        return;
    int fd = begin_replace(COMBO_FILE);
    if (fd < 0)
        return;
    uint8_t bytes[4 * COMBO_SLOTS];
    to_bytes(bytes);
    bool whole = write(fd, bytes, sizeof bytes) == ssize_t(sizeof bytes) && fsync(fd) == 0;
    whole = close(fd) == 0 && whole;
    // Nothing is reported: a failed save leaves the file as it was.
    end_replace(whole);
}
