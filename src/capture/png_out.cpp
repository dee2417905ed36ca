#include "capture/png_out.h"
#include "capture/buffers.h"
#include "capture/replace_file.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

// libpng comes back here by longjmp on an error: no local may need a
// destructor, and nothing set after setjmp is read after the jump.
static int encode(FILE *fp, int32_t width, int32_t height)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    // These two messages end without a newline, as the program's output
    // always has: whatever follows on standard error joins their line.
    if (!png) {
        fputs("png_create_write_struct() failed", stderr);
        return -1;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        fputs("png_create_info_struct() failed", stderr);
        png_destroy_write_struct(&png, nullptr);
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        fputs("error in png code\n", stderr);
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_write_image(png, row_table);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

// The path at the end of the dangling link name, through further links:
// where a new file is to be made.
static bool dangling_end(const char *name, char target[PATH_MAX])
{
    char path[PATH_MAX], link[PATH_MAX];
    strcpy(path, name);
    for (int hops = 0; hops < 40; hops++) {
        ssize_t n = readlink(path, link, sizeof link - 1);
        if (n < 0)
            return false;
        link[n] = 0;
        // A relative link is read from the link's own folder.
        const char *slash = strrchr(path, '/');
        int folder = link[0] == '/' || !slash ? 0 : int(slash - path) + 1;
        if (snprintf(target, PATH_MAX, "%.*s%s", folder, path, link) >= PATH_MAX)
            return false;
        struct stat st;
        if (lstat(target, &st) != 0)
            return errno == ENOENT;
        strcpy(path, target);
    }
    return false;
}

// Whether name is written through a replacement, and then the path of the
// regular file to replace (a link resolved) or to make (a dangling link
// followed). A FIFO, a device or a file that is our own output are
// written directly.
static bool replaceable(const char *name, char target[PATH_MAX])
{
    const char *slash = strrchr(name, '/');
    struct stat st, out;
    if (!*(slash ? slash + 1 : name) || strlen(name) >= PATH_MAX)
        return false;
    if (lstat(name, &st) != 0) {
        strcpy(target, name);
        return errno == ENOENT;
    }
    if (!S_ISLNK(st.st_mode))
        strcpy(target, name);
    else if (stat(name, &st) != 0)
        return errno == ENOENT && dangling_end(name, target);
    else if (!realpath(name, target))
        return false;
    for (int fd = 1; fd <= 2; fd++)
        if (fstat(fd, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino)
            return false;
    return S_ISREG(st.st_mode);
}

int write_png(const char *name, int32_t width, int32_t height)
{
    char target[PATH_MAX];
    bool replace = replaceable(name, target);
    FILE *fp = nullptr;
    if (!replace) {
        fp = fopen(name, "wb");
    } else {
        int fd = begin_replace(target);
        if (fd >= 0 && !(fp = fdopen(fd, "wb"))) {
            close(fd);           // nothing was written to it
            end_replace(false);  // removes it; the open failure is what is reported
        }
    }
    if (!fp) {
        fprintf(stderr, "tavro: failed to open \"%s\"\n", name);
        return -1;
    }
    int result = encode(fp, width, height);
    // The last bytes reach the file only here: a full disk shows up now.
    if (result == 0 && (fflush(fp) != 0 || (replace && fsync(fileno(fp)) != 0))) {
        fprintf(stderr, "tavro: failed to write \"%s\": %s\n", name, strerror(errno));
        result = -1;
    }
    if (fclose(fp) != 0 && result == 0) {
        fprintf(stderr, "tavro: failed to close \"%s\": %s\n", name, strerror(errno));
        result = -1;
    }
    // A failed write leaves the file that was there, or none.
    if (replace && end_replace(result == 0) != 0) {
        fprintf(stderr, "tavro: failed to replace \"%s\": %s\n", name, strerror(errno));
        result = -1;
    }
    if (result != 0)
        return -1;
    sync();
    return 0;
}
