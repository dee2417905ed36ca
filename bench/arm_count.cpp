// Runs one 320x240 16-bit shot's copy and conversion on a buffer of its own
// (nothing is mapped), for scripts/bench-arm to count the instructions
// executed between the calls of bench_mark under qemu-arm.
#include "capture/convert.cpp"
#include "capture/grab.cpp"
#include "device/display.cpp"

int mem_fd = -1;

uint32_t reg_read(uint32_t)
{
    return 0;
}

void reg_write(uint32_t, uint32_t) {}

extern "C" __attribute__((noinline)) void bench_mark()
{
    asm volatile("" ::: "memory");
}

int main()
{
    constexpr int32_t width = 320, height = 240, size = width * height * 2;
    static uint32_t frame[size / 4];
    for (int32_t i = 0; i < size / 4; i++)
        frame[i] = uint32_t(i) * 2654435761u;
    grow_buffers(size, width, height);
    bench_mark();
    copy_frame(reinterpret_cast<const uint8_t *>(frame), size);
    bench_mark();
    raw_length = size;
    convert_rows(16, width, height, width);
    bench_mark();
    uint32_t sum = 0;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width * 3; x++)
            sum = sum * 31 + row_table[y][x];
    printf("%08x\n", sum);
    return 0;
}
