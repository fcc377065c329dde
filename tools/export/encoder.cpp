// encoder.cpp -- the ffmpeg process: raw frames in through a pipe, the
// sound from an unlinked raw file handed over as descriptor 3, H.264 and
// AAC out.
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

std::vector<std::string> encoderCommand(const EncoderSettings& s) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    std::vector<std::string> command = {
        s.ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        // video: the composed frames, bytes B, G, R, unused
        "-thread_queue_size", "64", "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", size, "-framerate",
        std::to_string(s.fps), "-i", "pipe:0",
        // sound: interleaved stereo float
        "-thread_queue_size", "1024", "-f", "f32le", "-ar", std::to_string(kSampleRate), "-ac",
        std::to_string(kChannels), "-i", "pipe:3", "-map", "0:v:0", "-map", "1:a:0", "-vf",
        "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264", "-pix_fmt", "yuv420p",
        "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-c:a", "aac",
        "-b:a", "192k", "-movflags", "+faststart"};
    if (!s.format.empty()) {
        command.push_back("-f");
        command.push_back(s.format);
    }
    command.push_back(s.output);
    return command;
}

namespace {

// Offset of the extension's dot in path, or npos: a dot inside the last
// name and not at its start (".mp4" alone is a hidden file's name).
std::size_t extensionDot(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > base && dot + 1 < path.size() ? dot
                                                                           : std::string::npos;
}

} // namespace

std::string formatFor(const std::string& path) {
    return extensionDot(path) == std::string::npos ? "mp4" : "";
}

std::string partialName(const std::string& path, const std::string& tag) {
    const std::size_t dot = extensionDot(path);
    if (dot == std::string::npos) return path + ".partial-" + tag;
    return path.substr(0, dot) + ".partial-" + tag + path.substr(dot);
}

std::string startEncoder(Encoder& encoder, const EncoderSettings& settings) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::strerror(errno);
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20); // fewer, larger hand-overs; a smaller pipe works too

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, settings.soundFd, 3);
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

    const std::vector<std::string> command = encoderCommand(settings);
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, settings.ffmpeg.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        return std::strerror(rc);
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

namespace {

int waitFor(int pid, bool killOnStop) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
        if (killOnStop && stopRequested()) kill(pid, SIGKILL);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

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
