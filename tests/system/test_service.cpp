#include "interactive.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr uint32_t COMBO = RAW_MENU | RAW_R;
static const std::string DUMP = "tavro: about to dump 03101000, 320x240@16, stride=320, size=153600\n";

// SIGUSR1s this process received: no start may signal a process on a
// file's word alone.
static volatile sig_atomic_t signalled = 0;

// Where a test plants things: the pid path, a file that is no pid file,
// and the folder the shots and the combo file go to.
struct Paths {
    std::string pid, victim, shots, combo;
};

class Service : public InteractiveTest {
protected:
    Paths paths = {device + "/tmp/tavro.pid", in_work("victim"), in_work("shots"), in_work("shots/tavro.bcfg")};

    void SetUp() override
    {
        InteractiveTest::SetUp();
        signal(SIGUSR1, [](int) { signalled = 1; });
        ASSERT_EQ(system(("mkdir -p " + device + "/tmp " + paths.shots + " && echo keep >" + paths.victim).c_str()), 0);
    }
    std::string pid_file() { return read_file(paths.pid); }

    // Chooses GO with MENU: the pid of the service once its pid file names
    // it and MENU, held for 12 polls, is let go; or 0.
    int service_pid()
    {
        set_buttons(RAW_MENU);
        bool named = wait_for([&] { return count_of(out(), "child starting with pid " + pid_file() + "\n"); });
        EXPECT_TRUE(named) << out() << err();
        return named && polled(12) && hold(0) ? atoi(pid_file().c_str()) : 0;
    }
    // From a menu just shown, with the cursor on its first slot.
    int go_to_background() { return press_go() ? service_pid() : 0; }

    // Stops the service from a second start, as a user would.
    bool stop_service(int pid)
    {
        int stops = count_of(out(), "tavro: signal received\n");
        EXPECT_EQ(attach().out, "other instance detected (pid " + std::to_string(pid) + "), signaled and exiting\n");
        return wait_for([&] {
            return count_of(out(), "tavro: signal received\n") == stops + 1 && !file_exists(paths.pid);
        });
    }
    // The process that holds the record lock on the pid file, or 0.
    int lock_holder()
    {
        int fd = open(paths.pid.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        bool locked = fd >= 0 && fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
        if (fd >= 0)
            close(fd);
        return locked ? lock.l_pid : 0;
    }
    // The shots the service reported, one name a line.
    std::string shots_written()
    {
        std::string names, text = out();
        for (size_t at = text.find("tavro: wrote \""); at != std::string::npos; at = text.find("tavro: wrote \"", at + 1))
            names += text.substr(at + 14, text.find('"', at + 14) - at - 14) + "\n";
        return names;
    }
};

TEST_F(Service, WholeCycleFromMenuToShotsAndBack)
{
    start({"--wait-all"});
    ASSERT_TRUE(menu_shown());
    int first = go_to_background();
    ASSERT_GT(first, 0);
    // A shot when every button of the combo is down and the state changed;
    // each held past the first repeat (8 polls).
    const struct { const char *what; uint32_t raw; std::string shot; } presses[] = {
        {"the combo pressed", COMBO, "shot0_0000.png"},
        {"R let go", RAW_MENU, ""},
        {"R pressed again", COMBO, "shot0_0001.png"},
        {"another button pressed with the combo", COMBO | RAW_A, "shot0_0002.png"},
        {"that button let go", COMBO, "shot0_0003.png"},
        {"all let go", 0, ""},
        {"R alone", RAW_R, ""},
        {"MENU added to R", COMBO, "shot0_0004.png"},
    };
    for (const auto &p : presses) {
        size_t before = out().size();
        set_buttons(p.raw);
        ASSERT_TRUE(polled(12));
        EXPECT_EQ(out().substr(before), p.shot.empty() ? "" : DUMP + "tavro: wrote \"" + p.shot + "\".\n") << p.what;
    }

    // The pid file is read as C reads numbers, in hexadecimal too.
    std::ofstream(paths.pid) << "0x" << std::hex << first;
    ASSERT_TRUE(stop_service(first) && wait_for_text(60, 158, "shot1_0004.png")) << "the next name is asked afresh";
    ASSERT_TRUE(wait_for([&] { return cursor_row() == 4; })) << "the cursor stays on its item";
    EXPECT_EQ(text_at(60, 76, 6), "MENU  ");

    // Back in its menu the service's stop handler stays: a further stop
    // request changes nothing there.
    kill(first, SIGUSR1);
    ASSERT_TRUE(tap(RAW_UP) && tap(RAW_DOWN) && cursor_row() == 4) << "the menu went away on SIGUSR1";
    EXPECT_EQ(count_of(launcher_log(), "\n"), 1);

    // Again from the menu: a service like the first, the parent to the launcher.
    int second = service_pid();
    ASSERT_TRUE(second > 0 && hold(COMBO) && count_of(out(), "tavro: wrote \"shot1_0004.png\".\n"));
    ASSERT_TRUE(stop_service(second) && wait_for_text(60, 158, "shot2_0004.png") && tap(RAW_DOWN));
    set_buttons(RAW_MENU);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(count_of(launcher_log(), "\n"), 3) << "a stopping start starts no launcher";
    EXPECT_EQ(err(), "");
}

// This process names itself in path and holds a BSD lock on it, and a
// record lock (lockf's) too if asked: the descriptor, to be closed, or -1.
static int name_myself(const std::string &path, bool record_lock)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    bool held = fd >= 0 && flock(fd, LOCK_EX) == 0 && (!record_lock || lockf(fd, F_TLOCK, 0) == 0) &&
                dprintf(fd, "%i", int(getpid())) > 0;
    return held ? fd : -1;
}

