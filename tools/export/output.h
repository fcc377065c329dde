// output.h -- where an export is written. A file is written under a
// partial name beside the file the name leads to, and takes that name only
// once it is complete; a FIFO, a character device or standard output is
// written directly and never replaced; anything else is refused. Links are
// followed by the kernel itself, so the system's protections for links in
// shared folders hold.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace exporter {

enum class TargetKind { NewFile, File, Fifo, CharDevice, Stdout };

struct OutputTarget {
    std::string typed; // as the user typed it, for messages
    std::string path;  // a file: where the kernel's resolution of typed leads
    TargetKind kind = TargetKind::NewFile;
    std::string partial;                 // files: where the output is written until complete
    int fd = -1;                         // FIFOs, devices, standard output: written directly
    std::uint64_t device = 0, inode = 0; // the file to be replaced
    bool direct() const { return kind != TargetKind::NewFile && kind != TargetKind::File; }
};

// The descriptor "-" writes to (standard output unless moved aside).
void setStandardOutput(int fd);

// Finds what typed leads to. Returns an empty string, or why it cannot be
// written: a folder, another kind of special file, a missing folder, a
// link the system refuses to follow, or (noClobber) an output that exists.
std::string resolveOutput(const std::string& typed, bool noClobber, OutputTarget& target);

// Gets the target ready: a file gets its partial file beside it (tag in
// its name), which proves the folder writable; a FIFO or device is opened
// for writing. Returns an empty string, or the reason.
std::string openOutput(OutputTarget& target, const std::string& tag);

// A file: the finished partial file takes the target's name, provided the
// name still leads to the file it led to (with noClobber, only while
// nothing has that name). A direct target is closed.
std::string publishOutput(OutputTarget& target, bool noClobber);

// Removes the partial file, or closes the direct target.
void abandonOutput(OutputTarget& target);

// Writes what write puts into a stdio stream to target (opened): the
// partial file, flushed to the disk, or the direct descriptor.
std::string writeTarget(OutputTarget& target, const std::function<std::string(std::FILE*)>& write);

// Removes files named partialName(path, pid) beside path whose process is
// gone (a kill -9 leaves them). Returns how many.
int removeStalePartials(const std::string& path);

} // namespace exporter
