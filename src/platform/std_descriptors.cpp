// std_descriptors.cpp -- /dev/null on closed standard descriptors (POSIX).
#include "platform/std_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

} // namespace

// Filled in order, so open() (the lowest free number) lands on the closed one.
bool openStandardDescriptors(int* closed) {
    if (closed) *closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (isOpen(fd)) continue;
        if (closed) *closed |= 1 << fd;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened == fd) continue;
        if (opened >= 0) close(opened);
        return false;
    }
    return true;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace platform
