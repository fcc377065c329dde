// process.h -- child processes for the encoder: started so that they die
// with this program, their error output, and waiting for them.
#pragma once

#include <string>
#include <vector>

namespace exporter {

// Descriptors the child gets as its 0, 1, 2, 3 and 4 (-1: 0 to 2
// inherited, 3 and 4 closed).
struct ChildFds {
    int fds[5] = {-1, -1, -1, -1, -1};
};

// Starts command (program path first) with the descriptors c, in a process
// group of its own, killed by the kernel when this program dies. Gives its
// pid, or the reason it did not start.
std::string spawn(const std::vector<std::string>& command, const ChildFds& c, int& pid);

// An unlinked temporary file for a child's error output; -1 on failure.
int errorFile();

// The first line written into fd, without a trailing "\r" or spaces.
std::string firstLine(int fd);

// The exit status waitpid gave, or -1 for a signal.
int exitStatus(int status);

// Waits for pid; with killOnStop a stop request kills it. Its exit status.
int waitFor(int pid, bool killOnStop);

} // namespace exporter
