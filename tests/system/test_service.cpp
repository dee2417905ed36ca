#include "interactive.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr uint32_t COMBO = RAW_MENU | RAW_R;

class Service : public InteractiveTest {
protected:
    std::string pid_file() { return read_file(device + "/tmp/tavro.pid"); }
    int launches() { return count_of(launcher_log(), "\n"); }
    bool said(const std::string &line) { return out().find(line) != std::string::npos; }

    // From the menu's first slot down to "GO to background" and into it;
    // the pid of the service once its pid file names it, or 0.
    int go_to_background()
    {
        if (!menu_shown() || !tap(RAW_DOWN) || !tap(RAW_DOWN) || !tap(RAW_DOWN))
            return 0;
        std::string before = pid_file();
        set_buttons(RAW_MENU);
        bool started = wait_until([&] { return pid_file() != before && said("child starting with pid " + pid_file() + "\n"); });
        EXPECT_TRUE(started) << out() << err();
        return started && hold(0) ? atoi(pid_file().c_str()) : 0;
    }

    // A press of the buttons, and the shot it must take.
    bool shoot(uint32_t raw, const std::string &name)
    {
        int wrote = count_of(out(), "tavro: wrote");
        set_buttons(raw);
        bool shot = wait_until([&] { return count_of(out(), "tavro: wrote") > wrote; });
        EXPECT_TRUE(shot && said("tavro: wrote \"" + name + "\".\n")) << "raw " << std::hex << raw << out() << err();
        return shot && polled();
    }

    // A press that must take no shot, held past the first repeat (8 polls).
    bool no_shot(uint32_t raw)
    {
        int wrote = count_of(out(), "tavro: wrote");
        set_buttons(raw);
        bool still = polled(12) && count_of(out(), "tavro: wrote") == wrote;
        EXPECT_TRUE(still) << "raw " << std::hex << raw << out();
        return still;
    }

    // Stops the service from a second start, as a user would.
    bool stop_service(int pid)
    {
        int stops = count_of(out(), "tavro: signal received\n");
        EXPECT_EQ(attach().out, "other instance detected (pid " + std::to_string(pid) + "), signaled and exiting\n");
        return wait_until([&] {
            return count_of(out(), "tavro: signal received\n") == stops + 1 && !file_exists(device + "/tmp/tavro.pid");
        });
    }
    void write_file(const std::string &path, const std::string &bytes)
    {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && fclose(f) == 0);
    }
};

TEST_F(Service, WholeCycleFromMenuToShotsAndBack)
{
    std::vector<uint8_t> rgb;  // exact in RGB565: the low bits repeat the top ones
    for (int i = 0; i < 320 * 240; i++) {
        int r = i % 32, g = i / 320 % 64, b = 31 - i % 32;
        rgb.insert(rgb.end(), {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)});
    }
    ASSERT_TRUE(encode_png(in_work("picture.png"), 320, 240, rgb));
    start({"--wait-all", "--picture", in_work("picture.png")});
    int first = go_to_background();
    ASSERT_GT(first, 0);
    EXPECT_EQ(launches(), 1) << "the parent leaves to the launcher";
    EXPECT_EQ(read_file(in_work("tavro.bcfg")).size(), 12u);
    // A shot when every button of the combo is down and the state changed.
    const struct { uint32_t raw; const char *shot; } presses[] = {
        {COMBO, "shot0_0000.png"}, {COMBO, nullptr}, {RAW_MENU, nullptr}, {COMBO, "shot0_0001.png"},
        {COMBO | RAW_A, "shot0_0002.png"}, {COMBO, "shot0_0003.png"}, {0, nullptr}, {RAW_R, nullptr},
        {COMBO, "shot0_0004.png"}, {0, nullptr},
    };
    for (const auto &p : presses)
        ASSERT_TRUE(p.shot ? shoot(p.raw, p.shot) : no_shot(p.raw));
    // Below the menu's bytes, which layer 1 shows until a program draws over
    // them, the shot is the picture on the layer.
    DecodedPng png = decode_png(in_work("shot0_0004.png"));
    ASSERT_EQ(png.rgb.size(), rgb.size());
    EXPECT_TRUE(std::equal(png.rgb.begin() + 120 * 320 * 3, png.rgb.end(), rgb.begin() + 120 * 320 * 3));

    // The pid file is read as C reads numbers, in hexadecimal too.
    char hex[16];
    snprintf(hex, sizeof hex, "0x%x", first);
    write_file(device + "/tmp/tavro.pid", hex);
    ASSERT_TRUE(stop_service(first));
    ASSERT_TRUE(wait_for_text(60, 158, "shot1_0004.png")) << "the next name is asked for afresh";
    ASSERT_TRUE(wait_until([&] { return cursor_row() == 4; })) << "the cursor stays on its item";
    EXPECT_EQ(text_at(60, 76, 6), "MENU  ");
    EXPECT_EQ(launches(), 1) << "a stopping start starts no launcher";

    set_buttons(RAW_MENU);
    ASSERT_TRUE(wait_until([&] { return atoi(pid_file().c_str()) > 0 && launches() == 2; }));
    int second = atoi(pid_file().c_str());
    EXPECT_NE(second, first);
    ASSERT_TRUE(hold(0) && shoot(COMBO, "shot1_0004.png"));
    ASSERT_TRUE(stop_service(second));
    ASSERT_TRUE(wait_for_text(60, 158, "shot2_0004.png"));
    ASSERT_TRUE(tap(RAW_DOWN));
    EXPECT_EQ(cursor_row(), 5);
    set_buttons(RAW_MENU);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(launches(), 3);
    EXPECT_FALSE(file_exists(device + "/tmp/tavro.pid"));
    EXPECT_EQ(err(), "");
}

