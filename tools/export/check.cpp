// check.cpp -- a finished file flushed to the disk and its structure read
// back before it may take the output's name. An encoder that fails only
// while writing its trailer (a full disk) can still report success; the
// file it leaves has no index (MP4), no segment size (Matroska) or no
// closing byte (GIF).
#include "export/check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace exporter {
namespace {

struct Reader {
    int fd;
    std::uint64_t size;

    bool read(std::uint64_t at, void* to, std::size_t count) const {
        if (at + count > size) return false;
        return pread(fd, to, count, off_t(at)) == ssize_t(count);
    }
};

std::uint64_t bigEndian(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Top-level boxes must tile the file exactly; moov and mdat among them.
std::string checkMp4(const Reader& r) {
    bool moov = false, mdat = false;
    std::uint64_t at = 0;
    while (at < r.size) {
        unsigned char head[16];
        if (!r.read(at, head, 8)) return "a box is cut short";
        std::uint64_t size = bigEndian(head, 4);
        if (size == 1) {
            if (!r.read(at + 8, head + 8, 8)) return "a box is cut short";
            size = bigEndian(head + 8, 8);
        }
        if (size < 8 || size > r.size - at) return "a box is cut short";
        moov = moov || std::memcmp(head + 4, "moov", 4) == 0;
        mdat = mdat || std::memcmp(head + 4, "mdat", 4) == 0;
        at += size;
    }
    if (!moov) return "its index (moov) is missing";
    return mdat ? "" : "its media data is missing";
}

// An EBML variable-length number at at: its length and value; all ones
// means "unknown".
bool vint(const Reader& r, std::uint64_t at, int& length, std::uint64_t& value, bool& unknown) {
    unsigned char b[8];
    if (!r.read(at, b, 1) || b[0] == 0) return false;
    length = 1;
    while (!(b[0] & (0x80 >> (length - 1)))) ++length;
    if (!r.read(at, b, std::size_t(length))) return false;
    value = b[0] & (0xFF >> length);
    bool ones = value == (0xFFu >> length);
    for (int i = 1; i < length; ++i) {
        value = (value << 8) | b[i];
        ones = ones && b[i] == 0xFF;
    }
    unknown = ones;
    return true;
}

// The EBML header, then one segment whose size was written at the end.
std::string checkMatroska(const Reader& r) {
    unsigned char id[4];
    int length = 0;
    std::uint64_t size = 0;
    bool unknown = false;
    if (!r.read(0, id, 4) || bigEndian(id, 4) != 0x1A45DFA3 || !vint(r, 4, length, size, unknown))
        return "its header is missing";
    const std::uint64_t segment = 4 + std::uint64_t(length) + size;
    if (!r.read(segment, id, 4) || bigEndian(id, 4) != 0x18538067 ||
        !vint(r, segment + 4, length, size, unknown))
        return "its segment is missing";
    if (unknown) return "its segment was never closed";
    if (segment + 4 + std::uint64_t(length) + size != r.size)
        return "its segment does not end at the end of the file";
    return {};
}

std::string checkEnd(const Reader& r, const char* start, std::size_t startSize, const char* end,
                     std::size_t endSize) {
    std::vector<unsigned char> bytes(std::max(startSize, endSize));
    if (!r.read(0, bytes.data(), startSize) || std::memcmp(bytes.data(), start, startSize) != 0)
        return "its header is missing";
    if (r.size < endSize || !r.read(r.size - endSize, bytes.data(), endSize) ||
        std::memcmp(bytes.data(), end, endSize) != 0)
        return "it is cut short";
    return {};
}

std::string checkShape(const Reader& r, FileShape shape) {
    switch (shape) {
    case FileShape::Mp4:
        return checkMp4(r);
    case FileShape::Matroska:
        return checkMatroska(r);
    case FileShape::Gif:
        return checkEnd(r, "GIF8", 4, "\x3B", 1);
    case FileShape::Png:
        return checkEnd(r, "\x89PNG\r\n\x1A\n", 8, "\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    case FileShape::Any:
        break;
    }
    return {};
}

} // namespace

std::string checkWholeFile(const std::string& path, FileShape shape) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    std::string reason;
    if (fsync(fd) != 0 || fstat(fd, &st) != 0)
        reason = std::strerror(errno);
    else if (st.st_size == 0)
        reason = "nothing was written";
    else
        reason = checkShape(Reader{fd, std::uint64_t(st.st_size)}, shape);
    close(fd);
    return reason;
}

} // namespace exporter
