// encoder.cpp -- the ffmpeg process: raw frames in through a pipe, the
// sound from an unlinked raw file handed over as descriptor 3 (or a
// palette), the container's codecs out; and a one-frame trial run of the
// same settings before any real frame is composed.
#include "export/export.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

std::vector<std::string> encoderCommand(const EncoderSettings& s) {
    std::vector<std::string> command = {s.ffmpeg, "-hide_banner", "-loglevel",
                                        "error",  "-nostdin",     "-y"};
    command.insert(command.end(), s.frames.begin(), s.frames.end());
    command.insert(command.end(), s.second.begin(), s.second.end());
    command.insert(command.end(), s.outputArgs.begin(), s.outputArgs.end());
    command.push_back(s.output);
    return command;
}

namespace {

// Spawns command with stdin, stdout (when >= 0), descriptor 3 (when >= 0)
// and standard error (when >= 0) set; ffmpeg gets a process group of its
// own, so a Ctrl+C at the terminal reaches only this program, which then
// ends the encoder itself.
std::string spawn(const std::vector<std::string>& command, int in, int out, int three, int err,
                  int& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    if (three >= 0) posix_spawn_file_actions_adddup2(&actions, three, 3);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int rc = posix_spawn(&child, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    pid = rc == 0 ? child : -1;
    return rc == 0 ? "" : std::strerror(rc);
}

// The first line of what ffmpeg said, without a trailing "\r" or spaces.
std::string firstLine(int fd) {
    std::string text;
    char buffer[512];
    lseek(fd, 0, SEEK_SET);
    ssize_t n = 0;
    while (text.size() < 4096 && (n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, std::size_t(n));
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

int waitFor(int pid, bool killOnStop) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
        if (killOnStop && stopRequested()) kill(pid, SIGKILL);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    probe.output = "pipe:1";
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    FILE* errors = std::tmpfile();
    if (null < 0 || !errors) {
        if (null >= 0) close(null);
        if (errors) std::fclose(errors);
        return "cannot start ffmpeg: " + std::string(std::strerror(errno));
    }
    int pid = -1;
    std::string reason = spawn(encoderCommand(probe), null, null, -1, fileno(errors), pid);
    close(null);
    if (!reason.empty()) {
        std::fclose(errors);
        return "cannot start " + settings.ffmpeg + ": " + reason;
    }
    const int status = waitFor(pid, true);
    if (status != 0) {
        reason = firstLine(fileno(errors));
        if (reason.empty()) reason = "ffmpeg failed (exit status " + std::to_string(status) + ")";
    }
    std::fclose(errors);
    return reason;
}

std::string startEncoder(Encoder& encoder, const EncoderSettings& settings) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::strerror(errno);
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20); // fewer, larger hand-overs; a smaller pipe works too
    int pid = -1;
    const std::string reason =
        spawn(encoderCommand(settings), fds[0], settings.outputFd, settings.soundFd, -1, pid);
    close(fds[0]);
    if (!reason.empty()) {
        close(fds[1]);
        return reason;
    }
    encoder.pid = pid;
    encoder.input = fds[1];
    return {};
}

bool writeAll(int fd, const void* bytes, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        if (stopRequested()) return false;
        const ssize_t n = write(fd, p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= std::size_t(n);
    }
    return true;
}

int finishEncoder(Encoder& encoder) {
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    if (encoder.pid < 0) return -1;
    if (stopRequested()) kill(encoder.pid, SIGKILL);
    const int status = waitFor(encoder.pid, true);
    encoder.pid = -1;
    return status;
}

void killEncoder(Encoder& encoder) {
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    if (encoder.pid < 0) return;
    kill(encoder.pid, SIGKILL);
    waitFor(encoder.pid, false);
    encoder.pid = -1;
}

} // namespace exporter
