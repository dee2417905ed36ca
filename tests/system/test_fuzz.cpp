// Random layer registers, combo files and pid files through the real
// binary: no crash, no hang, no file left cut off, every shot as the
// memory holds it. TAVRO_FUZZ_SEED=N TAVRO_FUZZ_RUNS=1 repeats the run
// that a failure names; the runs are numbered from the seed.
#include "interactive.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static unsigned first_seed()
{
    static const char *given = getenv("TAVRO_FUZZ_SEED");
    static unsigned seed = given && *given ? unsigned(strtoul(given, nullptr, 0)) : std::random_device()();
    return seed;
}

static int run_count(int fallback)
{
    const char *given = getenv("TAVRO_FUZZ_RUNS");
    return given && *given ? atoi(given) : fallback;
}

class Fuzz : public InteractiveTest {
protected:
    std::mt19937 rng;
    uint32_t any() { return uint32_t(rng()); }
    uint32_t below(uint32_t n) { return any() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }

    bool temp_left() { return system(("ls -A " + work + " | grep -q '^.tavro-'").c_str()) == 0; }
};

static const uint64_t REGS = 0xC0000000;
// In the order of the visible-layer choice: p0, s0, p1, s1.
static const uint32_t GROUP[4] = {0x400C, 0x440C, 0x4040, 0x4440};
static const uint32_t FILLED[4] = {0x02800000, 0x03800000, 0x03101000, 0x03C00000};
static const uint32_t CODE[3] = {0x443A, 0x4432, 0xC653};

// What a shot of the memory must hold: the line start steps by whole
// pixels of the stride, and pixels past the copy are black.
static std::vector<uint8_t> expected_shot(int fd, uint32_t address, int64_t bytes, int64_t pixels, int64_t size,
                                          int w, int h)
{
    std::vector<uint8_t> mem(static_cast<size_t>(size)), rgb(static_cast<size_t>(w) * h * 3, 0);
    if (pread(fd, mem.data(), mem.size(), off_t(address)) != ssize_t(size))
        return {};
    for (int64_t y = 0; y < h; y++)
        for (int64_t x = 0; x < w; x++) {
            int64_t at = (y * pixels + x) * bytes;
            if (at + bytes > size)
                continue;
            uint8_t *out = &rgb[size_t(y * w + x) * 3];
            const uint8_t *p = &mem[size_t(at)];
            if (bytes == 1) {
                out[0] = out[1] = out[2] = p[0];
            } else if (bytes == 2) {
                unsigned c = p[0] | p[1] << 8, r = c >> 11, g = c >> 5 & 0x3F, b = c & 0x1F;
                out[0] = uint8_t(r << 3 | r >> 2), out[1] = uint8_t(g << 2 | g >> 4), out[2] = uint8_t(b << 3 | b >> 2);
            } else {
                out[0] = p[2], out[1] = p[1], out[2] = p[0];
            }
        }
    return rgb;
}

