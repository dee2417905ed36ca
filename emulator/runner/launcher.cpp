// Stands in for the handheld's launcher: notes each start in the device's
// launcher.log with its real argv and working folder, then ends.
#include "device_folder.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *root = getenv(EMU_ROOT_VARIABLE);
    char path[PATH_MAX], cwd[PATH_MAX], line[4096];
    if (!root || (size_t)snprintf(path, sizeof path, "%s%s", root, EMU_LAUNCHER_LOG) >= sizeof path)
        return 1;
    if (!getcwd(cwd, sizeof cwd))
        strcpy(cwd, "?");
    size_t n = (size_t)snprintf(line, sizeof line, "pid=%d cwd=%s argv0=%s args=", (int)getpid(), cwd,
                                argc > 0 ? argv[0] : "");
    for (int i = 1; i < argc && n < sizeof line; i++)
        n += (size_t)snprintf(line + n, sizeof line - n, "%s%s", i > 1 ? " " : "", argv[i]);
    if (n >= sizeof line - 1)
        n = sizeof line - 2;
    line[n++] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, line, n) != (ssize_t)n) {
        perror(path);
        return 1;
    }
    close(fd);
    return 0;
}