TEST_F(Service, StopRequestDuringAShotOrAsThePidFileAppearsIsHeard)
{
    // A large screen makes the shot long enough to be caught in it.
    start({"--wait-all", "--screen", "2048x1536", "--layer", "p1:on,format=16"});
    int pid = go_to_background();
    ASSERT_GT(pid, 0);
    set_buttons(COMBO);
    ASSERT_TRUE(wait_until([&] { return said("tavro: about to dump"); }));
    kill(pid, SIGUSR1);
    ASSERT_TRUE(wait_until([&] { return said("tavro: signal received\n"); }));
    EXPECT_LT(out().find("tavro: wrote \"shot0_0000.png\".\n"), out().find("tavro: signal received\n")) << out();
    EXPECT_TRUE(decode_png(in_work("shot0_0000.png")).ok);
    end_all();

    start({"--wait-all"});
    ASSERT_TRUE(menu_shown() && tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN));
    set_buttons(RAW_MENU);
    ASSERT_TRUE(wait_until([&] { return atoi(pid_file().c_str()) > 0; }));
    kill(atoi(pid_file().c_str()), SIGUSR1);
    EXPECT_TRUE(wait_until([&] { return count_of(out(), "tavro: signal received\n") == 1; })) << out() << err();
}

TEST_F(Service, ComboFromTheFileDecidesWhatFires)
{
    // No buttons at all cannot fire: the service ends with a message. MENU
    // alone, still held from the press that confirms, fires at once.
    const struct { std::string file, shot, err; } cases[] = {
        {std::string(12, '\0'), "", "combo is empty"},
        {std::string("\0\x01\0\0\0\0\0\0\0\0\0\0", 12), "tavro: wrote \"shot0_0000.png\".\n", ""},
    };
    for (const auto &c : cases) {
        write_file(in_work("tavro.bcfg"), c.file);
        start({"--wait-all"});
        ASSERT_TRUE(menu_shown() && tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN));
        set_buttons(RAW_MENU);
        if (!c.shot.empty()) {
            EXPECT_TRUE(wait_until([&] { return said(c.shot); })) << out() << err();
        } else {
            EXPECT_EQ(finish(), 0);
            EXPECT_EQ(launches(), 1);
            EXPECT_FALSE(file_exists(device + "/tmp/tavro.pid"));
            EXPECT_EQ(count_of(err(), c.err) * 10 + count_of(err(), "\n"), 11) << err();
        }
        end_all();
    }
}

