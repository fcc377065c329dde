// std_descriptors.cpp -- /dev/null on closed standard descriptors (POSIX).
#include "platform/std_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

} // namespace

// Filled in order, so open() (the lowest free number) lands on the closed one.
bool openStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (isOpen(fd)) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened == fd) continue;
        if (opened >= 0) close(opened);
        return false;
    }
    return true;
}

} // namespace platform
