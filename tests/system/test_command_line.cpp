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
    struct Case { const char *what; std::vector<std::string> options, args; int status; std::string out, err; };
    const Case cases[] = {
        {"an unknown option", {}, {"-x"}, 0, usage, ""},
        {"a lone dash", {}, {"-"}, 0, usage, ""},
        {"a delay without a file", {}, {"-s", "5"}, 0, usage, ""},
        {"two files", {}, {"a.png", "b.png"}, 0, usage, ""},
        {"the delay option run on", {}, {"-sx", "5", "a.png"}, 0, usage, ""},
        {"the delay option in capitals", {}, {"-S", "1", "a.png"}, 0, usage, ""},
        {"the delay after the file", {}, {"a.png", "-s", "1"}, 0, usage, ""},
        {"a delay and two files", {}, {"-s", "1", "a.png", "b.png"}, 0, usage, ""},
        {"no /dev/mem, a shot", {"--without", "mem"}, {"shot.png"}, 1, "", no_mem},
        {"no /dev/mem, a usage error", {"--without", "mem"}, {"-x"}, 1, "", no_mem},
        {"no /dev/GPIO, a shot", {"--without", "GPIO"}, {"shot.png"}, 1, "", no_gpio},
        {"no /dev/GPIO, the menu", {"--without", "GPIO"}, {}, 0, "", no_gpio},
        {"no /dev/mem, the menu", {"--without", "mem"}, {}, 0, "", no_mem},
        {"no register window, a shot", {"--no-regs"}, {"-s", "0", "shot.png"}, 2, "",
         "mmap(memregs): No such device or address\n"},
        {"no register window, the menu", {"--no-regs"}, {}, 0, "", "mmap(memregs): No such device or address\n"},
        {"no /dev/fb0, the menu", {"--without", "fb0"}, {}, 1, "", "can't open fbdev: No such file or directory\n"},
        {"/dev/fb0 without screen information, the menu", {"--without", "fb0-info"}, {}, 1, "",
         "ioctl(fbdev) failed: Input/output error\n"},
        {"a framebuffer past physical memory, the menu",
         {"--mem-size", "0xc0010000", "--layer", "p1:addr=0xd0000000"}, {}, 1,
         "tavro: framebuffer: \"emu-lcd\" @ d0000000\n", "tavro: mmap failed: No such device or address\n"},
        {"an empty file name", {}, {""}, 255, DUMP, "tavro: failed to open \"\"\n" + failed},
        {"a file in a missing folder", {}, {"missing/shot.png"}, 255, DUMP,
         "tavro: failed to open \"missing/shot.png\"\n" + failed},
        {"a full device, a whole screen", {}, {"/dev/full"}, 255, DUMP,
         "libpng error: Write Error\nerror in png code\n" + failed},
        {"a full device, a tiny screen", {"--screen", "4x4"}, {"/dev/full"}, 255,
         "tavro: about to dump 03101000, 4x4@16, stride=4, size=32\n",
         "tavro: failed to write \"/dev/full\": No space left on device\n" + failed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult r = tavro(c.args, c.options);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(glibc_wording(r.err), c.err);
        // Only the menu leaves to the launcher, and not after a display failure.
        bool launched = c.args.empty() && c.status == 0;
        std::string started = launched ? "cwd=" + device + "/usr/gp2x argv0=gp2xmenu args=\n" : "";
        EXPECT_EQ(launcher_log().substr(launcher_log().find(' ') + 1), started);
        if (c.args.empty() && c.status == 1) {
            EXPECT_EQ(reg(P1_HSTRIDE), 2u) << "a register was written";
        }
        remove((device + "/launcher.log").c_str());
    }
    EXPECT_EQ(system(("test -z \"$(ls -A " + work + ")\"").c_str()), 0) << "files were written";
}

// A delay that is no positive number is not waited: a run that waits it
// out fails at its deadline, and the rest are not tried.
TEST_F(CommandLine, DelayIsReadLikeStrtolAndTheShotFollows)
{
    const struct { const char *given, *read_as, *file; } cases[] = {
        {"-3", "-3", "negative.png"}, {"-010", "-10", "ten.png"}, {"1", "1", "one.png"},
        {"abc", "0", "abc.png"},      {" +1x", "1", "onex.png"},  {"0", "0", "-x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("-s \"") + c.given + "\"");
        EXPECT_RUN(tavro({"-s", c.given, c.file}, {}, 8), 0,
                   "tavro: sleeping for " + std::string(c.read_as) + " secs\n" + DUMP, "tavro: done.\n");
        EXPECT_TRUE(decode_png(in_work(c.file)).ok);
        std::string waited = atoi(c.read_as) > 0 ? c.read_as + std::string("\n") : "";
        ASSERT_EQ(read_file(device + "/sleep.log"), waited);
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