// 0 once path holds text, else -1.
static int write_text(const std::string &path, const std::string &text)
{
    return std::ofstream(path, std::ios::binary) << text ? 0 : -1;
}

// Whatever lies at the pid path that the service cannot own stops it with
// one line; the thing stays as it was, and nothing is signalled.
TEST_F(Service, StopsWhereItCannotOwnThePidFile)
{
    // plant returns a descriptor to hold while the case runs, 0, or -1.
    const struct { const char *what; std::function<int(const Paths &)> plant; std::string says; } cases[] = {
        {"a link to a file that this process names and locks",
         [](const Paths &p) {
             int held = name_myself(p.victim, true);
             return symlink(p.victim.c_str(), p.pid.c_str()) == 0 ? held : -1;
         },
         "tavro: can't create \"/tmp/tavro.pid\": "},
        {"a second name of another file", [](const Paths &p) { return link(p.victim.c_str(), p.pid.c_str()); },
         "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {"a FIFO", [](const Paths &p) { return mkfifo(p.pid.c_str(), 0644); },
         "tavro: \"/tmp/tavro.pid\" is not a plain file: stopping\n"},
        {"a folder", [](const Paths &p) { return mkdir(p.pid.c_str(), 0755); },
         "tavro: can't create \"/tmp/tavro.pid\": "},
        {"an empty file that this process locks",
         [](const Paths &p) {
             int held = name_myself(p.pid, true);
             return truncate(p.pid.c_str(), 0) == 0 ? held : -1;
         },
         "tavro: another service (pid "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system(("rm -rf " + paths.pid + "; echo keep >" + paths.victim).c_str()), 0);
        int held = c.plant(paths);
        ASSERT_GE(held, 0);
        std::string victim = read_file(paths.victim);
        start({"--wait-all"});
        ASSERT_TRUE(menu_shown() && press_go()) << err();
        EXPECT_EQ(finish(), 0);
        EXPECT_TRUE(err().rfind(c.says, 0) == 0 && count_of(err(), "\n") == 1) << err();
        EXPECT_TRUE(file_exists(paths.pid));
        EXPECT_EQ(read_file(paths.victim), victim);
        EXPECT_FALSE(signalled) << "this process was signalled";
        if (held > 0)
            close(held);
    }
}

