// The runner and the shim together, with a probe that makes the program's
// device calls: routing, the fbdev answers, the sync acknowledge.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::string run(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p)
        pclose(p);
    return out;
}

std::string slurp(const std::string &path)
{
    return run("cat '" + path + "' 2>/dev/null || echo '(missing)'");
}

struct EmulatedDevice : testing::Test {
    char name[32] = "/tmp/emu-test.XXXXXX";
    std::string dir = mkdtemp(name);

    void TearDown() override { run("rm -rf '" + dir + "'"); }
    std::string probe(const std::string &options, const std::string &steps)
    {
        return run(std::string(EMU_RUNNER) + " " + options + " -- " + EMU_PROBE + " " + steps);
    }
};

TEST_F(EmulatedDevice, ProbeReachesEveryDeviceThroughTheShim)
{
    // A link in the pid file's place is the device's own, followed there.
    ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0755), 0);
    ASSERT_EQ(symlink((dir + "/target").c_str(), (dir + "/tmp/tavro.pid").c_str()), 0);
    EXPECT_EQ(probe("--dir " + dir + " --buttons 00040102@0-600", "mem regs gpio fb0 frame pid nice"),
              "mem ok\n"
              "regs screen=00ef013f screen2=00ef013f p1=44320023@03101000 status=00000003\n"
              "gpio 00040102 00040102\n"
              "fb0 id=emu-lcd smem_start=03101000 len=153600 line=640 320x240@16 red=11/5\n"
              "frame ffffffff\n"
              "pid 4242\n"
              "nice 0 0 0\n");
    EXPECT_EQ(slurp(dir + "/target"), "4242\n");
    EXPECT_EQ(slurp(dir + "/setpriority.log"), "0 0 -10\n0 0 0\n");
    EXPECT_EQ(probe("--without mem --without GPIO --without fb0", "mem gpio fb0"), "mem errno 2\ngpio errno 2\nfb0 errno 2\n");
    EXPECT_EQ(run(std::string("env -u TAVRO_EMU_ROOT LD_PRELOAD=") + EMU_SHIM + " " + EMU_PROBE + " mem gpio fb0"),
              "mem errno 2\ngpio errno 2\nfb0 errno 2\n");
}

// Every way of naming a device file reaches the emulated one; every way of
// naming one of this machine's device nodes is refused and written down.
TEST_F(EmulatedDevice, NoSpellingReachesAHostDevice)
{
    static const struct { const char *step, *out; } cases[] = {
        {"open=gpio-link", "read 4 00001234"},  {"open=mem-up", "read 4 00000000"},
        {"openat=/dev,../dev/GPIO", "read 4 00001234"}, {"open=/proc/self/cwd/../../dev/GPIO", "read 4 00001234"},
        {"open=/proc/self/root/dev/fb0", "read 4 ffffffff"}, {"open=kmem-link", "errno 13"},
        {"freopen=kmem-link", "errno 13"}, {"open=//dev/./fb1", "errno 13"}, {"open=/dev/port", "errno 13"},
        {"openat=/,dev/kmem", "errno 13"},  {"open=screen-node", "errno 13"},
    };
    ASSERT_EQ(symlink("/dev/GPIO", (dir + "/gpio-link").c_str()), 0);
    ASSERT_EQ(symlink("../../dev/mem", (dir + "/mem-up").c_str()), 0);
    ASSERT_EQ(symlink("/dev/kmem", (dir + "/kmem-link").c_str()), 0);
    bool node = mknod((dir + "/screen-node").c_str(), S_IFCHR | 0600, makedev(29, 0)) == 0;
    std::string steps, expect, refused;
    for (const auto &c : cases) {
        std::string step = c.step, path = step.substr(step.find('=') + 1);
        if (step == "open=screen-node" && !node)
            continue;
        steps += " " + step;
        expect += path + " " + c.out + "\n";
        if (!strcmp(c.out, "errno 13"))
            refused += step.substr(0, step.find('=')) + " " + path.substr(path.find(',') + 1) + "\n";
    }
    EXPECT_EQ(run("cd " + dir + " && " + EMU_RUNNER + " --dir dev --buttons 1234@0-600 -- " + EMU_PROBE + steps), expect);
    EXPECT_EQ(slurp(dir + "/dev/refused.log"), refused);
}

// Copies of a descriptor stay the device; a reused number does not. A
// library whose constructor runs before the shim's reaches the device too.
TEST_F(EmulatedDevice, DescriptorsAndEarlyCallsKeepWhatTheyAre)
{
    EXPECT_EQ(probe("--buttons 1234@0-600", "descriptors"), "descriptors 8 8 8 8 reused=1 256 256\n");
    std::string r = run(std::string("LD_PRELOAD=") + EMU_EARLY + " " + EMU_RUNNER + " --buttons 1234@0-600 -- " + EMU_PROBE);
    EXPECT_NE(r.find("early 4 00001234 mapped fopen\n"), std::string::npos) << r;
}

// Where stores are caught the acknowledge clears the flag and each store is
// logged; where they are not, the flag pulses and a layer still applies.
TEST_F(EmulatedDevice, SyncIsAcknowledgedAndSettingsApplyWithOrWithoutCaughtStores)
{
    std::string r = probe("--dir " + dir, "mem regs sync overlay");
    int clear = -1;
    ASSERT_EQ(sscanf(r.c_str() + r.find("sync"), "sync clear=%d", &clear), 1) << r;
    EXPECT_GE(clear, 8);  // a plain memory flag would stay set after every acknowledge
    EXPECT_NE(r.find("overlay ctl=443a0023 palette=00000000\n"), std::string::npos) << r;
    EXPECT_NE(slurp(dir + "/regwrites.log").find("4058 443a0033\n"), std::string::npos);
    r = probe("--dir " + dir + " --shim " + EMU_SHIM_UNTRAPPED, "mem regs sync overlay");
    EXPECT_NE(r.find("overlay ctl=443a0023 palette=0100ffff\n"), std::string::npos) << r;
    EXPECT_EQ(slurp(dir + "/regwrites.log"), "(missing)\n");
}

}  // namespace
