// The tripwire's open, loaded here and called as a program calls it: the
// executable stands in for the C library's openat, so that it sees what the
// tripwire passes on.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

static bool watching;                 // openat notes the mode passed on
static unsigned passed_mode;

extern "C" int openat(int dir, const char *path, int flags, ...)
{
    unsigned mode = 0;
    if (watching) {
        // The tripwire always passes a mode; what it holds is the question.
        va_list ap;
        va_start(ap, flags);
        passed_mode = mode = va_arg(ap, unsigned);
        va_end(ap);
    }
    return int(syscall(SYS_openat, dir, path, flags, mode));
}

// A caller may pass a mode that its flags do not use; only the flags that
// create a file may take it, or an open without one reads a mode never
// passed. O_TMPFILE holds the bit of O_DIRECTORY.
TEST(Tripwire, PassesOnAModeOnlyWithTheFlagsThatCreateAFile)
{
    void *tripwire = dlopen(TRIPWIRE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(tripwire) << dlerror();
    auto tripwire_open = reinterpret_cast<int (*)(const char *, int, ...)>(dlsym(tripwire, "open"));
    ASSERT_TRUE(tripwire_open);
    char dir[] = "/tmp/tavro-tripwire-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string file = dir + std::string("/file");
    const struct { const char *what; std::string path; int flags; unsigned mode_passed_on; } opens[] = {
        {"a file created", file, O_WRONLY | O_CREAT, 0640},
        {"a file read", file, O_RDONLY, 0},
        {"a folder opened", dir, O_RDONLY | O_DIRECTORY, 0},
        {"an unnamed temporary file", dir, O_RDWR | O_TMPFILE, 0640},
    };
    for (const auto &o : opens) {
        SCOPED_TRACE(o.what);
        watching = true;
        int fd = tripwire_open(o.path.c_str(), o.flags, 0640);
        watching = false;
        EXPECT_EQ(passed_mode, o.mode_passed_on);
        if (fd >= 0)
            close(fd);
    }
    unlink(file.c_str());
    rmdir(dir);
    dlclose(tripwire);
}
