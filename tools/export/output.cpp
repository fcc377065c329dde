// output.cpp -- where an export is written. A file is written under a
// partial name and renamed when complete; a symbolic link is followed and
// stays a link; a FIFO, a character device or standard output is written
// directly and never replaced; anything else is refused.
#include "export/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace exporter {
namespace {

constexpr int kMaxLinks = 40; // as the kernel allows

// The folder part of path with its slash ("" for a bare name).
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Follows the chain of links from path; path ends as the first name that
// is not a link (which may not exist). Fills st when it exists.
std::string followLinks(std::string& path, struct stat& st, bool& exists) {
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        if (lstat(path.c_str(), &st) != 0) {
            exists = false;
            return errno == ENOENT ? "" : std::strerror(errno);
        }
        exists = true;
        if (!S_ISLNK(st.st_mode)) return {};
        std::string to(std::size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), to.data(), to.size());
        if (n < 0) return std::strerror(errno);
        to.resize(std::size_t(n));
        path = to.starts_with('/') ? to : folderOf(path) + to;
    }
    return std::strerror(ELOOP);
}

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

std::string partialName(const std::string& path, const std::string& tag) {
    const std::size_t dot = extensionDot(path);
    if (dot == std::string::npos) return path + ".partial-" + tag;
    return path.substr(0, dot) + ".partial-" + tag + path.substr(dot);
}

std::string resolveOutput(const std::string& typed, bool noClobber, OutputTarget& t) {
    t = OutputTarget{};
    t.typed = typed;
    if (typed == "-") {
        t.kind = TargetKind::Stdout;
        return {};
    }
    struct stat st {};
    bool exists = false;
    if (noClobber && lstat(typed.c_str(), &st) == 0) return "it exists (-n)";
    t.path = typed;
    // A FIFO or device is opened by the name typed, which also reaches one
    // behind a link the kernel resolves itself (/dev/stdout on a pipe).
    if (stat(typed.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        return classify(st, t.kind);
    std::string reason = followLinks(t.path, st, exists);
    if (!reason.empty()) return reason;
    if (!exists) {
        t.kind = TargetKind::NewFile;
        // A name that ends in a slash names a folder.
        if (t.path.ends_with('/')) return std::strerror(EISDIR);
        return {};
    }
    return classify(st, t.kind);
}

std::string openOutput(OutputTarget& t, const std::string& tag) {
    if (t.kind == TargetKind::Stdout) {
        t.fd = STDOUT_FILENO;
        return {};
    }
    if (t.direct()) {
        // No O_CREAT, no O_TRUNC: what is there stays what it is.
        t.fd = open(t.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        return t.fd < 0 ? std::strerror(errno) : "";
    }
    t.partial = partialName(t.path, tag);
    const int fd = open(t.partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        t.partial.clear();
        return std::strerror(errno);
    }
    // A replaced file keeps its permissions.
    struct stat st {};
    if (t.kind == TargetKind::File && stat(t.path.c_str(), &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    close(fd);
    return {};
}

std::string publishOutput(OutputTarget& t, bool noClobber) {
    if (t.direct()) {
        const bool failed = t.fd != STDOUT_FILENO && t.fd >= 0 && close(t.fd) != 0;
        t.fd = -1;
        return failed ? std::strerror(errno) : "";
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
    if (t.fd >= 0 && t.fd != STDOUT_FILENO) close(t.fd);
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
    if (std::fclose(file) != 0 && reason.empty()) reason = std::strerror(errno);
    return reason;
}

} // namespace exporter
