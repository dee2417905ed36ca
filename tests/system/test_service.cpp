#include "interactive.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
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

    // From the menu's first slot down to "GO to background", and MENU down.
    bool go_to_background()
    {
        if (!menu_shown() || !tap(RAW_DOWN) || !tap(RAW_DOWN) || !tap(RAW_DOWN))
            return false;
        set_buttons(RAW_MENU);
        return true;
    }

    // The pid of the service once its pid file names it, or 0.
    int service_pid()
    {
        bool named = wait_until([&] { return said("child starting with pid " + pid_file() + "\n"); });
        EXPECT_TRUE(named) << out() << err();
        return named ? atoi(pid_file().c_str()) : 0;
    }

    // Holds the buttons past the first repeat (8 polls): the one shot they
    // must take, or none.
    bool press(uint32_t raw, const char *shot)
    {
        int wrote = count_of(out(), "tavro: wrote");
        set_buttons(raw);
        bool ok = polled(12) && count_of(out(), "tavro: wrote") == wrote + (shot != nullptr) &&
                  (!shot || said("tavro: wrote \"" + std::string(shot) + "\".\n"));
        EXPECT_TRUE(ok) << "raw " << std::hex << raw << out() << err();
        return ok;
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

    // A process of the test's own, dead if it is signalled: it holds a BSD
    // lock on path, and a record lock too if asked, then names itself in it.
    pid_t bystander(const std::string &path, bool record_lock)
    {
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGUSR1, SIG_DFL);
            alarm(60);  // gone in the end, whatever the test does
            int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            if (flock(fd, LOCK_EX) == 0 && (!record_lock || fcntl(fd, F_SETLK, &lock) == 0) &&
                dprintf(fd, "%i", int(getpid())) > 0)
                pause();
            _exit(0);
        }
        return pid > 0 && wait_until([&] { return read_file(path) == std::to_string(pid); }) ? pid : -1;
    }
};

TEST_F(Service, WholeCycleFromMenuToShotsAndBack)
{
    start({"--wait-all"});
    ASSERT_TRUE(go_to_background());
    int first = service_pid();
    ASSERT_TRUE(first > 0 && hold(0));
    EXPECT_EQ(launches(), 1) << "the parent leaves to the launcher";
    EXPECT_EQ(read_file(in_work("tavro.bcfg")).size(), 12u);
    // A shot when every button of the combo is down and the state changed.
    const struct { uint32_t raw; const char *shot; } presses[] = {
        {COMBO, "shot0_0000.png"}, {RAW_MENU, nullptr}, {COMBO, "shot0_0001.png"}, {COMBO | RAW_A, "shot0_0002.png"},
        {COMBO, "shot0_0003.png"}, {0, nullptr}, {RAW_R, nullptr}, {COMBO, "shot0_0004.png"},
    };
    for (const auto &p : presses)
        ASSERT_TRUE(press(p.raw, p.shot));

    // The pid file is read as C reads numbers, in hexadecimal too.
    char hex[16];
    snprintf(hex, sizeof hex, "0x%x", first);
    std::ofstream(device + "/tmp/tavro.pid") << hex;
    ASSERT_TRUE(stop_service(first));
    ASSERT_TRUE(wait_for_text(60, 158, "shot1_0004.png")) << "the next name is asked for afresh";
    ASSERT_TRUE(wait_until([&] { return cursor_row() == 4; })) << "the cursor stays on its item";
    EXPECT_EQ(text_at(60, 76, 6), "MENU  ");
    EXPECT_EQ(launches(), 1) << "a stopping start starts no launcher";

    // Again from the menu: a service like the first, the parent to the launcher.
    set_buttons(RAW_MENU);
    int second = service_pid();
    ASSERT_TRUE(second > 0 && hold(0) && press(COMBO, "shot1_0004.png") && stop_service(second));
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
    ASSERT_TRUE(go_to_background());
    int pid = service_pid();
    ASSERT_TRUE(pid > 0 && hold(0));
    set_buttons(COMBO);
    ASSERT_TRUE(wait_until([&] { return said("tavro: about to dump"); }));
    kill(pid, SIGUSR1);
    ASSERT_TRUE(wait_until([&] { return said("tavro: signal received\n"); }));
    EXPECT_LT(out().find("tavro: wrote \"shot0_0000.png\".\n"), out().find("tavro: signal received\n")) << out();
    EXPECT_TRUE(decode_png(in_work("shot0_0000.png")).ok);
    end_all();

    start({"--wait-all"});
    ASSERT_TRUE(go_to_background());
    ASSERT_TRUE(wait_until([&] { return atoi(pid_file().c_str()) > 0; }));
    kill(atoi(pid_file().c_str()), SIGUSR1);
    EXPECT_TRUE(wait_until([&] { return said("tavro: signal received\n"); })) << out() << err();
}

