// The shot pipeline on a 320x240 frame, step by step, at each depth the
// device shows. Registers come from the unit tests' fake, physical memory
// from a sparse file, and write_png goes without its system-wide sync.
#include "capture/buffers.h"
#include "capture/convert.h"
#include "capture/grab.h"
#include "capture/png_out.h"
#include "device/devices.h"
#include "fakes.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// Raising the benchmark's own priority would only slow the machine down.
extern "C" int setpriority(int, id_t, int) noexcept
{
    return 0;
}

static const uint32_t FRAME = 0x03101000;
static char mem_path[] = "/tmp/tavro-bench-mem-XXXXXX";

// The grab reports every copy; its lines would bury the results.
static int saved_out = -1, saved_err = -1;

static void quiet(bool on)
{
    fflush(stdout);
    fflush(stderr);
    if (on) {
        saved_out = dup(1);
        saved_err = dup(2);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        close(null);
    } else {
        dup2(saved_out, 1);
        dup2(saved_err, 2);
        close(saved_out);
        close(saved_err);
    }
}

// A 320x240 layer of the given depth with a busy picture, grabbed once.
static void set_up(int bpp)
{
    if (mem_fd < 0) {
        mem_fd = mkstemp(mem_path);
        unlink(mem_path);
        if (mem_fd < 0 || ftruncate(mem_fd, 0x04000000) != 0)
            abort();
    }
    uint32_t code = bpp == 8 ? 0x443A : bpp == 16 ? 0x4432 : 0xC653;
    register_file.clear();
    register_file[0x4004] = 0x00EF013F;
    register_file[0x4058] = code << 16 | 0x20;
    register_file[0x405C] = bpp / 8;
    register_file[0x4060] = 320 * bpp / 8;
    register_file[0x406C] = FRAME;
    std::vector<uint8_t> picture(320 * 240 * 3);
    for (size_t i = 0; i < picture.size(); i++)
        picture[i] = uint8_t(i * 31 ^ i >> 9);
    if (pwrite(mem_fd, picture.data(), picture.size(), FRAME) != ssize_t(picture.size()))
        abort();
    int32_t w, h, s;
    quiet(true);
    grab_screen(&w, &h, &s);
    convert_rows(bpp, w, h, s);
    quiet(false);
}

static void BM_Copy(benchmark::State &state)
{
    int bpp = int(state.range(0));
    set_up(bpp);
    int32_t w, h, s;
    quiet(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(grab_screen(&w, &h, &s));
    quiet(false);
    state.SetBytesProcessed(state.iterations() * 320 * 240 * bpp / 8);
}

static void BM_Convert(benchmark::State &state)
{
    int bpp = int(state.range(0));
    set_up(bpp);
    for (auto _ : state) {
        convert_rows(bpp, 320, 240, 320);
        benchmark::ClobberMemory();
    }
}

static void BM_WritePng(benchmark::State &state)
{
    set_up(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(write_png("/tmp/tavro-bench.png", 320, 240));
    unlink("/tmp/tavro-bench.png");
}

// libpng alone, into memory, on the same rows.
static void discard(png_structp, png_bytep, png_size_t) {}
static void no_flush(png_structp) {}

static void BM_LibpngAlone(benchmark::State &state)
{
    set_up(int(state.range(0)));
    for (auto _ : state) {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, nullptr, discard, no_flush);
        png_set_IHDR(png, info, 320, 240, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        png_write_image(png, row_table);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
    }
}

BENCHMARK(BM_Copy)->Arg(8)->Arg(16)->Arg(24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Convert)->Arg(8)->Arg(16)->Arg(24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WritePng)->Arg(8)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngAlone)->Arg(8)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
