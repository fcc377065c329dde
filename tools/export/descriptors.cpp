// descriptors.cpp -- closed standard descriptors put on /dev/null.
#include "export/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace exporter {

int openStandardDescriptors() {
    int closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        closed |= 1 << fd;
        // The lowest free descriptor: this one, as those below are open.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);
    }
    return closed;
}

} // namespace exporter