TEST_F(Service, WhatLiesAtItsPathsIsCheckedBeforeUse)
{
    // What is planted at the pid path (a victim file is no pid file), the
    // combo file or the shot names; the next name the menu shows, at which a
    // FIFO is then made; and what the service says: its one line of refusal,
    // or what a press of the combo gives.
    enum Plant { STALE_PID, LINK, HARD_LINK, FOLDER, FIFO, LOCKED_UNNAMED, NO_COMBO, MENU_COMBO, COMBO_FIFO,
                 SHOT_FIFO, ALL_SERIES, SHOTS_GONE, BAD_LAYER };
    const struct { Plant plant; bool refused; std::string next, says; } cases[] = {
        {STALE_PID, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n"},
        {LINK, true, "shot0_0000.png", "tavro: can't create \"/tmp/tavro.pid\": "},
        {HARD_LINK, true, "shot0_0000.png", "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {FOLDER, true, "shot0_0000.png", "tavro: can't create \"/tmp/tavro.pid\": "},
        {FIFO, true, "shot0_0000.png", "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {LOCKED_UNNAMED, true, "shot0_0000.png", "tavro: another service (pid "},
        {NO_COMBO, true, "shot0_0000.png", "tavro: the button combo is empty, so no shot can be taken: stopping\n"},
        // MENU alone, still held from the press that confirms, fires at once:
        // a shot before the press.
        {MENU_COMBO, false, "shot0_0000.png", "tavro: wrote \"shot0_0002.png\".\n"},
        {COMBO_FIFO, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n"},
        {SHOT_FIFO, false, "shot1_0000.png", "tavro: wrote \"shot1_0001.png\".\n"},
        {ALL_SERIES, false, "<none>", "tavro: wrote \"shot0_0001.png\".\n"},
        {SHOTS_GONE, false, "shot0_0000.png", "tavro: failed to open \"shot0_0000.png\"\ntavro: write_png() failed\n"},
        {BAD_LAYER, false, "shot0_0000.png", "tavro: bad bpp: -1\n"},
    };
    std::string path = device + "/tmp/tavro.pid", victim = in_work("victim");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plant);
        ASSERT_EQ(system(("mkdir -p " + device + "/tmp; rm -rf " + path + "; echo keep >" + victim).c_str()), 0);
        // Tens of thousands of files are made far faster in memory.
        bool shm = c.plant == ALL_SERIES && access("/dev/shm", W_OK) == 0;
        std::string shots = make_temp_dir("shots", shm ? "/dev/shm" : "/tmp"), combo = shots + "/tavro.bcfg";
        pid_t other = 0;
        int planted = 0;
        switch (c.plant) {
        case STALE_PID: other = bystander(path, false); break;
        case LINK: other = bystander(victim, true), planted = symlink(victim.c_str(), path.c_str()); break;
        case HARD_LINK: planted = link(victim.c_str(), path.c_str()); break;
        case FOLDER: planted = mkdir(path.c_str(), 0755); break;
        case FIFO: planted = mkfifo(path.c_str(), 0644); break;
        case LOCKED_UNNAMED: other = bystander(path, true), planted = truncate(path.c_str(), 0); break;
        case NO_COMBO: std::ofstream(combo) << std::string(12, '\0'); break;
        case MENU_COMBO: std::ofstream(combo) << std::string("\0\x01\0\0\0\0\0\0\0\0\0\0", 12); break;
        case COMBO_FIFO: planted = mkfifo(combo.c_str(), 0644); break;
        case SHOT_FIFO: planted = mkfifo((shots + "/shot0_0000.png").c_str(), 0644); break;
        case ALL_SERIES:
            for (int series = -32768; series < 32768; series++)
                close(open((shots + "/shot" + std::to_string(series) + "_0000.png").c_str(), O_CREAT | O_WRONLY, 0644));
            break;
        default: break;
        }
        ASSERT_TRUE(planted == 0 && other != -1);
        std::string kept = read_file(victim);
        start(c.plant == BAD_LAYER ? std::vector<std::string>{"--wait-all", "--layer", "s1:on,format=16,hstride=0"}
                                   : std::vector<std::string>{"--wait-all"}, {}, shots);
        ASSERT_TRUE(wait_for_text(60, 158, c.next)) << err();
        ASSERT_TRUE(other == 0 || waitpid(other, nullptr, WNOHANG) == 0) << "a bystander was signalled";
        mkfifo((shots + "/" + c.next).c_str(), 0644);  // a file named "<none>" does no harm
        if (c.plant == SHOTS_GONE)
            remove_tree(shots);
        ASSERT_TRUE(go_to_background());
        if (c.refused) {
            EXPECT_EQ(finish(), 0);
            EXPECT_EQ(err().rfind(c.says, 0), 0u) << err();
            EXPECT_EQ(count_of(err(), "\n"), 1) << err();
            EXPECT_EQ(launches(), 1);
            EXPECT_EQ(file_exists(path), c.plant != NO_COMBO);
        } else {
            // A failed shot is said and polling goes on: the stop is heard.
            int pid = service_pid();
            ASSERT_TRUE(pid > 0 && polled(12) && hold(0) && hold(COMBO));
            EXPECT_NE((out() + err()).find(c.says), std::string::npos) << out() << err();
            int shots = count_of(c.says, "tavro: wrote") + (c.plant == MENU_COMBO);
            EXPECT_EQ(count_of(out(), "tavro: wrote"), shots) << out();
            ASSERT_TRUE(stop_service(pid));
        }
        EXPECT_EQ(read_file(victim), kept);
        end_all();
        if (other > 0)
            kill(other, SIGKILL), waitpid(other, nullptr, 0);
        remove_tree(shots);
    }
}

TEST_F(Service, ShotCutOffByASignalOrAFullDiskLeavesNoFile)
{
    // A shot into a new file, over an old one or through a link to one, ended
    // by a signal while it is written or by a full disk (signal 0).
    const struct { int sig; std::string name; } cases[] = {
        {SIGTERM, "new.png"}, {SIGINT, "old.png"}, {SIGHUP, "link.png"}, {0, "old.png"}, {0, "link.png"},
    };
    auto temp_left = [&] { return system(("ls -A " + work + " | grep -q '^.tavro-'").c_str()) == 0; };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(system(("cd " + work + " && rm -f *.png && echo keep >old.png && echo keep >target.png"
                          " && ln -s target.png link.png").c_str()), 0);
        if (c.sig == 0) {
            // Files grow no further than 4 KiB, as on a full disk.
            std::vector<std::string> argv = device_command({"--dir", device, "--screen", "1024x768"});
            argv.insert(std::find(argv.begin(), argv.end(), "--") + 1,
                        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh"});
            argv.push_back(c.name);
            EXPECT_EQ(run_program(argv, work).status, 255);
        } else {
            start({"--screen", "4096x2048"}, {c.name});
            ASSERT_TRUE(wait_until(temp_left)) << err();
            kill(runner, c.sig);
            EXPECT_EQ(finish(), 128 + c.sig);
        }
        EXPECT_FALSE(temp_left());
        EXPECT_TRUE(c.name != "new.png" || !file_exists(in_work(c.name)));
        for (const char *kept : {"old.png", "link.png", "target.png"})
            EXPECT_TRUE(read_file(in_work(kept)) == "keep\n") << "destroyed " << kept;
    }
}
