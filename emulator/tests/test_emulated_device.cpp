// The runner and the shim together, with a probe that makes the program's
// device calls (emu_probe.cpp). The system tests show the program's own
// calls reaching the device; these show the other names that reach it, host
// devices refused, descriptors, the fbdev answers generic tools read, calls
// made before the shim is set up, and the runner's end. The display model
// has tests of its own (test_display_model.cpp).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// What command prints.
static std::string run(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    for (int c; p && (c = fgetc(p)) != EOF;)
        out += char(c);
    if (p)
        pclose(p);
    return out;
}

// True as soon as condition holds; false if it still fails after 10 s.
template <typename F> static bool wait_for(F condition)
{
    for (time_t end = time(nullptr) + 10; time(nullptr) < end; usleep(5000))
        if (condition())
            return true;
    return condition();
}

// A working folder holding links to device files, and a framebuffer node
// where this user may make one (else one more link to a host device).
class EmulatedDevice : public testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/emu-test.XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        dir = name;
        run("cd " + dir + " && ln -s /dev/GPIO gpio-link && ln -s ../../dev/GPIO gpio-up &&"
            " ln -s /dev/kmem kmem-link && { mknod screen-node c 29 0 2>/dev/null || ln -s /dev/port screen-node; }");
    }
    void TearDown() override { run("rm -rf '" + dir + "'"); }

    // What command prints, run in dir on a device kept in dir/dev with the
    // button word 0x1234 held.
    std::string on_device(const std::string &command, const std::string &options = "")
    {
        return run("cd " + dir + " && " EMU_RUNNER " --dir dev --buttons 1234@0-600 " + options + " -- " + command);
    }
    std::string device_file(const std::string &name) { return run("cat " + dir + "/dev/" + name + " 2>/dev/null"); }
};

// Every name of one of the device's files reaches the emulated file; one
// of this machine's devices is refused and written down as spelled. A
// stream on a device file shows in the test of early calls.
TEST_F(EmulatedDevice, EveryNameReachesTheDeviceAndNoneReachesAHostDevice)
{
    const struct { const char *what, *step, *out, *refused; } opens[] = {
        {"a link to a device file", "open=gpio-link", "read 00001234\n", ""},
        {"a relative link climbing to it", "open=gpio-up", "read 00001234\n", ""},
        {"openat from a descriptor of /dev", "openat=/dev,../dev/GPIO", "read 00001234\n", ""},
        {"through the working folder's magic link", "open=/proc/self/cwd/../../dev/GPIO", "read 00001234\n", ""},
        {"through the root's magic link", "open=/proc/self/root/dev/fb0", "read ffffffff\n", ""},
        {"a link to kernel memory", "open=kmem-link", "errno 13\n", "open kmem-link\n"},
        {"a stream reopened on it", "freopen=kmem-link", "errno 13\n", "freopen kmem-link\n"},
        {"a second framebuffer, spelled oddly", "open=//dev/./fb1", "errno 13\n", "open //dev/./fb1\n"},
        {"openat of a host device from the root", "openat=/,dev/kmem", "errno 13\n", "openat dev/kmem\n"},
        {"a framebuffer node made elsewhere", "open=screen-node", "errno 13\n", "open screen-node\n"},
    };
    for (const auto &o : opens) {
        SCOPED_TRACE(o.what);
        EXPECT_EQ(on_device(EMU_PROBE " " + std::string(o.step)), o.out);
        EXPECT_EQ(device_file("refused.log"), o.refused);
    }
}

// A device file left out is missing too, as the system tests show.
TEST_F(EmulatedDevice, WithoutADeviceTheShimOpensNoDeviceFileOfThisMachine)
{
    EXPECT_EQ(run("env -u TAVRO_EMU_ROOT LD_PRELOAD=" EMU_SHIM " " EMU_PROBE " mem open=/dev/GPIO fb0"),
              "errno 2\nerrno 2\nerrno 2\n");
}

TEST_F(EmulatedDevice, CopiesOfADescriptorStayTheDeviceAndAReusedNumberDoesNot)
{
    EXPECT_EQ(on_device(EMU_PROBE " descriptors"), "8 8 8 8 256\n");
}

// Its name and address show in the system tests.
TEST_F(EmulatedDevice, FramebufferDescribesTheScreenOfLayerOne)
{
    EXPECT_EQ(on_device(EMU_PROBE " fb0"), "len=153600 line=640 320x240@16 red=11/5\n");
}

// Preloaded into the probe alone, never into the runner, which has no shim.
TEST_F(EmulatedDevice, ALibraryWhoseConstructorRunsFirstReachesTheDevice)
{
    EXPECT_EQ(on_device("sh -c 'LD_PRELOAD=$LD_PRELOAD:" EMU_EARLY " exec " EMU_PROBE "'"),
              "read 464c457f\nopened\nread 00001234\n");
}

// With --wait-all the device runs on for what the command left behind; a
// signal once the command has ended kills that too, and the runner ends as
// killed by that signal.
TEST_F(EmulatedDevice, ASignalAfterTheCommandEndedEndsWhatItLeftBehind)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        unlink((dir + "/dev/exits.log").c_str());   // the last round's
        pid_t runner = fork();
        if (runner == 0 && chdir(dir.c_str()) == 0)
            execl(EMU_RUNNER, EMU_RUNNER, "--dir", "dev", "--wait-all", "--", "sh", "-c", "sleep 30 & echo $! >leftover",
                  nullptr);
        if (runner == 0)
            _exit(127);
        ASSERT_TRUE(wait_for([&] { return !device_file("exits.log").empty(); })) << "the command did not end";
        kill(runner, sig);
        int status = 0;
        bool ended = wait_for([&] { return waitpid(runner, &status, WNOHANG) == runner; });
        if (!ended)
            kill(runner, SIGKILL);   // the leftover ends by itself
        pid_t leftover = atoi(run("cat " + dir + "/leftover").c_str());
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << "the runner still ran";
        EXPECT_EQ(kill(leftover, 0), -1) << "the leftover still ran";
        EXPECT_NE(device_file("exits.log").find(std::to_string(leftover) + " 137\n"), std::string::npos);
    }
}
