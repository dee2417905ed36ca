#include "device_run.h"

using CommandLine = DeviceTest;

static const char DUMP[] = "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n";

TEST_F(CommandLine, AnythingButAFileNameOrADelayPrintsTheUsage)
{
    const std::vector<std::vector<std::string>> lines = {
        {"-x"}, {"-"}, {"-s", "5"}, {"a.png", "b.png"}, {"-sx", "5", "a.png"}, {"-S", "1", "a.png"},
        {"a.png", "-s", "1"}, {"-s", "1", "a.png", "b.png"}, {"1", "2", "3", "4", "5"},
    };
    for (const auto &args : lines)
        EXPECT_RUN(tavro(args), 0, "usage: " + tavro_path() + " [-s <seconds>] <filename>\n"
                   "       or run without arguments for interactive mode\n", "");
    EXPECT_EQ(launcher_log(), "");
    EXPECT_EQ(system(("test -z \"$(ls -A " + work + ")\"").c_str()), 0) << "files were written";
}

TEST_F(CommandLine, DelayIsReadLikeStrtolAndTheShotFollows)
{
    const char *cases[][3] = {{"1", "1", "one.png"}, {"abc", "0", "abc.png"}, {" +1x", "1", "onex.png"},
                              {"-3", "-3", "negative.png"}, {"-010", "-10", "ten.png"}, {"0", "0", "-x"}};
    for (const auto &c : cases) {
        EXPECT_RUN(tavro({"-s", c[0], c[2]}), 0, "tavro: sleeping for " + std::string(c[1]) + " secs\n" + DUMP,
                   "tavro: done.\n");
        EXPECT_TRUE(decode_png(in_work(c[2])).ok) << c[2];
        EXPECT_EQ(read_file(device + "/sleep.log"), atoi(c[1]) > 0 ? c[1] + std::string("\n") : "") << c[0];
    }
    EXPECT_EQ(launcher_log(), "");
}

// The devices are opened before the arguments are read; in interactive
// mode a failure still hands the device to the launcher.
TEST_F(CommandLine, MissingDevicesFailFirst)
{
    const char *no_file = ": No such file or directory\n";
    struct Case { std::vector<std::string> options, args; int status; std::string err; };
    const Case cases[] = {
        {{"--without", "mem"}, {"shot.png"}, 1, std::string("open(\"/dev/mem\")") + no_file},
        {{"--without", "mem"}, {"-x"}, 1, std::string("open(\"/dev/mem\")") + no_file},
        {{"--without", "GPIO"}, {"shot.png"}, 1, std::string("open(\"/dev/GPIO\")") + no_file},
        {{"--no-regs"}, {"-s", "0", "shot.png"}, 2, "mmap(memregs): "},
        {{"--without", "mem"}, {}, 0, "open(\"/dev/mem\")"},
        {{"--without", "GPIO"}, {}, 0, "open(\"/dev/GPIO\")"},
        {{"--no-regs"}, {}, 0, "mmap(memregs): "},
    };
    for (const Case &c : cases) {
        RunResult r = tavro(c.args, c.options);
        EXPECT_EQ(r.status, c.status) << c.options[0];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        EXPECT_EQ(count_of(r.err, "\n"), 1) << r.err;
        EXPECT_FALSE(file_exists(in_work("shot.png")));
        std::string started = c.args.empty() ? "cwd=" + device + "/usr/gp2x argv0=gp2xmenu args=\n" : "";
        EXPECT_EQ(launcher_log().substr(launcher_log().find(' ') + 1), started) << c.options[0];
        remove((device + "/launcher.log").c_str());
    }
}

TEST_F(CommandLine, UnwritableFileFailsWith255)
{
    // A full device: a whole screen fails inside the encoder, a tiny one only
    // when its last bytes are flushed.
    const char *failed = "tavro: write_png() failed\n";
    const struct { const char *file, *size, *err; } cases[] = {
        {"", "320x240", "tavro: failed to open \"\"\n"},
        {"missing/shot.png", "320x240", "tavro: failed to open \"missing/shot.png\"\n"},
        {"/dev/full", "320x240", "libpng error: Write Error\nerror in png code\n"},
        {"/dev/full", "4x4", "tavro: failed to write \"/dev/full\": No space left on device\n"},
    };
    for (const auto &c : cases) {
        RunResult r = tavro({c.file}, {"--screen", c.size});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.err + std::string(failed));
    }
    EXPECT_EQ(tavro({""}).out, DUMP);
}

TEST(SafetyCheck, OutsideTheEmulatedDeviceTavroRefusesAndTouchesNothing)
{
    std::string dir = make_temp_dir("outside"), log = dir + "/opened";
    std::vector<std::string> argv = tavro_command();
    argv.push_back("shot.png");
    EXPECT_RUN(run_program(argv, dir, {tripwire_preload(), "TRIPWIRE_LOG=" + log}), 1, "",
               "tavro: this build runs only on the device or its emulated device\n");
    EXPECT_FALSE(file_exists(log)) << read_file(log);
    EXPECT_FALSE(file_exists(dir + "/shot.png"));
    remove_tree(dir);
}
