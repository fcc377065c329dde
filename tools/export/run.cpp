// run.cpp -- the kva-export program: arguments, a still or the whole video,
// progress on a terminal, and a clean stop on Ctrl+C.
#include "export/export.h"

#include "assets/lookup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace exporter {
namespace {

volatile sig_atomic_t stopFlag = 0;

void onStopSignal(int) {
    stopFlag = 1;
}

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

int fail(const std::string& message) {
    std::fprintf(stderr, "kva-export: %s\n", message.c_str());
    return kExitFailed;
}

using Clock = std::chrono::steady_clock;

// Rewrites one line on standard error, at most four times a second, and
// only on a terminal.
// The rate and time left count from the first frame, not from the sound
// rendered before it.
struct Progress {
    bool enabled = isatty(STDERR_FILENO) == 1;
    std::int64_t total = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point last = start;

    void begin(std::int64_t frames) {
        total = frames;
        start = last = Clock::now();
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    void update(std::int64_t done) {
        if (!enabled) return;
        const Clock::time_point now = Clock::now();
        if (done < total && now - last < std::chrono::milliseconds(250)) return;
        last = now;
        std::fprintf(stderr, "\r%s\033[K", progressLine(done, total, elapsed()).c_str());
    }
    void finish() {
        if (enabled) std::fputs("\r\033[K", stderr);
    }
};

// Frames the show presents at fps, counted with the show's own step on a
// one-pixel target with no pictures.
std::int64_t countFrames(std::int32_t fps) {
    canvas::PixelWord word = 0;
    const canvas::Image tiny{1, 1, &word, 0};
    return composeShow(show::Pictures{}, fps, tiny, [](canvas::Image) { return true; });
}

// Creates the partial file before any work is done, which proves the
// output's folder writable; an existing output must be a file.
std::string createPartial(const std::string& output, const std::string& partial) {
    struct stat st {};
    if (stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    return {};
}

// Gives a finished partial file the output's name, or on failure removes
// it and says why; whatever was under that name stays until the rename.
std::string publish(const std::string& partial, const std::string& output) {
    if (std::rename(partial.c_str(), output.c_str()) == 0) return {};
    const std::string reason = std::strerror(errno);
    std::remove(partial.c_str());
    return reason;
}

// Loads the pictures and the song; false, with the places searched named on
// standard error, when not one of them was found: that would be a blank video.
bool loadFoundAssets(ShowAssets& a) {
    loadShowAssets(a);
    if (!assets::reportNothingFound("kva-export", show::kArchiveName)) return true;
    releaseShowAssets(a);
    return false;
}

int stopped() {
    std::fputs("kva-export: stopped; nothing written\n", stderr);
    return kExitStopped;
}

// Like the video, the still is written under a partial name and renamed
// when whole, so a failure or a stop never spoils a file already there.
int runStill(const Options& o) {
    const std::string partial = partialName(o.output, std::to_string(getpid()));
    std::string reason = createPartial(o.output, partial);
    if (!reason.empty()) return fail("cannot write " + o.output + ": " + reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        std::remove(partial.c_str());
        return kExitFailed;
    }
    canvas::Image target = canvas::createImage(show::kWidth, show::kHeight);
    composeStill(a.pictures, stillSteps(o.stillSeconds), target);
    if (!stopRequested()) reason = writePng(partial, target, o.scale, false);
    canvas::releaseImage(target);
    releaseShowAssets(a);
    if (stopRequested() || !reason.empty()) std::remove(partial.c_str());
    if (stopRequested()) return stopped();
    if (reason.empty()) reason = publish(partial, o.output);
    if (!reason.empty()) return fail("cannot write " + o.output + ": " + reason);
    return 0;
}

// The sound track written to an unlinked temporary file, rewound for ffmpeg.
FILE* writeSound(const SoundTrack& track, std::string& reason) {
    FILE* file = std::tmpfile();
    if (!file) {
        reason = std::strerror(errno);
        return nullptr;
    }
    const std::size_t n = track.samples.size();
    if (std::fwrite(track.samples.data(), sizeof(float), n, file) != n || std::fflush(file) != 0) {
        reason = std::strerror(errno);
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    return file;
}

struct VideoJob {
    const Options& o;
    std::string partial; // what ffmpeg writes; renamed to the output when complete
    Encoder encoder;
    std::vector<canvas::PixelWord> frame; // the latest presented frame, upscaled
    std::size_t frameBytes = 0;
    Progress progress;
    std::int64_t written = 0;

    bool send() {
        if (!writeAll(encoder.input, frame.data(), frameBytes)) return false;
        progress.update(++written);
        return !stopRequested();
    }
};

// Composes every frame into the encoder, then holds the last one for the
// ending. False when the encoder went away or a stop was asked for.
bool feedFrames(VideoJob& job, const show::Pictures& pictures, std::int64_t holdFrames) {
    canvas::Image target = canvas::createImage(show::kWidth, show::kHeight);
    bool ok = true;
    composeShow(pictures, job.o.fps, target, [&](canvas::Image image) {
        upscale(image, job.o.scale, job.frame.data());
        return ok = job.send();
    });
    canvas::releaseImage(target);
    for (std::int64_t i = 0; ok && i < holdFrames; ++i) ok = job.send();
    return ok;
}

// Sound first (the video's length follows from it), then the encoder fed
// frame by frame. On success the partial file holds the whole video.
int encodeVideo(VideoJob& job, const ShowAssets& a, const std::string& ffmpeg) {
    const Options& o = job.o;
    const std::int64_t shown = countFrames(o.fps);
    const SoundTrack track = renderSoundTrack(a.song, soundFramesFor(shown, o.fps));
    const std::int64_t hold = videoFramesFor(track.endingFrames, o.fps);
    if (stopRequested()) return stopped();
    std::string reason;
    FILE* sound = writeSound(track, reason);
    if (!sound) return fail("cannot write the sound track to a temporary file: " + reason);

    const EncoderSettings settings{ffmpeg,
                                   job.partial,
                                   formatFor(o.output),
                                   fileno(sound),
                                   show::kWidth * o.scale,
                                   show::kHeight * o.scale,
                                   o.fps};
    reason = startEncoder(job.encoder, settings);
    std::fclose(sound); // ffmpeg holds its own descriptor now
    if (!reason.empty()) return fail("cannot start " + ffmpeg + ": " + reason);

    job.frame.assign(std::size_t(settings.width) * std::size_t(settings.height), 0);
    job.frameBytes = job.frame.size() * sizeof(canvas::PixelWord);
    job.progress.begin(shown + hold);
    const bool fed = feedFrames(job, a.pictures, hold);
    job.progress.finish();
    if (stopRequested()) {
        killEncoder(job.encoder);
        return stopped();
    }
    const int status = finishEncoder(job.encoder);
    if (stopRequested()) return stopped();
    if (!fed || status != 0)
        return fail("ffmpeg failed (exit status " + std::to_string(status) + "); " + o.output +
                    " not written");
    return 0;
}

int runVideo(const Options& o) {
    const Clock::time_point start = Clock::now();
    const std::string ffmpeg = findProgram("ffmpeg");
    if (ffmpeg.empty()) return fail("ffmpeg not found on PATH (install the Debian package ffmpeg)");
    VideoJob job{o, partialName(o.output, std::to_string(getpid())), {}, {}, 0, {}, 0};
    std::string reason = createPartial(o.output, job.partial);
    if (!reason.empty()) return fail("cannot write " + o.output + ": " + reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        std::remove(job.partial.c_str());
        return kExitFailed;
    }
    int status = encodeVideo(job, a, ffmpeg);
    releaseShowAssets(a);
    if (status != 0) {
        std::remove(job.partial.c_str());
        return status;
    }
    reason = publish(job.partial, o.output);
    if (!reason.empty()) return fail("cannot write " + o.output + ": " + reason);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "kva-export: wrote %s (%lld frames at %d fps, %dx%d, in %.1f s)\n",
                 o.output.c_str(), static_cast<long long>(job.written), o.fps,
                 show::kWidth * o.scale, show::kHeight * o.scale, seconds);
    return 0;
}

} // namespace

bool stopRequested() {
    return stopFlag != 0;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocked write returns and sees the flag
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

std::string progressLine(std::int64_t done, std::int64_t total, double elapsedSeconds) {
    const double fraction = total > 0 ? double(done) / double(total) : 1.0;
    const double fps = elapsedSeconds > 0.0 ? double(done) / elapsedSeconds : 0.0;
    const double left = fps > 0.0 ? double(total - done) / fps : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "kva-export: %3d%%  %lld/%lld frames  %.0f fps  %.0f s left",
                  int(fraction * 100.0), static_cast<long long>(done),
                  static_cast<long long>(total), fps, left);
    return line;
}

int runExport(int argc, const char* const* argv) {
    const ParsedArgs parsed = parseArgs(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kva-export: %s\n", parsed.error.c_str());
        return kExitUsage;
    }
    const Options& o = parsed.options;
    switch (o.mode) {
    case Mode::Help:
        std::fputs(helpText(), stdout);
        return 0;
    case Mode::Version:
        std::puts(kVersion);
        return 0;
    case Mode::Still:
    case Mode::Video:
        break;
    }
    installStopHandlers();
    return o.mode == Mode::Still ? runStill(o) : runVideo(o);
}

} // namespace exporter
