#include "device_test.h"

using CommandLine = DeviceTest;

static std::string usage_of(const std::string &program)
{
    return "usage: " + program + " [-s <seconds>] <filename>\n"
           "       or run without arguments for interactive mode\n";
}

static const char DUMP[] = "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n";

TEST_F(CommandLine, AnythingButAFileNameOrADelayPrintsTheUsage)
{
    const std::vector<std::vector<std::string>> lines = {
        {"-x"}, {"-"}, {"-s", "5"}, {"a.png", "b.png"}, {"-sx", "5", "a.png"}, {"-S", "1", "a.png"},
        {"a.png", "-s", "1"}, {"-s", "1", "a.png", "b.png"}, {"1", "2", "3", "4", "5"},
    };
    for (const auto &args : lines) {
        RunResult r = tavro(args);
        EXPECT_RUN(r, 0, usage_of(tavro_path()), "");
    }
    EXPECT_EQ(read_file(device + "/launcher.log"), "");
    EXPECT_EQ(system(("test -z \"$(ls -A " + work + ")\"").c_str()), 0) << "files were written";
}

TEST_F(CommandLine, DelayIsReadLikeStrtolAndTheShotFollows)
{
    struct Case { std::string seconds, shown, file; };
    const Case cases[] = {
        {"1", "1", "one.png"}, {"abc", "0", "abc.png"}, {" +1x", "1", "onex.png"},
        {"-3", "-3", "negative.png"},  // no sleep: the deadline would end it
    };
    for (const Case &c : cases) {
        RunResult r = tavro({"-s", c.seconds, c.file});
        EXPECT_RUN(r, 0, "tavro: sleeping for " + c.shown + " secs\n" + DUMP, "tavro: done.\n");
        EXPECT_TRUE(decode_png(in_work(c.file)).ok) << c.file;
    }
    RunResult r = tavro({"-s", "0", "-x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(decode_png(in_work("-x")).ok) << "a file named like an option after the delay";
    EXPECT_EQ(launcher_log(), "");
}

TEST_F(CommandLine, DevicesAreOpenedBeforeTheArgumentsAreRead)
{
    const char *no_file = ": No such file or directory\n";
    struct Case { std::vector<std::string> options, args; int status; std::string err; };
    const Case cases[] = {
        {{"--without", "mem"}, {"shot.png"}, 1, std::string("open(\"/dev/mem\")") + no_file},
        {{"--without", "mem"}, {"-x"}, 1, std::string("open(\"/dev/mem\")") + no_file},
        {{"--without", "GPIO"}, {"shot.png"}, 1, std::string("open(\"/dev/GPIO\")") + no_file},
        {{"--no-regs"}, {"-s", "0", "shot.png"}, 2, "mmap(memregs): "},
    };
    for (const Case &c : cases) {
        RunResult r = tavro(c.args, c.options);
        EXPECT_EQ(r.status, c.status) << c.options[0];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(file_exists(in_work("shot.png")));
    }
    EXPECT_EQ(launcher_log(), "") << "command-line mode started the launcher";
}

TEST_F(CommandLine, InteractiveStartWithoutDevicesHandsThemToTheLauncher)
{
    const std::vector<std::vector<std::string>> failures = {{"--without", "mem"}, {"--without", "GPIO"},
                                                             {"--no-regs"}};
    for (const auto &options : failures) {
        RunResult r = tavro({}, options);
        EXPECT_EQ(r.status, 0) << "the launcher's own status";
        EXPECT_EQ(r.out, "");
        std::string log = launcher_log();
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find("cwd=" + device + "/usr/gp2x argv0=gp2xmenu args=\n"), std::string::npos)
            << log;
    }
}

TEST_F(CommandLine, UnwritableFileFailsWith255)
{
    RunResult r = tavro({""});
    EXPECT_RUN(r, 255, DUMP, "tavro: failed to open \"\"\ntavro: write_png() failed\n");
    r = tavro({"missing/shot.png"});
    EXPECT_RUN(r, 255, DUMP, "tavro: failed to open \"missing/shot.png\"\ntavro: write_png() failed\n");
    // A full device: a whole screen fails inside the encoder, a tiny one only
    // when its last bytes are flushed.
    r = tavro({"/dev/full"});
    EXPECT_RUN(r, 255, DUMP, "libpng error: Write Error\nerror in png code\ntavro: write_png() failed\n");
    r = tavro({"/dev/full"}, {"--screen", "4x4"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "tavro: failed to write \"/dev/full\": No space left on device\n"
                     "tavro: write_png() failed\n");
}

TEST(SafetyCheck, OutsideTheEmulatedDeviceTavroRefusesAndTouchesNothing)
{
    std::string dir = make_temp_dir("outside");
    std::string log = dir + "/opened";
    std::vector<std::string> argv = tavro_command();
    argv.push_back("shot.png");
    RunResult r = run_program(argv, dir, {tripwire_preload(), "TRIPWIRE_LOG=" + log});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tavro: this build runs only on the device or its emulated device\n");
    EXPECT_FALSE(file_exists(log)) << read_file(log);
    EXPECT_FALSE(file_exists(dir + "/shot.png"));
    remove_tree(dir);
}
