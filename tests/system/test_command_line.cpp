#include "interactive.h"

using CommandLine = InteractiveTest;

static const char DUMP[] = "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n";

// The devices are opened before the arguments are read; in interactive
// mode a failure still hands the device to the launcher, but one of the
// display ends at once, before any register is written. A full device
// fails a whole screen inside the encoder, a tiny one only when its last
// bytes are flushed.
TEST_F(CommandLine, EachCommandLineEndsWithItsStatusAndMessages)
{
    const std::string usage = "usage: " + tavro_path() + " [-s <seconds>] <filename>\n"
                              "       or run without arguments for interactive mode\n";
    const std::string no_mem = "open(\"/dev/mem\"): No such file or directory\n";
    const std::string no_gpio = "open(\"/dev/GPIO\"): No such file or directory\n";
    const std::string failed = "tavro: write_png() failed\n";
    struct Case { std::vector<std::string> options, args; int status; std::string out, err; };
    const Case cases[] = {
        {{}, {"-x"}, 0, usage, ""},                {{}, {"-"}, 0, usage, ""},
        {{}, {"-s", "5"}, 0, usage, ""},           {{}, {"a.png", "b.png"}, 0, usage, ""},
        {{}, {"-sx", "5", "a.png"}, 0, usage, ""}, {{}, {"-S", "1", "a.png"}, 0, usage, ""},
        {{}, {"a.png", "-s", "1"}, 0, usage, ""},  {{}, {"-s", "1", "a.png", "b.png"}, 0, usage, ""},
        {{"--without", "mem"}, {"shot.png"}, 1, "", no_mem},   {{"--without", "mem"}, {"-x"}, 1, "", no_mem},
        {{"--without", "GPIO"}, {"shot.png"}, 1, "", no_gpio}, {{"--without", "GPIO"}, {}, 0, "", no_gpio},
        {{"--without", "mem"}, {}, 0, "", no_mem},
        {{"--no-regs"}, {"-s", "0", "shot.png"}, 2, "", "mmap(memregs): No such device or address\n"},
        {{"--no-regs"}, {}, 0, "", "mmap(memregs): No such device or address\n"},
        {{"--without", "fb0"}, {}, 1, "", "can't open fbdev: No such file or directory\n"},
        {{"--without", "fb0-info"}, {}, 1, "", "ioctl(fbdev) failed: Input/output error\n"},
        {{"--mem-size", "0xc0010000", "--layer", "p1:addr=0xd0000000"}, {}, 1,
         "tavro: framebuffer: \"emu-lcd\" @ d0000000\n", "tavro: mmap failed: No such device or address\n"},
        {{}, {""}, 255, DUMP, "tavro: failed to open \"\"\n" + failed},
        {{}, {"missing/shot.png"}, 255, DUMP, "tavro: failed to open \"missing/shot.png\"\n" + failed},
        {{}, {"/dev/full"}, 255, DUMP, "libpng error: Write Error\nerror in png code\n" + failed},
        {{"--screen", "4x4"}, {"/dev/full"}, 255, "tavro: about to dump 03101000, 4x4@16, stride=4, size=32\n",
         "tavro: failed to write \"/dev/full\": No space left on device\n" + failed},
    };
    for (const Case &c : cases) {
        RunResult r = tavro(c.args, c.options);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(glibc_wording(r.err), c.err);
        bool launched = c.args.empty() && c.status == 0;
        std::string started = launched ? "cwd=" + device + "/usr/gp2x argv0=gp2xmenu args=\n" : "";
        EXPECT_EQ(launcher_log().substr(launcher_log().find(' ') + 1), started) << c.err;
        EXPECT_TRUE(c.status != 1 || !c.args.empty() || reg(P1_HSTRIDE) == 2) << c.err << ": a register was written";
        remove((device + "/launcher.log").c_str());
    }
    EXPECT_EQ(system(("test -z \"$(ls -A " + work + ")\"").c_str()), 0) << "files were written";
}

// A delay that is no positive number is not waited: a run that waits it
// out fails at its deadline, and the rest are not tried.
TEST_F(CommandLine, DelayIsReadLikeStrtolAndTheShotFollows)
{
    const char *cases[][3] = {{"-3", "-3", "negative.png"}, {"-010", "-10", "ten.png"}, {"1", "1", "one.png"},
                              {"abc", "0", "abc.png"}, {" +1x", "1", "onex.png"}, {"0", "0", "-x"}};
    for (const auto &c : cases) {
        EXPECT_RUN(tavro({"-s", c[0], c[2]}, {}, 8), 0,
                   "tavro: sleeping for " + std::string(c[1]) + " secs\n" + DUMP, "tavro: done.\n");
        EXPECT_TRUE(decode_png(in_work(c[2])).ok) << c[2];
        ASSERT_EQ(read_file(device + "/sleep.log"), atoi(c[1]) > 0 ? c[1] + std::string("\n") : "") << c[0];
    }
}

// Run outside the emulated device, tavro opens nothing and writes nothing.
TEST_F(CommandLine, OutsideTheEmulatedDeviceTavroRefusesAndTouchesNothing)
{
    std::vector<std::string> argv = tavro_command();
    argv.push_back("shot.png");
    EXPECT_RUN(run_program(argv, work, {tripwire_preload(), "TRIPWIRE_LOG=" + in_work("opened")}), 1, "",
               "tavro: this build runs only on the device or its emulated device\n");
    EXPECT_EQ(system(("test -z \"$(ls -A " + work + ")\"").c_str()), 0) << read_file(in_work("opened"));
}
