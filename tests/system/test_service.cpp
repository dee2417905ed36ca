#include "interactive.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr uint32_t COMBO = RAW_MENU | RAW_R;
static const std::string DUMP = "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n";

class Service : public InteractiveTest {
protected:
    std::string pid_file() { return read_file(device + "/tmp/tavro.pid"); }

    // Chooses GO with MENU: the pid of the service once its pid file names
    // it and MENU, held for 12 polls, is let go; or 0.
    int service_pid()
    {
        set_buttons(RAW_MENU);
        bool named = wait_for([&] { return count_of(out(), "child starting with pid " + pid_file() + "\n"); });
        EXPECT_TRUE(named) << out() << err();
        return named && polled(12) && hold(0) ? atoi(pid_file().c_str()) : 0;
    }

    // Stops the service from a second start, as a user would.
    bool stop_service(int pid)
    {
        int stops = count_of(out(), "tavro: signal received\n");
        EXPECT_EQ(attach().out, "other instance detected (pid " + std::to_string(pid) + "), signaled and exiting\n");
        return wait_for([&] {
            return count_of(out(), "tavro: signal received\n") == stops + 1 && !file_exists(device + "/tmp/tavro.pid");
        });
    }
};

TEST_F(Service, WholeCycleFromMenuToShotsAndBack)
{
    start({"--wait-all"});
    ASSERT_TRUE(menu_shown() && tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN));
    int first = service_pid();
    ASSERT_GT(first, 0);
    // A shot when every button of the combo is down and the state changed;
    // each held past the first repeat (8 polls).
    const struct { uint32_t raw; std::string shot; } presses[] = {
        {COMBO, "shot0_0000.png"}, {RAW_MENU, ""}, {COMBO, "shot0_0001.png"}, {COMBO | RAW_A, "shot0_0002.png"},
        {COMBO, "shot0_0003.png"}, {0, ""}, {RAW_R, ""}, {COMBO, "shot0_0004.png"},
    };
    for (const auto &p : presses) {
        size_t before = out().size();
        set_buttons(p.raw);
        ASSERT_TRUE(polled(12));
        EXPECT_EQ(out().substr(before), p.shot.empty() ? "" : DUMP + "tavro: wrote \"" + p.shot + "\".\n")
            << std::hex << p.raw;
    }

    // The pid file is read as C reads numbers, in hexadecimal too.
    std::ofstream(device + "/tmp/tavro.pid") << "0x" << std::hex << first;
    ASSERT_TRUE(stop_service(first) && wait_for_text(60, 158, "shot1_0004.png")) << "the next name is asked afresh";
    ASSERT_TRUE(wait_for([&] { return cursor_row() == 4; })) << "the cursor stays on its item";
    EXPECT_EQ(text_at(60, 76, 6), "MENU  ");

    // Again from the menu: a service like the first, the parent to the launcher.
    int second = service_pid();
    ASSERT_TRUE(second > 0 && hold(COMBO) && count_of(out(), "tavro: wrote \"shot1_0004.png\".\n"));
    ASSERT_TRUE(stop_service(second) && wait_for_text(60, 158, "shot2_0004.png") && tap(RAW_DOWN));
    set_buttons(RAW_MENU);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(count_of(launcher_log(), "\n"), 3) << "a stopping start starts no launcher";
    EXPECT_EQ(err(), "");
}

// SIGUSR1s this process received: no start may signal a process on a
// file's word alone.
static volatile sig_atomic_t signalled = 0;

// This process names itself in path and holds a BSD lock on it, and a
// record lock (lockf's) too if asked: the descriptor, to be closed, or -1.
static int name_myself(const std::string &path, bool record_lock)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    bool held = fd >= 0 && flock(fd, LOCK_EX) == 0 && (!record_lock || lockf(fd, F_TLOCK, 0) == 0) &&
                dprintf(fd, "%i", int(getpid())) > 0;
    return held ? fd : -1;
}

