// target.cpp -- what an output's name leads to, found by the kernel; the
// partial file beside it, and its rename once complete.
#include "export/output.h"

#include "export/names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace exporter {
namespace {

int standardOutput = STDOUT_FILENO;

std::string classify(const struct stat& st, TargetKind& kind) {
    if (S_ISREG(st.st_mode))
        kind = TargetKind::File;
    else if (S_ISFIFO(st.st_mode))
        kind = TargetKind::Fifo;
    else if (S_ISCHR(st.st_mode))
        kind = TargetKind::CharDevice;
    else if (S_ISDIR(st.st_mode))
        return std::strerror(EISDIR);
    else
        return "not a file, FIFO or character device";
    return {};
}

// The name the kernel reached for an open descriptor.
std::string pathOf(int fd) {
    char buffer[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
    return n > 0 && std::size_t(n) < sizeof buffer ? std::string(buffer, std::size_t(n)) : "";
}

std::string refused(int error, bool link) {
    if (link && error == EACCES)
        return "the system refuses to follow this link (" + std::string(std::strerror(error)) + ")";
    return std::strerror(error);
}

// A link that leads nowhere yet: the kernel creates its file (following
// the link under its own rules), which tells where it is; that empty file
// goes again at once and the export is written beside it.
std::string resolveDangling(OutputTarget& t) {
    const int fd = open(t.typed.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return refused(errno, true);
    struct stat made {
    }, there{};
    t.path = pathOf(fd);
    if (fstat(fd, &made) == 0 && !t.path.empty() && stat(t.path.c_str(), &there) == 0 &&
        made.st_dev == there.st_dev && made.st_ino == there.st_ino && there.st_size == 0)
        unlink(t.path.c_str());
    close(fd);
    if (t.path.empty()) return "cannot tell where this link leads";
    t.kind = TargetKind::NewFile;
    return {};
}

// Whether typed still leads to the file it led to when the export began.
bool sameFile(const OutputTarget& t) {
    struct stat now {
    }, named{};
    const int fd = open(t.typed.c_str(), O_PATH | O_CLOEXEC);
    const bool same = fd >= 0 && fstat(fd, &now) == 0 && stat(t.path.c_str(), &named) == 0 &&
                      now.st_dev == t.device && now.st_ino == t.inode && named.st_dev == t.device &&
                      named.st_ino == t.inode;
    if (fd >= 0) close(fd);
    return same;
}

// Renames from to to unless to exists; falls back to a hard link where the
// file system has no such rename.
int renameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (link(from, to) != 0) return -1;
    unlink(from);
    return 0;
}

} // namespace

void setStandardOutput(int fd) {
    standardOutput = fd;
}

std::string resolveOutput(const std::string& typed, bool noClobber, OutputTarget& t) {
    t = OutputTarget{};
    t.typed = typed;
    if (typed == "-") {
        t.kind = TargetKind::Stdout;
        return {};
    }
    t.path = typed;
    struct stat named {};
    if (lstat(typed.c_str(), &named) != 0) {
        if (errno != ENOENT) return std::strerror(errno);
        // A name that ends in a slash names a folder.
        return typed.ends_with('/') ? std::strerror(EISDIR) : "";
    }
    if (noClobber) return "it exists (-n)";
    const bool link = S_ISLNK(named.st_mode);
    const int fd = open(typed.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT && link ? resolveDangling(t) : refused(errno, link);
    struct stat st {};
    std::string reason = fstat(fd, &st) == 0 ? classify(st, t.kind) : std::strerror(errno);
    if (reason.empty() && t.kind == TargetKind::File) {
        // A FIFO or device is opened by the name typed; a file is replaced
        // where the kernel found it.
        t.path = pathOf(fd);
        t.device = st.st_dev;
        t.inode = st.st_ino;
        if (t.path.empty()) reason = "cannot tell where this name leads";
    }
    close(fd);
    return reason;
}

std::string openOutput(OutputTarget& t, const std::string& tag) {
    if (t.kind == TargetKind::Stdout) {
        t.fd = standardOutput;
        return {};
    }
    if (t.direct()) {
        // No O_CREAT, no O_TRUNC: what is there stays what it is.
        t.fd = open(t.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        return t.fd < 0 ? refused(errno, true) : "";
    }
    t.partial = partialName(t.path, tag);
    const bool replacing = t.kind == TargetKind::File;
    const int fd =
        open(t.partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd < 0) {
        t.partial.clear();
        return std::strerror(errno);
    }
    // A replaced file keeps its permissions, never a set-id or sticky bit.
    struct stat st {};
    if (replacing && stat(t.path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 0777);
    close(fd);
    return {};
}

std::string publishOutput(OutputTarget& t, bool noClobber) {
    if (t.direct()) {
        const bool failed = t.fd != standardOutput && t.fd >= 0 && close(t.fd) != 0;
        t.fd = -1;
        return failed ? std::strerror(errno) : "";
    }
    if (t.kind == TargetKind::File && !sameFile(t)) {
        abandonOutput(t);
        return "it was replaced or moved while the export ran";
    }
    const int rc = noClobber ? renameNoReplace(t.partial.c_str(), t.path.c_str())
                             : std::rename(t.partial.c_str(), t.path.c_str());
    if (rc == 0) {
        t.partial.clear();
        return {};
    }
    const std::string reason = errno == EEXIST ? "it exists (-n)" : std::strerror(errno);
    abandonOutput(t);
    return reason;
}

void abandonOutput(OutputTarget& t) {
    if (!t.partial.empty()) unlink(t.partial.c_str());
    t.partial.clear();
    if (t.fd >= 0 && t.fd != standardOutput) close(t.fd);
    t.fd = -1;
}

std::string writeTarget(OutputTarget& t, const std::function<std::string(std::FILE*)>& write) {
    std::FILE* file = nullptr;
    if (t.direct()) {
        const int fd = dup(t.fd);
        file = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (!file && fd >= 0) close(fd);
    } else {
        file = std::fopen(t.partial.c_str(), "wb");
    }
    if (!file) return std::strerror(errno);
    std::string reason = write(file);
    if (reason.empty() && std::fflush(file) != 0) reason = std::strerror(errno);
    if (reason.empty() && !t.direct() && fsync(fileno(file)) != 0) reason = std::strerror(errno);
    if (std::fclose(file) != 0 && reason.empty()) reason = std::strerror(errno);
    return reason;
}

} // namespace exporter
