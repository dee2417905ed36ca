#include "capture/png_out.h"
#include "capture/buffers.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

// libpng comes back here by longjmp on an error: no local may need a
// destructor, and nothing set after setjmp is read after the jump.
static int encode(FILE *fp, int32_t width, int32_t height)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
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

int write_png(const char *name, int32_t width, int32_t height)
{
    FILE *fp = fopen(name, "wb");
    if (!fp) {
        fprintf(stderr, "tavro: failed to open \"%s\"\n", name);
        return -1;
    }
    struct stat st;
    bool regular = fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode);
    int result = encode(fp, width, height);
    // The last bytes reach the file only here: a full disk shows up now.
    if (result == 0 && fflush(fp) != 0) {
        fprintf(stderr, "tavro: failed to write \"%s\": %s\n", name, strerror(errno));
        result = -1;
    }
    if (fclose(fp) != 0 && result == 0) {
        fprintf(stderr, "tavro: failed to close \"%s\": %s\n", name, strerror(errno));
        result = -1;
    }
    if (result != 0) {
        // A cut-off PNG would pass for a shot; a device file is not ours to remove.
        if (regular)
            remove(name);
        return -1;
    }
    sync();
    return 0;
}
