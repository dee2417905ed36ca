// Random layer registers through the real binary: no crash, no hang, no
// file left cut off, every shot as the memory holds it. TAVRO_FUZZ_SEED=N
// TAVRO_FUZZ_RUNS=1 repeats the run that a failure names; the runs are
// numbered from the seed.
#include "interactive.h"

#include <fcntl.h>
#include <random>
#include <unistd.h>

class Fuzz : public InteractiveTest {
protected:
    std::mt19937 rng;
    uint32_t any() { return uint32_t(rng()); }
    uint32_t below(uint32_t n) { return any() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }
    // TAVRO_FUZZ_RUNS set but empty runs the usual count.
    int runs(int usual) { const char *n = getenv("TAVRO_FUZZ_RUNS"); return n && *n ? atoi(n) : usual; }

    // Seeds the generator for a run; the seed that names the run.
    std::string seed(int run)
    {
        static const char *given = getenv("TAVRO_FUZZ_SEED");
        static unsigned first = given && *given ? unsigned(strtoul(given, nullptr, 0)) : std::random_device()();
        rng.seed(first + unsigned(run));
        return "TAVRO_FUZZ_SEED=" + std::to_string(first + unsigned(run));
    }
};

// In the order of the visible-layer choice: p0, s0, p1, s1, and the
// secondary block's for the two secondary layers.
static const int LAYER[4] = {LAYER_P0, LAYER_S0, LAYER_P1, LAYER_S1};
static const int BLOCK[4] = {0, 1, 0, 1};
// Where the emulated device puts a picture for each of them.
static const uint32_t FILLED[4] = {0x02800000, 0x03800000, 0x03101000, 0x03C00000};
static const uint32_t CODE[3] = {DC_FORMAT_8, DC_FORMAT_16, DC_FORMAT_24};
// The device's memory ends after the register window.
static const uint64_t MEMORY_END = 0xC0010000;

// What a shot of the memory must hold: the line start steps by whole
// pixels of the stride, and pixels past the copy are black.
static std::vector<uint8_t> expected_shot(int fd, uint32_t address, int64_t bytes, int64_t pixels, int64_t size,
                                          int w, int h)
{
    std::vector<uint8_t> mem(static_cast<size_t>(size)), rgb(static_cast<size_t>(w) * h * 3, 0);
    if (pread(fd, mem.data(), mem.size(), off_t(address)) != ssize_t(size))
        return {};
    for (int64_t i = 0; i < int64_t(w) * h; i++) {
        int64_t at = (i / w * pixels + i % w) * bytes;
        if (at + bytes > size)
            continue;
        uint8_t *out = &rgb[size_t(i) * 3];
        const uint8_t *p = &mem[size_t(at)];
        if (bytes == 2) {
            unsigned c = p[0] | p[1] << 8, r = c >> 11, g = c >> 5 & 0x3F, b = c & 0x1F;
            out[0] = uint8_t(r << 3 | r >> 2), out[1] = uint8_t(g << 2 | g >> 4), out[2] = uint8_t(b << 3 | b >> 2);
        } else {
            // A grey level, or blue, green and red.
            out[0] = p[bytes - 1], out[1] = p[bytes / 2], out[2] = p[0];
        }
    }
    return rgb;
}

TEST_F(Fuzz, ShotsOfRandomLayerRegistersMatchTheMemory)
{
    // One device stays up, ended with the test; each run writes its
    // registers and takes a shot.
    group = runner = spawn({TAVRO_EMU, "--dir", device, "--", "/bin/sleep", "600"}, work, in_work(".stdout"),
                           in_work(".stderr"));
    std::string children = "/proc/" + std::to_string(runner) + "/task/" + std::to_string(runner) + "/children";
    ASSERT_TRUE(wait_for([&] { return !read_file(children).empty(); }));
    int mem = open((device + "/dev/mem").c_str(), O_RDWR);
    auto put = [&](uint32_t offset, uint32_t value) {  // little-endian, as the device and this machine
        return pwrite(mem, &value, 4, off_t(REGS_PHYS + offset)) == 4;
    };
    std::vector<std::string> shot = device_command({"--attach", "--dir", device});
    shot.push_back("shot.png");

    for (int run = 0; run < runs(250); run++) {
        SCOPED_TRACE(seed(run));
        int width[2], height[2];
        for (int block = 0; block < 2; block++) {
            width[block] = 1 + int(below(chance(95) ? 400 : 4096));
            height[block] = 1 + int(below(chance(95) ? 300 : 4096));
            // Bits above the fields are noise the program must leave out.
            uint32_t base = block ? DC_BLOCK_SECONDARY : DC_BLOCK_PRIMARY;
            ASSERT_TRUE(put(base + DC_SCREEN_SIZE, uint32_t(height[block] - 1) << 16 | uint32_t(width[block] - 1) |
                                                       (any() & 0xF000F000)));
        }
        // The layer shot is the last one enabled, p0 if none is.
        struct { int layer; uint32_t hstride, vstride, address; } top = {};
        for (int l = 0; l < 4; l++) {
            uint32_t hs = chance(85) ? 1 + below(3) : chance(50) ? below(6) : any();
            uint32_t code = hs >= 1 && hs <= 3 && chance(80) ? CODE[hs - 1] : any() >> 16;
            uint32_t control = code << DC_FORMAT_SHIFT | (any() & 0xFFFF & ~DC_CONTROL_APPLY);  // any enable bits
            uint32_t vs = chance(70) ? (width[BLOCK[l]] + below(64)) * hs : chance(50) ? below(5000) : any();
            uint32_t at = chance(85) ? FILLED[below(4)] + below(0x40000) : any();
            if (at >= 0xBC000000 && at < MEMORY_END)
                at -= 0x40000000;  // no frame over the registers, which the device changes
            uint32_t group = dc_layer_base[LAYER[l]];
            ASSERT_TRUE(put(group + DC_CONTROL, control) && put(group + DC_HSTRIDE, hs) &&
                        put(group + DC_VSTRIDE, vs) && put(group + DC_ADDRESS, at));
            if (l == 0 || control & DC_CONTROL_ENABLE)
                top = {l, hs, vs, at};
        }
        int w = width[BLOCK[top.layer]], h = height[BLOCK[top.layer]];
        int64_t bytes = top.hstride, pixels = bytes ? top.vstride / bytes : 0, size = pixels * h * bytes;
        bool fits = bytes >= 1 && bytes <= 3 && pixels > 0 && pixels <= INT32_MAX && size <= (64 << 20) &&
                    top.address + uint64_t(size) <= MEMORY_END;

        RunResult r = run_program(shot, work);
        EXPECT_EQ(r.status, fits ? 0 : 255) << r.err;
        EXPECT_FALSE(temp_left());
        EXPECT_EQ(file_exists(in_work("shot.png")), fits);
        if (fits) {
            SCOPED_TRACE("layer " + std::to_string(top.layer) + ", hstride " + std::to_string(bytes) + ", vstride " +
                         std::to_string(top.vstride));
            DecodedPng png = decode_png(in_work("shot.png"));
            EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(unsigned(w), unsigned(h))) << png.error;
            EXPECT_TRUE(png.rgb == expected_shot(mem, top.address, bytes, pixels, size, w, h)) << "pixels differ";
        }
        unlink(in_work("shot.png").c_str());
    }
    close(mem);
}
