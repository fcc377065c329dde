// Closed standard descriptors are reopened on /dev/null, in place, and open
// ones are left alone (each case in a child process of its own); text for
// messages keeps to one line.
#include "platform/std_descriptors.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool isDevNull(int fd) {
    struct stat opened, null;
    return fstat(fd, &opened) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(opened.st_mode) &&
           opened.st_rdev == null.st_rdev;
}

// Closes the descriptors named in the mask, calls the function, and reports
// in the exit status what it found: 0 when all is as expected.
int runChild(unsigned closedMask) {
    const pid_t child = fork();
    if (child == 0) {
        const int lowestFree = open("/dev/null", O_RDONLY); // above 2: the runner may hold some
        close(lowestFree);
        const int keep = open("/proc/self/exe", O_RDONLY); // a non-null file stays as it is
        for (int fd = 0; fd <= 2; ++fd) {
            if (closedMask & (1u << fd))
                close(fd);
            else
                dup2(keep, fd);
        }
        close(keep);
        if (!platform::openStandardDescriptors()) _exit(10);
        for (int fd = 0; fd <= 2; ++fd) {
            const bool closed = closedMask & (1u << fd);
            if (fcntl(fd, F_GETFD) == -1) _exit(20 + fd);
            if (isDevNull(fd) != closed) _exit(30 + fd);
        }
        const int next = open("/dev/null", O_RDONLY); // nothing else was left open
        _exit(next == lowestFree ? 0 : 40);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(StandardDescriptors, ClosedOnesAreOpenedOnDevNullInPlace) {
    for (unsigned mask = 0; mask < 8; ++mask)
        EXPECT_EQ(runChild(mask), 0) << "closed mask " << mask;
}

TEST(StandardDescriptors, PrintableTextKeepsToOneLine) {
    EXPECT_EQ(platform::printable("elg.mp3"), "elg.mp3");
    EXPECT_EQ(platform::printable("a\nb\rc\td"), "a\\nb\\rc\\td");
    EXPECT_EQ(platform::printable(std::string("\x1b[2J\x7f\0", 6)), "\\x1b[2J\\x7f\\x00");
    EXPECT_EQ(platform::printable("C:\\n"), "C:\\\\n"); // not mistaken for a line break
    EXPECT_EQ(platform::printable("s\xc3\xb8lnedgang"), "s\xc3\xb8lnedgang"); // UTF-8 kept
}

} // namespace