TEST_F(Service, WhatLiesAtItsPathsIsCheckedBeforeUse)
{
    // What is planted at the pid path (this process, or a victim file that is
    // no pid file), the combo file or the shot names; the next name the menu
    // shows, at which a FIFO is then made; what the service says: its one
    // line of refusal, or what a press of the combo gives, stopped while it
    // shoots; and the options of the device.
    enum Plant { NOTHING, STALE_PID, LINK, HARD_LINK, FIFO, FOLDER, LOCKED_UNNAMED, NO_COMBO, MENU_COMBO,
                 COMBO_FIFO, COMBO_LINK, SHOT_FIFO, ALL_SERIES, SHOTS_GONE };
    const struct { Plant plant; bool refused; std::string next, says;
                   std::vector<std::string> options = {"--wait-all"}; } cases[] = {
        {STALE_PID, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n"},
        {LINK, true, "shot0_0000.png", "tavro: can't create \"/tmp/tavro.pid\": "},
        {HARD_LINK, true, "shot0_0000.png", "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {FIFO, true, "shot0_0000.png", "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {FOLDER, true, "shot0_0000.png", "tavro: can't create \"/tmp/tavro.pid\": "},
        {LOCKED_UNNAMED, true, "shot0_0000.png", "tavro: another service (pid "},
        {NO_COMBO, true, "shot0_0000.png", "tavro: the button combo is empty, so no shot can be taken: stopping\n"},
        // MENU alone, still held from the press that confirms, fires at once:
        // a shot before the press.
        {MENU_COMBO, false, "shot0_0000.png", "tavro: wrote \"shot0_0002.png\".\n"},
        {COMBO_FIFO, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n"},
        {COMBO_LINK, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n"},
        {SHOT_FIFO, false, "shot1_0000.png", "tavro: wrote \"shot1_0001.png\".\n"},
        {ALL_SERIES, false, "<none>", "tavro: wrote \"shot0_0001.png\".\n"},
        {SHOTS_GONE, false, "shot0_0000.png", "tavro: failed to open \"shot0_0000.png\"\ntavro: write_png() failed\n"},
        {NOTHING, false, "shot0_0000.png", "tavro: bad bpp: -1\n",
         {"--wait-all", "--layer", "s1:on,format=16,hstride=0"}},
        // A shot long enough for the stop to come while it is taken.
        {NOTHING, false, "shot0_0000.png", "tavro: wrote \"shot0_0001.png\".\n",
         {"--wait-all", "--screen", "2048x1536"}},
    };
    std::string path = device + "/tmp/tavro.pid", victim = in_work("victim");
    // Tens of thousands of files are made far faster in memory.
    std::string shots = make_temp_dir("shots", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    std::string combo = shots + "/tavro.bcfg";
    signal(SIGUSR1, [](int) { signalled = 1; });
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(system(("rm -rf " + path + " " + shots + "; mkdir -p " + device + "/tmp " + shots +
                          "; echo keep >" + victim).c_str()), 0);
        int mine = 0, planted = 0;
        switch (c.plant) {
        case STALE_PID: mine = name_myself(path, false); break;
        case LINK: mine = name_myself(victim, true), planted = symlink(victim.c_str(), path.c_str()); break;
        case HARD_LINK: planted = link(victim.c_str(), path.c_str()); break;
        case FIFO: planted = mkfifo(path.c_str(), 0644); break;
        case FOLDER: planted = mkdir(path.c_str(), 0755); break;
        case LOCKED_UNNAMED: mine = name_myself(path, true), planted = truncate(path.c_str(), 0); break;
        case NO_COMBO: std::ofstream(combo) << std::string(12, '\0'); break;
        case MENU_COMBO: std::ofstream(combo) << std::string("\0\x01\0\0\0\0\0\0\0\0\0\0", 12); break;
        case COMBO_FIFO: planted = mkfifo(combo.c_str(), 0644); break;
        case COMBO_LINK: planted = symlink(victim.c_str(), combo.c_str()); break;
        case SHOT_FIFO: planted = mkfifo((shots + "/shot0_0000.png").c_str(), 0644); break;
        case ALL_SERIES:
            planted = system(("cd " + shots + " && seq -f shot%g_0000.png -32768 32767 | xargs touch").c_str());
            break;
        default: break;
        }
        ASSERT_TRUE(planted == 0 && mine != -1);
        start(c.options, {}, shots);
        ASSERT_TRUE(wait_for_text(60, 158, c.next)) << err();
        ASSERT_FALSE(signalled) << "this process was signalled";
        mkfifo((shots + "/" + c.next).c_str(), 0644);  // a file named "<none>" does no harm
        if (c.plant == SHOTS_GONE)
            remove_tree(shots);
        ASSERT_TRUE(tap(RAW_DOWN) && tap(RAW_DOWN) && tap(RAW_DOWN));
        if (c.refused) {
            set_buttons(RAW_MENU);
            EXPECT_EQ(finish(), 0);
            EXPECT_TRUE(err().rfind(c.says, 0) == 0 && count_of(err(), "\n") == 1) << err();
            EXPECT_EQ(file_exists(path), c.plant != NO_COMBO);
        } else {
            // The stop follows the read that starts the shot; a failed shot
            // leaves the service polling all the same.
            int pid = service_pid();
            ASSERT_GT(pid, 0);
            set_buttons(COMBO);
            ASSERT_TRUE(polled(2) && stop_service(pid));
            EXPECT_NE((out() + err()).find(c.says), std::string::npos) << out() << err();
            // A shot taken says nothing on stderr; the menu says when every name is taken.
            EXPECT_TRUE(count_of(c.says, "tavro: wrote") == 0 ||
                        err() == (c.plant == ALL_SERIES ? "tavro: no free shot name left\n" : "")) << err();
            EXPECT_EQ(count_of(out(), "tavro: wrote"), count_of(c.says, "tavro: wrote") + (c.plant == MENU_COMBO));
        }
        EXPECT_EQ(read_file(victim), c.plant == LINK ? std::to_string(getpid()) : "keep\n");
        end_all();
        if (mine > 0)
            close(mine);
    }
    remove_tree(shots);
}

TEST_F(Service, ShotCutOffByASignalOrAFullDiskLeavesNoFile)
{
    // A shot into a new file, over an old one or through a link to one, ended
    // by a signal while it is written or by a full disk (signal 0). The file
    // behind a link is the old one.
    const struct { int sig; std::string name; } cases[] = {
        {SIGTERM, "new.png"}, {SIGINT, "old.png"}, {SIGHUP, "link.png"}, {0, "link.png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(system(("cd " + work + " && rm -f *.png && echo keep >old.png && echo keep >target.png"
                          " && ln -s target.png link.png").c_str()), 0);
        std::vector<std::string> argv = device_command({"--dir", device, "--screen", "4096x2048"});
        if (c.sig == 0)  // files grow no further than 4 KiB, as on a full disk
            argv.insert(std::find(argv.begin(), argv.end(), "--") + 1,
                        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh"});
        argv.push_back(c.name);
        group = runner = spawn(argv, work, in_work(".stdout"), in_work(".stderr"));
        if (c.sig) {
            ASSERT_TRUE(wait_for([&] { return temp_left(); })) << err();
            kill(runner, c.sig);
        }
        EXPECT_EQ(finish(), c.sig ? 128 + c.sig : 255);
        EXPECT_FALSE(temp_left());
        EXPECT_FALSE(file_exists(in_work("new.png")));
        for (const char *kept : {"old.png", "link.png", "target.png"})
            EXPECT_TRUE(read_file(in_work(kept)) == "keep\n") << "destroyed " << kept;
    }
}