TEST_F(Service, FailedShotsWriteNothingAndPollingGoesOn)
{
    // Shots go to a folder that is gone, or the layer on top cannot be grabbed.
    const struct { std::vector<std::string> options; bool remove_folder; std::string message; } cases[] = {
        {{"--wait-all"}, true, "tavro: failed to open \"shot0_0000.png\"\ntavro: write_png() failed\n"},
        {{"--wait-all", "--layer", "s1:on,format=16,hstride=0"}, false, "tavro: bad bpp: -1\n"},
    };
    for (const auto &c : cases) {
        std::string shots = make_temp_dir("shots");
        start(c.options, {}, shots);
        int pid = go_to_background();
        ASSERT_GT(pid, 0);
        if (c.remove_folder) {
            ASSERT_EQ(system(("rm -r " + shots).c_str()), 0);
        }
        for (int press = 1; press <= 2; press++) {
            set_buttons(COMBO);
            ASSERT_TRUE(wait_until([&] { return count_of(err(), c.message) == press; })) << err();
            ASSERT_TRUE(hold(0));
        }
        EXPECT_EQ(count_of(out(), "tavro: wrote"), 0);
        EXPECT_FALSE(file_exists(shots + "/shot0_0000.png"));
        kill(pid, SIGKILL);
        EXPECT_EQ(finish(), 0);
        remove_tree(shots);
    }
}

// A process of the test's own, dead if it is signalled: it names itself in
// path and holds a BSD lock on it, and a record lock too if asked.
static pid_t bystander(const std::string &path, bool record_lock)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGUSR1, SIG_DFL);
        alarm(60);  // gone in the end, whatever the test does
        int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        if (dprintf(fd, "%i", int(getpid())) > 0 && flock(fd, LOCK_EX) == 0 &&
            (!record_lock || fcntl(fd, F_SETLK, &lock) == 0) && write(ready[1], "", 1) == 1)
            pause();
        _exit(0);
    }
    char byte;
    close(ready[1]);
    if (read(ready[0], &byte, 1) != 1)
        pid = -1;
    close(ready[0]);
    return pid;
}

