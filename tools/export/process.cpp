// process.cpp -- a child process started so that it dies with this one
// (whatever kills this one), in a process group of its own; its first line
// of complaint; and waiting for it.
#include "export/process.h"

#include "export/stop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace exporter {
namespace {

// In the child, between fork and exec: only calls safe there. The parent's
// death kills the child; the check after prctl closes the gap where the
// parent died before it.
[[noreturn]] void becomeChild(char* const* argv, const ChildFds& c, pid_t parent, int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    // Out of the way first, so no source is overwritten by another's dup2.
    int moved[5];
    for (int i = 0; i < 5; ++i) moved[i] = c.fds[i] >= 0 ? fcntl(c.fds[i], F_DUPFD, 10) : -1;
    for (int i = 0; i < 5; ++i) {
        if (moved[i] >= 0)
            dup2(moved[i], i);
        else if (i >= 3)
            close(i);
    }
    for (int i = 0; i < 5; ++i) {
        if (moved[i] >= 0) close(moved[i]);
    }
    execve(argv[0], argv, environ);
    const int error = errno;
    if (write(report, &error, sizeof error) < 0) _exit(127);
    _exit(127);
}

} // namespace

// Starts command with the descriptors c; gives its pid or the reason.
std::string spawn(const std::vector<std::string>& command, const ChildFds& c, int& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return std::strerror(errno);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) becomeChild(argv.data(), c, parent, report[1]);
    close(report[1]);
    int error = child < 0 ? errno : 0;
    if (child > 0) {
        setpgid(child, child); // also here, so no signal finds it in ours
        ssize_t n;
        while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (n <= 0)
            error = 0; // closed by exec: started
        else
            waitpid(child, nullptr, 0);
    }
    close(report[0]);
    pid = error == 0 ? child : -1;
    return error == 0 ? "" : std::strerror(error);
}

// The first line of what ffmpeg said, without a trailing "\r" or spaces.
std::string firstLine(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n = 0;
    for (off_t at = 0; text.size() < 4096 && (n = pread(fd, buffer, sizeof buffer, at)) > 0;
         at += n)
        text.append(buffer, std::size_t(n));
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// An unlinked temporary file for ffmpeg's error output.
int errorFile() {
    const char* tmp = std::getenv("TMPDIR");
    const int fd = open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int waitFor(int pid, bool killOnStop) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
        if (killOnStop && stopRequested()) kill(pid, SIGKILL);
    }
    return exitStatus(status);
}

} // namespace exporter
