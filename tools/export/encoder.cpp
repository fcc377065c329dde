// encoder.cpp -- the ffmpeg process at work: a one-frame trial run of the
// export's settings, then the frames fed through a non-blocking pipe, so
// that an encoder that stops taking them is noticed, and its end awaited.
#include "export/encoder.h"

#include "export/process.h"
#include "export/stop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace exporter {
namespace {

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