TEST_F(Service, AnEmptyComboStopsTheServiceAtOnce)
{
    std::ofstream(paths.combo) << std::string(12, '\0');
    start({"--wait-all"}, {}, paths.shots);
    ASSERT_TRUE(menu_shown() && press_go()) << err();
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(err(), "tavro: the button combo is empty, so no shot can be taken: stopping\n");
    EXPECT_FALSE(file_exists(paths.pid));
}

// What lies at its paths or on its screen when it starts: the service runs
// all the same, and a press of the combo, stopped right after, writes the
// shots, or says why it wrote none and goes on polling.
TEST_F(Service, RunsWhateverLiesAtItsPaths)
{
    const struct { const char *what; std::function<int(const Paths &)> plant; std::vector<std::string> options;
                   std::string menu_shows, shots, err = ""; } cases[] = {
        {"a pid file that names this process, which holds no record lock",
         [](const Paths &p) { return name_myself(p.pid, false); }, {}, "shot0_0000.png", "shot0_0000.png\n"},
        {"a pid file of a longer number", [](const Paths &p) { return write_text(p.pid, "2147483647"); },
         {}, "shot0_0000.png", "shot0_0000.png\n"},
        {"a combo file that is a FIFO", [](const Paths &p) { return mkfifo(p.combo.c_str(), 0644); }, {},
         "shot0_0000.png", "shot0_0000.png\n"},
        {"a combo file that is a link to another file",
         [](const Paths &p) { return symlink(p.victim.c_str(), p.combo.c_str()); }, {}, "shot0_0000.png",
         "shot0_0000.png\n"},
        {"a FIFO named like the first shot",
         [](const Paths &p) { return mkfifo((p.shots + "/shot0_0000.png").c_str(), 0644); }, {},
         "shot1_0000.png", "shot1_0000.png\n"},
        {"a combo of MENU alone, still held from the press that confirms: a shot before the press",
         [](const Paths &p) { return write_text(p.combo, std::string("\0\x01\0\0\0\0\0\0\0\0\0\0", 12)); },
         {}, "shot0_0000.png", "shot0_0000.png\nshot0_0001.png\n"},
        {"a shot so large that the stop comes while it is written", [](const Paths &) { return 0; },
         {"--screen", "2048x1536"}, "shot0_0000.png", "shot0_0000.png\n"},
        {"a layer that cannot be grabbed", [](const Paths &) { return 0; },
         {"--layer", "s1:on,format=16,hstride=0"}, "shot0_0000.png", "",
         "tavro: bpp and hstride mismatch: 16 0\ntavro: unusable layer: hstride=0, vstride=0, 320x240\n"
         "tavro: bad bpp: -1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system(("rm -rf " + paths.pid + " " + paths.shots + "; mkdir " + paths.shots).c_str()), 0);
        int held = c.plant(paths);
        ASSERT_GE(held, 0);
        std::vector<std::string> options = {"--wait-all"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        start(options, {}, paths.shots);
        ASSERT_TRUE(wait_for_text(60, 158, c.menu_shows)) << err();
        int pid = go_to_background();
        ASSERT_GT(pid, 0);
        set_buttons(COMBO);
        // The stop follows the read that starts the shot.
        ASSERT_TRUE(polled(2) && stop_service(pid));
        EXPECT_EQ(shots_written(), c.shots);
        EXPECT_EQ(err(), c.err);
        EXPECT_EQ(read_file(paths.victim), "keep\n");
        EXPECT_FALSE(signalled) << "this process was signalled";
        end_all();
        if (held > 0)
            close(held);
    }
}

// Removed or replaced while the service polls, the pid file is made and
// locked again, so that the next start finds the service, not a place free
// for a second one.
TEST_F(Service, APidFileRemovedOrReplacedIsMadeAgain)
{
    const struct { const char *what; std::function<int(const Paths &)> undo; } cases[] = {
        {"removed", [](const Paths &p) { return unlink(p.pid.c_str()); }},
        {"replaced by a copy that names the service",
         [](const Paths &p) {
             std::ofstream(p.pid + ".copy") << read_file(p.pid);
             return rename((p.pid + ".copy").c_str(), p.pid.c_str());
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        start({"--wait-all"});
        ASSERT_TRUE(menu_shown());
        int pid = go_to_background();
        ASSERT_TRUE(pid > 0 && lock_holder() == pid);
        ASSERT_EQ(c.undo(paths), 0);
        ASSERT_TRUE(wait_for([&] { return lock_holder() == pid && pid_file() == std::to_string(pid); }))
            << "the service did not claim its pid file again";
        EXPECT_TRUE(stop_service(pid));
        EXPECT_EQ(err(), "");
        end_all();
    }
}

// Once its menu has closed the service has the signal actions it had
// before: TERM ends it.
TEST_F(Service, TermEndsTheService)
{
    start({"--wait-all"});
    ASSERT_TRUE(menu_shown());
    int pid = go_to_background();
    ASSERT_GT(pid, 0);
    kill(pid, SIGTERM);
    EXPECT_TRUE(wait_for([&] { return kill(pid, 0) != 0; })) << "the service outlived TERM";
}

// Without a child there is no service: the user is told so, and the device
// goes to the launcher all the same.
TEST_F(Service, AFailedForkIsReported)
{
    start_through("export " + tripwire_beside_shim() + " TRIPWIRE_FORK=fail; exec \"$@\"", {"--wait-all"});
    ASSERT_TRUE(menu_shown() && press_go()) << err();
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(err(), "tavro: fork failed, no service runs: Resource temporarily unavailable\n");
    EXPECT_EQ(count_of(launcher_log(), "\n"), 1);
    EXPECT_FALSE(file_exists(paths.pid));
}

// A shot into a new file, over an old one, through a link to one or through
// a link to none, ended by a signal while it is written or by a full disk:
// every name and file is as it was.
TEST_F(Service, ShotCutOffByASignalOrAFullDiskLeavesNoFile)
{
    const struct { const char *what; int sig; std::string name; } cases[] = {
        {"TERM, into a new file", SIGTERM, "new.png"},
        {"INT, over an old file", SIGINT, "old.png"},
        {"HUP, through a link to an old file", SIGHUP, "link.png"},
        {"TERM, through a link to no file", SIGTERM, "dangling.png"},
        {"a full disk, through a link to an old file", 0, "link.png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system(("cd " + work + " && rm -f *.png && echo keep >old.png && echo keep >target.png"
                          " && ln -s target.png link.png && ln -s made.png dangling.png").c_str()), 0);
        // On a full disk files grow no further than 4 KiB.
        start_through(c.sig ? "" : "trap '' XFSZ; ulimit -f 8; exec \"$@\"", {"--screen", "4096x2048"}, {c.name});
        if (c.sig) {
            ASSERT_TRUE(wait_for([&] { return temp_left(); })) << err();
            kill(runner, c.sig);
        }
        EXPECT_EQ(finish(), c.sig ? 128 + c.sig : 255);
        EXPECT_FALSE(temp_left());
        for (const char *absent : {"new.png", "made.png"})
            EXPECT_FALSE(file_exists(in_work(absent))) << "made " << absent;
        for (const char *kept : {"old.png", "link.png", "target.png"})
            EXPECT_TRUE(read_file(in_work(kept)) == "keep\n") << "destroyed " << kept;
    }
}

// A hangup that the caller has tavro ignore stays ignored while a shot is
// written.
TEST_F(Service, AnIgnoredHangupLetsTheShotFinish)
{
    start_through("trap '' HUP; exec \"$@\"", {"--screen", "4096x2048"}, {"shot.png"});
    ASSERT_TRUE(wait_for([&] { return temp_left(); })) << err();
    kill(runner, SIGHUP);
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(decode_png(in_work("shot.png")).ok);
}