TEST_F(Service, OnlyTheServiceHoldingItsPidFileIsSignalledAndOnlyOneRuns)
{
    // What lies at the pid path, and what the service that the menu starts
    // says (nothing: it runs).
    enum Plant { FLOCKED_STALE, LINK_TO_LOCKED, HARD_LINK, FOLDER, FIFO, LOCKED_UNNAMED };
    const struct { Plant plant; std::string refusal; } cases[] = {
        {FLOCKED_STALE, ""},
        {LINK_TO_LOCKED, "tavro: can't create \"/tmp/tavro.pid\": "},
        {HARD_LINK, "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {FOLDER, "tavro: can't create \"/tmp/tavro.pid\": "},
        {FIFO, "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {LOCKED_UNNAMED, "tavro: another service (pid "},
    };
    std::string path = device + "/tmp/tavro.pid", victim = in_work("victim");
    for (const auto &c : cases) {
        ASSERT_EQ(system(("mkdir -p " + device + "/tmp; rm -rf " + path + " " + victim).c_str()), 0);
        pid_t other = 0;
        int planted = 0;
        switch (c.plant) {
        case FLOCKED_STALE: other = bystander(path, false); break;
        case LINK_TO_LOCKED: other = bystander(victim, true), planted = symlink(victim.c_str(), path.c_str()); break;
        case HARD_LINK: other = bystander(victim, false), planted = link(victim.c_str(), path.c_str()); break;
        case FOLDER: planted = mkdir(path.c_str(), 0755); break;
        case FIFO: planted = mkfifo(path.c_str(), 0644); break;
        case LOCKED_UNNAMED: other = bystander(path, true), planted = truncate(path.c_str(), 0); break;
        }
        ASSERT_TRUE(planted == 0 && other != -1);
        std::string kept = read_file(victim);
        start({"--wait-all"});
        ASSERT_TRUE(menu_shown() && tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN)) << c.plant << err();
        ASSERT_TRUE(other == 0 || waitpid(other, nullptr, WNOHANG) == 0) << c.plant << ": a bystander was signalled";
        set_buttons(RAW_MENU);
        if (c.refusal.empty()) {
            EXPECT_TRUE(wait_until([&] { return said("child starting with pid " + pid_file() + "\n"); }));
        } else {
            EXPECT_EQ(finish(), 0) << c.plant;
            EXPECT_EQ(err().rfind(c.refusal, 0), 0u) << c.plant << ": " << err();
            EXPECT_EQ(count_of(err(), "\n"), 1) << err();
            EXPECT_EQ(launches(), 1);
        }
        EXPECT_EQ(read_file(victim), kept) << c.plant;
        end_all();
        if (other > 0)
            kill(other, SIGKILL), waitpid(other, nullptr, 0);
    }
}

TEST_F(Service, PlantedFifosAndTakenNamesStopNothing)
{
    // A FIFO where tavro reads its combo or where the menu's next file would
    // go, or every series taken. Then a FIFO at the name the menu showed.
    const struct { const char *fifo; bool all_series; std::string next, shot; } cases[] = {
        {"tavro.bcfg", false, "shot0_0000.png", "shot0_0001.png"},
        {"shot0_0000.png", false, "shot1_0000.png", "shot1_0001.png"},
        {nullptr, true, "<none>", "shot0_0001.png"},
    };
    for (const auto &c : cases) {
        // Tens of thousands of files are made far faster in memory.
        bool shm = c.all_series && access("/dev/shm", W_OK) == 0;
        std::string shots = make_temp_dir("shots", shm ? "/dev/shm" : "/tmp");
        if (c.fifo) {
            ASSERT_EQ(mkfifo((shots + "/" + c.fifo).c_str(), 0644), 0);
        }
        for (int series = -32768; c.all_series && series < 32768; series++)
            close(open((shots + "/shot" + std::to_string(series) + "_0000.png").c_str(), O_CREAT | O_WRONLY, 0644));
        start({"--wait-all"}, {}, shots);
        ASSERT_TRUE(wait_for_text(60, 158, c.next)) << c.next << ": " << err();
        mkfifo((shots + "/" + c.next).c_str(), 0644);  // no such name for "<none>"
        int pid = go_to_background();
        ASSERT_TRUE(pid > 0 && shoot(COMBO, c.shot) && stop_service(pid));
        EXPECT_EQ(err(), c.all_series ? "tavro: no free shot name left\n" : "") << c.next;
        end_all();
        remove_tree(shots);
    }
}

TEST_F(Service, ShotCutOffByASignalOrAFullDiskLeavesNoFile)
{
    // A shot into a new file, over an old one or through a link to one, ended
    // by a signal while it is written or by a full disk (signal 0).
    const struct { int sig; std::string name; bool service; } cases[] = {
        {SIGTERM, "new.png", false}, {SIGINT, "old.png", false}, {SIGHUP, "link.png", false},
        {SIGTERM, "shot0_0000.png", true}, {0, "old.png", false}, {0, "link.png", false},
    };
    auto temp_left = [&] { return system(("ls -A " + work + " | grep -q '^.tavro-'").c_str()) == 0; };
    for (const auto &c : cases) {
        ASSERT_EQ(system(("cd " + work + " && rm -f *.png && echo keep >old.png && echo keep >target.png"
                          " && ln -s target.png link.png").c_str()), 0);
        if (c.sig == 0) {
            // Files grow no further than 4 KiB, as on a full disk.
            std::vector<std::string> argv = device_command({"--dir", device, "--screen", "1024x768"});
            argv.insert(std::find(argv.begin(), argv.end(), "--") + 1,
                        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh"});
            argv.push_back(c.name);
            EXPECT_EQ(run_program(argv, work).status, 255) << c.name;
        } else if (!c.service) {
            start({"--screen", "4096x2048"}, {c.name});
            ASSERT_TRUE(wait_until(temp_left)) << c.name << err();
            kill(runner, c.sig);
            EXPECT_EQ(finish(), 128 + c.sig) << c.name;
        } else {
            start({"--wait-all", "--screen", "4096x2048"});
            int pid = go_to_background();
            ASSERT_GT(pid, 0);
            set_buttons(COMBO);
            ASSERT_TRUE(wait_until(temp_left)) << err();
            kill(pid, c.sig);
            EXPECT_EQ(finish(), 0);
        }
        EXPECT_FALSE(temp_left()) << c.name;
        EXPECT_TRUE(c.name == "old.png" || c.name == "link.png" || !file_exists(in_work(c.name))) << c.name;
        for (const char *kept : {"old.png", "link.png", "target.png"})
            EXPECT_TRUE(read_file(in_work(kept)) == "keep\n") << c.name << " destroyed " << kept;
    }
}
