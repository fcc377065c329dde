// encoder.cpp -- the ffmpeg process: raw frames in through a pipe, the
// sound from an unlinked raw file handed over as descriptor 3 (or a
// palette), chapters as descriptor 4, the container's codecs out; and a
// one-frame trial run of the same settings before any real frame is composed.
#include "export/encoder.h"

#include "export/sound.h"
#include "export/stop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

extern char** environ;

namespace exporter {

std::string findProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    const std::string_view dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string_view::npos) end = dirs.size();
        // An empty entry means the working directory.
        const std::string_view dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate(dir);
        candidate += '/';
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string fileUrl(const std::string& path) {
    return "file:" + path;
}

std::vector<std::string> rawFrameInput(std::int32_t width, std::int32_t height, std::int32_t fps,
                                       bool yuv) {
    // the composed frames, bytes B, G, R, unused; or their 4:2:0 planes
    return {"-thread_queue_size",
            "64",
            "-f",
            "rawvideo",
            "-pix_fmt",
            yuv ? "yuv420p" : "bgr0",
            "-s",
            std::to_string(width) + "x" + std::to_string(height),
            "-framerate",
            std::to_string(fps),
            "-i",
            "pipe:0"};
}

std::vector<std::string> rawSoundInput() {
    return {"-thread_queue_size",
            "1024",
            "-f",
            "f32le",
            "-ar",
            std::to_string(kSampleRate),
            "-ac",
            std::to_string(kChannels),
            "-i",
            "pipe:3"};
}

std::vector<std::string> chapterInput() {
    return {"-f", "ffmetadata", "-i", "pipe:4", "-map_chapters", "2"};
}

std::vector<std::string> encoderCommand(const EncoderSettings& s) {
    std::vector<std::string> command = {s.ffmpeg,   "-hide_banner", "-loglevel", "error",
                                        "-nostats", "-nostdin",     "-y"};
    for (const auto* part : {&s.frames, &s.second, &s.chapters, &s.outputArgs})
        command.insert(command.end(), part->begin(), part->end());
    command.push_back(s.output);
    return command;
}

namespace {

// Descriptors the child gets: standard input, output, error, 3 and 4 (-1:
// inherited, or for 3 and 4 none).
struct ChildFds {
    int fds[5] = {-1, -1, -1, -1, -1};
};

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

std::int64_t sizeOf(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

} // namespace

std::string probeEncoder(const EncoderSettings& settings, std::int32_t width, std::int32_t height,
                         std::int32_t fps, bool withSound) {
    EncoderSettings probe = settings;
    probe.frames = {"-f", "lavfi", "-i",
                    "color=c=black:s=" + std::to_string(width) + "x" + std::to_string(height) +
                        ":r=" + std::to_string(fps) + ":d=" + std::to_string(1.0 / fps)};
    // Input 1: a moment of silence, or for a GIF a palette-sized picture.
    probe.second = {"-f", "lavfi", "-i",
                    withSound ? "anullsrc=r=44100:cl=stereo:d=0.05" : "color=c=black:s=16x16:d=1"};
    probe.chapters.clear();
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int errors = errorFile();
    if (null < 0 || errors < 0) {
        const std::string reason = std::strerror(errno);
        if (null >= 0) close(null);
        if (errors >= 0) close(errors);
        return "cannot start ffmpeg: " + reason;
    }
    ChildFds fds;
    fds.fds[0] = null;
    fds.fds[1] = probe.output == "pipe:1" ? null : -1;
    fds.fds[2] = errors;
    int pid = -1;
    std::string reason = spawn(encoderCommand(probe), fds, pid);
    close(null);
    if (!reason.empty()) {
        close(errors);
        return "cannot start " + settings.ffmpeg + ": " + reason;
    }
    const int status = waitFor(pid, true);
    if (status != 0) {
        reason = firstLine(errors);
        if (reason.empty()) reason = "ffmpeg failed (exit status " + std::to_string(status) + ")";
    }
    close(errors);
    return reason;
}

std::string startEncoder(Encoder& encoder, const EncoderSettings& settings) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::strerror(errno);
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20); // fewer, larger hand-overs; a smaller pipe works too
    // Never blocked in write: a hung encoder is noticed by poll's limit.
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    const int errors = errorFile();
    if (errors < 0) {
        const std::string reason = std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return reason;
    }
    ChildFds c;
    c.fds[0] = fds[0];
    c.fds[1] = settings.outputFd;
    c.fds[2] = errors;
    c.fds[3] = settings.soundFd;
    c.fds[4] = settings.chaptersFd;
    int pid = -1;
    const std::string reason = spawn(encoderCommand(settings), c, pid);
    close(fds[0]);
    if (!reason.empty()) {
        close(fds[1]);
        close(errors);
        return reason;
    }
    encoder.pid = pid;
    encoder.input = fds[1];
    encoder.errors = errors;
    return {};
}

int stallSeconds() {
    const char* text = std::getenv("KVA_EXPORT_STALL_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 30;
}

bool feedEncoder(Encoder& encoder, const void* bytes, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        if (stopRequested()) return false;
        const ssize_t n = write(encoder.input, p, count);
        if (n > 0) {
            p += n;
            count -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd wait{encoder.input, POLLOUT, 0};
        const int ready = poll(&wait, 1, stallSeconds() * 1000);
        if (ready == 0) {
            encoder.stalled = true;
            return false;
        }
        if (ready < 0 && errno != EINTR) return false;
    }
    return true;
}

int finishEncoder(Encoder& encoder, const std::string& watch, std::string& complaint) {
    using Clock = std::chrono::steady_clock;
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    int status = -1;
    if (encoder.pid >= 0 && !encoder.stalled && !stopRequested()) {
        // ffmpeg flushes its encoder and writes the trailer: allowed as long
        // as it takes while the file grows.
        std::int64_t size = sizeOf(watch);
        Clock::time_point moved = Clock::now();
        const auto limit = std::chrono::seconds(stallSeconds());
        int raw = 0;
        pid_t done = 0;
        while ((done = waitpid(encoder.pid, &raw, WNOHANG)) == 0 && !stopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::int64_t now = sizeOf(watch);
            if (now != size) moved = Clock::now();
            size = now;
            if (Clock::now() - moved > limit) {
                encoder.stalled = true;
                break;
            }
        }
        if (done == encoder.pid) {
            encoder.pid = -1;
            status = exitStatus(raw);
        }
    }
    if (encoder.pid >= 0) {
        kill(encoder.pid, SIGKILL);
        waitFor(encoder.pid, false);
        encoder.pid = -1;
    }
    if (encoder.errors >= 0) complaint = firstLine(encoder.errors);
    killEncoder(encoder);
    return status;
}

void killEncoder(Encoder& encoder) {
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    if (encoder.pid >= 0) {
        kill(encoder.pid, SIGKILL);
        waitFor(encoder.pid, false);
        encoder.pid = -1;
    }
    if (encoder.errors >= 0) close(encoder.errors);
    encoder.errors = -1;
}

} // namespace exporter
