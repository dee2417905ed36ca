// The runner and the shim together, with a probe that makes the program's
// device calls: routing, refusal of host devices, descriptors, the fbdev
// answers, the sync acknowledge.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>

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

// Each row: a probe step and what it prints. Every way of naming a device
// file reaches the emulated one; every way of naming one of this machine's
// device nodes is refused (errno 13) and written down. Copies of a
// descriptor stay the device; a reused number does not. Where stores are
// caught the acknowledge clears the sync flag, a layer applies at the next
// sync, the palette register stays write-only and each store is logged;
// where they are not, the flag pulses and a layer still applies. A device
// left out, or no device folder at all, is missing rather than this
// machine's own. A library whose constructor runs before the shim's
// reaches the device too.
TEST(EmulatedDevice, ProgramsReachTheEmulatedDeviceAndNoHostDevice)
{
    char name[32] = "/tmp/emu-test.XXXXXX";
    const std::string dir = mkdtemp(name);
    static const struct { const char *step, *out; } cases[] = {
        {"mem", "ok"}, {"regs", "screen=00ef013f p1=44320023@03101000 status=00000003"},
        {"fb0", "id=emu-lcd start=03101000 len=153600 line=640 320x240@16 red=11/5"},
        {"descriptors", "8 8 8 8 256"}, {"sync", "10 ctl=443a0023 palette=00000000"},
        {"fopen=/dev/GPIO", "read 00001234"}, {"open=gpio-link", "read 00001234"},
        {"open=mem-up", "read 00000000"}, {"openat=/dev,../dev/GPIO", "read 00001234"},
        {"open=/proc/self/cwd/../../dev/GPIO", "read 00001234"}, {"open=/proc/self/root/dev/fb0", "read ffffffff"},
        {"open=kmem-link", "errno 13"}, {"freopen=kmem-link", "errno 13"}, {"open=//dev/./fb1", "errno 13"},
        {"open=/dev/port", "errno 13"}, {"openat=/,dev/kmem", "errno 13"}, {"open=screen-node", "errno 13"},
    };
    // Links to device files, and a framebuffer node where this user may
    // make one (else one more link to a host device).
    run("cd " + dir + " && ln -s /dev/GPIO gpio-link && ln -s ../../dev/mem mem-up && ln -s /dev/kmem kmem-link &&"
        " { mknod screen-node c 29 0 2>/dev/null || ln -s /dev/port screen-node; }");
    std::string steps, expect, refused;
    for (const auto &c : cases) {
        std::string step = c.step, path = step.substr(step.find('=') + 1);
        steps += " " + step;
        expect += step + " " + c.out + "\n";
        if (std::string(c.out) == "errno 13")
            refused += step.substr(0, step.find('=')) + " " + path.substr(path.find(',') + 1) + "\n";
    }
    EXPECT_EQ(run("cd " + dir + " && " EMU_RUNNER " --dir dev --buttons 1234@0-600 -- " EMU_PROBE + steps), expect);
    EXPECT_EQ(run("cat " + dir + "/dev/refused.log"), refused);
    EXPECT_NE(run("cat " + dir + "/dev/regwrites.log").find("4058 443a0033\n"), std::string::npos);

    std::string r = run(EMU_RUNNER " --shim " EMU_SHIM_UNTRAPPED " -- " EMU_PROBE " mem regs sync");
    EXPECT_NE(r.find("\nsync 10 ctl=443a0023 palette=0100ffff\n"), std::string::npos) << r;
    // Opens only: nothing here may read this machine's memory.
    const std::string opens = " mem open=/dev/GPIO fb0", missing = "mem errno 2\nopen=/dev/GPIO errno 2\nfb0 errno 2\n";
    EXPECT_EQ(run(EMU_RUNNER " --without mem --without GPIO --without fb0 -- " EMU_PROBE + opens), missing);
    EXPECT_EQ(run("env -u TAVRO_EMU_ROOT LD_PRELOAD=" EMU_SHIM " " EMU_PROBE + opens), missing);
    // Preloaded into the probe alone, never into the runner, which has no shim.
    EXPECT_EQ(run(EMU_RUNNER " --buttons 1234@0-600 -- sh -c 'LD_PRELOAD=$LD_PRELOAD:" EMU_EARLY
                  " exec " EMU_PROBE "'"),
              "early fopen\nmem ok\nfopen=/dev/GPIO read 00001234\n");
    run("rm -rf '" + dir + "'");
}
