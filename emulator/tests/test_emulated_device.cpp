// The runner and the shim together, with a probe that makes the program's
// device calls (emu_probe.cpp): routing, refusal of host devices,
// descriptors, the fbdev answers, the sync acknowledge; and the runner's
// end.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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
        run("cd " + dir + " && ln -s /dev/GPIO gpio-link && ln -s ../../dev/mem mem-up &&"
            " ln -s /dev/kmem kmem-link && { mknod screen-node c 29 0 2>/dev/null || ln -s /dev/port screen-node; }");
    }
    void TearDown() override { run("rm -rf '" + dir + "'"); }

    // The probe's steps on a device kept in dir/dev, the button word 0x1234
    // held: what it prints.
    std::string probe(const std::string &steps)
    {
        return run("cd " + dir + " && " EMU_RUNNER " --dir dev --buttons 1234@0-600 -- " EMU_PROBE " " + steps);
    }
    std::string device_file(const std::string &name) { return run("cat " + dir + "/dev/" + name + " 2>/dev/null"); }
};

TEST_F(EmulatedDevice, EveryNameOfADeviceFileReachesTheEmulatedOne)
{
    const struct { const char *what, *step, *out; } names[] = {
        {"the stream of the button driver", "fopen=/dev/GPIO", "read 00001234"},
        {"a link to it", "open=gpio-link", "read 00001234"},
        {"a relative link to memory", "open=mem-up", "read 00000000"},
        {"openat from a descriptor of /dev", "openat=/dev,../dev/GPIO", "read 00001234"},
        {"through the working folder's magic link", "open=/proc/self/cwd/../../dev/GPIO", "read 00001234"},
        {"through the root's magic link", "open=/proc/self/root/dev/fb0", "read ffffffff"},
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n.what);
        EXPECT_EQ(probe(n.step), n.step + std::string(" ") + n.out + "\n");
        EXPECT_EQ(device_file("refused.log"), "");
    }
}

TEST_F(EmulatedDevice, HostDeviceNodesAreRefusedAndWrittenDownAsSpelled)
{
    const struct { const char *what, *step, *logged; } hosts[] = {
        {"a link to kernel memory", "open=kmem-link", "open kmem-link"},
        {"a stream reopened on it", "freopen=kmem-link", "freopen kmem-link"},
        {"a second framebuffer, spelled oddly", "open=//dev/./fb1", "open //dev/./fb1"},
        {"the I/O ports", "open=/dev/port", "open /dev/port"},
        {"openat from the root", "openat=/,dev/kmem", "openat dev/kmem"},
        {"a framebuffer node made elsewhere", "open=screen-node", "open screen-node"},
    };
    for (const auto &h : hosts) {
        SCOPED_TRACE(h.what);
        EXPECT_EQ(probe(h.step), h.step + std::string(" errno 13\n"));
        EXPECT_EQ(device_file("refused.log"), h.logged + std::string("\n"));
    }
}

TEST_F(EmulatedDevice, RegistersAndFramebufferDescribeTheScreenOfLayerOne)
{
    EXPECT_EQ(probe("mem regs fb0"), "mem ok\n"
                                     "regs screen=00ef013f p1=44320023@03101000 status=00000003\n"
                                     "fb0 id=emu-lcd start=03101000 len=153600 line=640 320x240@16 red=11/5\n");
}

TEST_F(EmulatedDevice, CopiesOfADescriptorStayTheDeviceAndAReusedNumberDoesNot)
{
    EXPECT_EQ(probe("descriptors"), "descriptors 8 8 8 8 256\n");
}

// Ten syncs seen one by one; the layer applies at the next sync; the
// palette register keeps nothing and each store is written down.
TEST_F(EmulatedDevice, WhereStoresAreCaughtTheAcknowledgeClearsTheSyncFlag)
{
    EXPECT_EQ(probe("mem regs sync"), "mem ok\n"
                                      "regs screen=00ef013f p1=44320023@03101000 status=00000003\n"
                                      "sync 10 ctl=443a0023 palette=00000000\n");
    EXPECT_NE(device_file("regwrites.log").find("4058 443a0033\n"), std::string::npos);
    EXPECT_NE(device_file("regwrites.log").find("4070 0100ffff\n"), std::string::npos);
}

// The shim built as where stores cannot be caught (qemu user mode): the
// flag pulses by itself, the layer still applies, the palette register
// reads back as plain memory.
TEST_F(EmulatedDevice, WhereStoresAreNotCaughtTheSyncFlagPulses)
{
    EXPECT_EQ(run(EMU_RUNNER " --shim " EMU_SHIM_UNTRAPPED " -- " EMU_PROBE " mem regs sync"),
              "mem ok\n"
              "regs screen=00ef013f p1=44320023@03101000 status=00000003\n"
              "sync 10 ctl=443a0023 palette=0100ffff\n");
}

// Opens only: nothing here may read this machine's memory.
TEST_F(EmulatedDevice, ADeviceFileLeftOutIsMissingNotThisMachines)
{
    const std::string missing = "mem errno 2\nopen=/dev/GPIO errno 2\nfb0 errno 2\n";
    EXPECT_EQ(run(EMU_RUNNER " --without mem,GPIO --without fb0 -- " EMU_PROBE " mem open=/dev/GPIO fb0"), missing);
    EXPECT_EQ(run("env -u TAVRO_EMU_ROOT LD_PRELOAD=" EMU_SHIM " " EMU_PROBE " mem open=/dev/GPIO fb0"), missing)
        << "the shim without a device";
}

// Preloaded into the probe alone, never into the runner, which has no shim.
TEST_F(EmulatedDevice, ALibraryWhoseConstructorRunsFirstReachesTheDevice)
{
    EXPECT_EQ(run(EMU_RUNNER " --buttons 1234@0-600 -- sh -c 'LD_PRELOAD=$LD_PRELOAD:" EMU_EARLY " exec " EMU_PROBE "'"),
              "early fopen\nmem ok\nfopen=/dev/GPIO read 00001234\n");
}

// True as soon as condition holds; false if it still fails after 10 s.
template <typename F> static bool wait_for(F condition)
{
    for (time_t end = time(nullptr) + 10; time(nullptr) < end; usleep(5000))
        if (condition())
            return true;
    return condition();
}

// With --wait-all the device runs on for what the command left behind; a
// TERM once the command has ended kills that too, and the runner ends as
// killed by TERM.
TEST_F(EmulatedDevice, TermAfterTheCommandEndedEndsWhatItLeftBehind)
{
    pid_t runner = fork();
    if (runner == 0) {
        execl(EMU_RUNNER, EMU_RUNNER, "--dir", (dir + "/dev").c_str(), "--wait-all", "--", "sh", "-c",
              "sleep 600 & echo $! >\"$0/leftover\"", dir.c_str(), nullptr);
        _exit(127);
    }
    ASSERT_TRUE(wait_for([&] { return !device_file("exits.log").empty(); })) << "the command did not end";
    kill(runner, SIGTERM);
    int status = 0;
    bool ended = wait_for([&] { return waitpid(runner, &status, WNOHANG) == runner; });
    pid_t leftover = atoi(run("cat " + dir + "/leftover").c_str());
    if (!ended) {
        kill(leftover, SIGKILL);
        kill(runner, SIGKILL);
        waitpid(runner, &status, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << "the runner still ran";
    EXPECT_EQ(kill(leftover, 0), -1) << "the leftover still ran";
    EXPECT_NE(device_file("exits.log").find(std::to_string(leftover) + " 137\n"), std::string::npos);
}