TEST_F(Fuzz, ShotsOfRandomLayerRegistersMatchTheMemory)
{
    // One device stays up; each run writes its registers and takes a shot.
    runner = fork();
    if (runner == 0) {
        setpgid(0, 0);
        exec_in(work, {TAVRO_EMU, "--dir", device, "--", "/bin/sleep", "600"});
    }
    setpgid(runner, runner);
    group = runner;  // ended with the test
    std::string children = "/proc/" + std::to_string(runner) + "/task/" + std::to_string(runner) + "/children";
    ASSERT_TRUE(wait_until([&] { return !read_file(children).empty(); }));
    int mem = open((device + "/dev/mem").c_str(), O_RDWR);
    struct stat st;
    ASSERT_TRUE(mem >= 0 && fstat(mem, &st) == 0);
    std::vector<std::string> shot = device_command({"--attach", "--dir", device});
    shot.push_back("shot.png");
    auto put = [&](uint32_t offset, uint32_t value) {
        uint8_t le[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        return pwrite(mem, le, 4, off_t(REGS + offset)) == 4;
    };

    for (int run = 0, runs = run_count(250); run < runs; run++) {
        unsigned seed = first_seed() + unsigned(run);
        rng.seed(seed);
        SCOPED_TRACE("TAVRO_FUZZ_SEED=" + std::to_string(seed));
        int width[2], height[2];
        for (int block = 0; block < 2; block++) {
            width[block] = 1 + int(below(chance(95) ? 400 : 4096));
            height[block] = 1 + int(below(chance(95) ? 300 : 4096));
            // Bits above the fields are noise the program must leave out.
            ASSERT_TRUE(put(0x4004 + 0x400 * block, uint32_t(height[block] - 1) << 16 | uint32_t(width[block] - 1) |
                                                      (any() & 0xF000F000)));
        }
        uint32_t hstride[4], vstride[4], address[4], control[4];
        for (int l = 0; l < 4; l++) {
            int w = width[GROUP[l] > 0x4400];
            hstride[l] = chance(85) ? 1 + below(3) : chance(50) ? below(6) : any();
            bool known = hstride[l] >= 1 && hstride[l] <= 3;
            uint32_t code = known && chance(80) ? CODE[hstride[l] - 1] : any() >> 16;
            control[l] = code << 16 | (any() & 0xFFEF);  // any enable bits; no apply
            vstride[l] = chance(70) ? (w + below(64)) * hstride[l] : chance(50) ? below(5000) : any();
            address[l] = chance(85) ? FILLED[below(4)] + below(0x40000) : any();
            if (address[l] >= 0xBC000000 && address[l] < REGS + 0x10000)
                address[l] -= 0x40000000;  // no frame over the registers, which the device changes
            ASSERT_TRUE(put(GROUP[l] + 0x18, control[l]) && put(GROUP[l] + 0x1C, hstride[l]) &&
                        put(GROUP[l] + 0x20, vstride[l]) && put(GROUP[l] + 0x2C, address[l]));
        }
        int top = 0;
        for (int l = 1; l < 4; l++)
            if (control[l] & 0x20)
                top = l;
        int w = width[GROUP[top] > 0x4400], h = height[GROUP[top] > 0x4400];
        int64_t bytes = hstride[top], pixels = bytes ? vstride[top] / bytes : 0, size = pixels * h * bytes;
        bool fits = bytes >= 1 && bytes <= 3 && pixels > 0 && pixels <= INT32_MAX && size <= (64 << 20) &&
                    address[top] + uint64_t(size) <= uint64_t(st.st_size);

        unlink(in_work("shot.png").c_str());
        RunResult r = run_program(shot, work);
        EXPECT_EQ(r.status, fits ? 0 : 255) << r.err;
        EXPECT_FALSE(temp_left());
        if (!fits) {
            EXPECT_FALSE(file_exists(in_work("shot.png")));
            continue;
        }
        DecodedPng png = decode_png(in_work("shot.png"));
        EXPECT_TRUE(png.ok && png.width == unsigned(w) && png.height == unsigned(h)) << png.error;
        EXPECT_TRUE(png.rgb == expected_shot(mem, address[top], bytes, pixels, size, w, h))
            << "layer " << top << " at " << std::hex << address[top] << ", " << std::dec << w << "x" << h
            << ", hstride " << bytes << ", vstride " << vstride[top];
    }
    close(mem);
}

TEST_F(Fuzz, StartsWithRandomComboAndPidFilesHangNothingAndKeepEveryFile)
{
    enum Plant { NONE, BYTES, FIFO, FOLDER, LINK, HARD_LINK, PLANTS };
    const uint8_t defaults[12] = {0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
    for (int run = 0, runs = run_count(12); run < runs; run++) {
        unsigned seed = first_seed() + unsigned(run);
        rng.seed(seed);
        SCOPED_TRACE("TAVRO_FUZZ_SEED=" + std::to_string(seed));
        std::string victim = in_work("victim"), pid_path = device + "/tmp/tavro.pid";
        ASSERT_EQ(system(("rm -rf " + work + "/* " + device + "; mkdir -p " + device + "/tmp; echo keep >" + victim)
                             .c_str()), 0);
        std::string combo(below(17), '\0');
        for (char &c : combo)
            c = char(chance(70) ? 0 : any());
        Plant at_combo = Plant(below(PLANTS)), at_pid = Plant(below(PLANTS));
        const struct { Plant plant; std::string path, text; } plants[] = {
            {at_combo, in_work("tavro.bcfg"), combo}, {at_pid, pid_path, std::to_string(int(any() % 100000))}};
        for (const auto &p : plants) {
            int made = 0;
            FILE *f = nullptr;
            switch (p.plant) {
            case BYTES:
                made = (f = fopen(p.path.c_str(), "wb")) && fwrite(p.text.data(), 1, p.text.size(), f) == p.text.size();
                made = f && fclose(f) == 0 && made ? 0 : -1;
                break;
            case FIFO: made = mkfifo(p.path.c_str(), 0644); break;
            case FOLDER: made = mkdir(p.path.c_str(), 0755); break;
            case LINK: made = symlink(victim.c_str(), p.path.c_str()); break;
            case HARD_LINK: made = link(victim.c_str(), p.path.c_str()); break;
            default: break;
            }
            ASSERT_EQ(made, 0) << p.path;
        }

        start({"--wait-all"});
        ASSERT_TRUE(menu_shown()) << err();
        for (int i = 0; i < 3; i++)
            tap(RAW_DOWN);
        set_buttons(RAW_MENU);
        // The service runs and names itself in a plain pid file, or says in
        // one line why not. Nothing else at that path is read.
        std::string pid;
        auto named = [&] {
            struct stat st;
            pid = lstat(pid_path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 ? read_file(pid_path) : "";
            return !pid.empty() && out().find("child starting with pid " + pid + "\n") != std::string::npos;
        };
        ASSERT_TRUE(wait_until([&] { return !err().empty() || named(); })) << out();
        if (err().empty()) {
            hold(0);
            RunResult r = attach();
            EXPECT_EQ(r.out, "other instance detected (pid " + pid + "), signaled and exiting\n");
            ASSERT_TRUE(wait_until([&] { return out().find("tavro: signal received\n") != std::string::npos; }));
            ASSERT_TRUE(wait_until([&] { return reg(0x4058) >> 16 == 0x443A; })) << "no menu after the stop";
            tap(RAW_DOWN);
            set_buttons(RAW_MENU);
        }
        EXPECT_EQ(finish(), 0);
        std::string messages = err();
        EXPECT_LE(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
        EXPECT_EQ(read_file(victim), "keep\n");
        EXPECT_FALSE(temp_left());
        EXPECT_EQ(reg(0x4058) >> 16, 0x4432u) << "the screen was not given back";
        if (at_combo == NONE || at_combo == BYTES) {
            std::string saved(reinterpret_cast<const char *>(defaults), 12);
            if (at_combo == BYTES)
                saved.replace(0, std::min<size_t>(combo.size(), 12), combo.substr(0, 12));
            EXPECT_TRUE(read_file(in_work("tavro.bcfg")) == saved);
        }
    }
}
