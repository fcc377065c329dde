// run.cpp -- the kva-export program: arguments, a still or the whole video,
// progress on a terminal, and a clean stop on Ctrl+C.
#include "export/export.h"

#include "assets/lookup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

int cannotWrite(const std::string& typed, const std::string& reason) {
    return fail("cannot write " + typed + ": " + reason);
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

std::string pid() {
    return std::to_string(getpid());
}

// Finds and opens the output named name; on failure says so, naming what
// was typed, and gives false.
bool prepare(const std::string& name, const std::string& typed, bool noClobber,
             OutputTarget& target, int& status) {
    std::string reason = resolveOutput(name, noClobber, target);
    if (reason.empty()) reason = openOutput(target, pid());
    if (reason.empty()) return true;
    status = cannotWrite(typed, reason);
    return false;
}

// Writes through write into target, then gives it its name.
std::string finishTarget(OutputTarget& target, bool noClobber,
                         const std::function<std::string(std::FILE*)>& write) {
    std::string reason = writeTarget(target, write);
    if (!reason.empty() || stopRequested()) {
        abandonOutput(target);
        return reason;
    }
    return publishOutput(target, noClobber);
}

// A still is a PNG: a name with another extension (or none, unless it is a
// FIFO, a device or standard output) is refused before anything is done.
std::string checkStillName(const OutputTarget& target) {
    const std::string ext = lowerExtension(target.typed);
    if (ext == "png" || (ext.empty() && target.direct())) return {};
    return "a still is written as PNG; name it .png";
}

// The frame placed in the output's size.
struct Placed {
    Framing framing;
    std::vector<canvas::PixelWord> words;
    explicit Placed(const Options& o)
        : framing(framingFor(o.width, o.height)),
          words(std::size_t(o.width) * std::size_t(o.height)) {}
    canvas::Image image() { return {framing.width, framing.height, words.data(), 0}; }
};

int runStill(const Options& o) {
    OutputTarget target;
    std::string reason = resolveOutput(o.output, o.noClobber, target);
    if (reason.empty()) reason = checkStillName(target);
    if (reason.empty()) reason = openOutput(target, pid());
    if (!reason.empty()) return cannotWrite(o.output, reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        abandonOutput(target);
        return kExitFailed;
    }
    canvas::Image frame = canvas::createImage(show::kWidth, show::kHeight);
    composeStill(a.pictures, stillSteps(o.stillSeconds), frame);
    Placed placed(o);
    place(frame, placed.framing, placed.words.data());
    canvas::releaseImage(frame);
    releaseShowAssets(a);
    if (stopRequested()) {
        abandonOutput(target);
        return stopped();
    }
    reason = finishTarget(target, o.noClobber,
                          [&](std::FILE* file) { return writePng(file, placed.image()); });
    if (stopRequested()) return stopped();
    return reason.empty() ? 0 : cannotWrite(o.output, reason);
}

// How many frames an export has: those the show presents, then the last
// one held for the ending of the song; --frames cuts both short.
struct FramePlan {
    std::int64_t shown = 0, held = 0;
    SoundTrack sound;
    std::int64_t total() const { return shown + held; }
};

FramePlan planFrames(const Options& o, const assets::FileBlob& song) {
    FramePlan plan;
    plan.shown = countFrames(o.fps);
    if (o.maxFrames >= 0) plan.shown = std::min(plan.shown, o.maxFrames);
    plan.sound = renderSoundTrack(song, soundFramesFor(plan.shown, o.fps));
    plan.held = videoFramesFor(plan.sound.endingFrames, o.fps);
    if (o.maxFrames >= 0) {
        plan.held = std::min(plan.held, o.maxFrames - plan.shown);
        const std::size_t samples = std::size_t(soundFramesFor(plan.total(), o.fps)) * kChannels;
        if (plan.sound.samples.size() > samples) plan.sound.samples.resize(samples);
    }
    return plan;
}

// Composes every planned frame, placed in the output's size, and hands it
// to onFrame; stops when onFrame returns false.
bool composeFrames(const Options& o, const show::Pictures& pictures, const FramePlan& plan,
                   Placed& placed, const std::function<bool()>& onFrame) {
    canvas::Image target = canvas::createImage(show::kWidth, show::kHeight);
    bool ok = true;
    std::int64_t n = 0;
    composeShow(pictures, o.fps, target, [&](canvas::Image image) {
        if (n++ >= plan.shown) return false;
        place(image, placed.framing, placed.words.data());
        return ok = onFrame();
    });
    canvas::releaseImage(target);
    for (std::int64_t i = 0; ok && i < plan.held; ++i) ok = onFrame();
    return ok && !stopRequested();
}

// ---- a PNG sequence ----

int runFrames(const Options& o) {
    // Proves the first frame's name and the sound's writable before the
    // first frame is composed.
    OutputTarget first, wav;
    int status = 0;
    if (!prepare(frameName(o.output, 1), o.output, o.noClobber, first, status)) return status;
    abandonOutput(first);
    const std::size_t slash = o.output.rfind('/');
    const std::string wavName =
        (slash == std::string::npos ? "" : o.output.substr(0, slash + 1)) + "sound.wav";
    if (o.sound && !prepare(wavName, wavName, o.noClobber, wav, status)) return status;

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        if (o.sound) abandonOutput(wav);
        return kExitFailed;
    }
    const FramePlan plan = planFrames(o, a.song);
    Placed placed(o);
    Progress progress;
    progress.begin(plan.total());
    std::int64_t number = 0;
    std::string failed;
    const bool done = composeFrames(o, a.pictures, plan, placed, [&]() {
        const std::string name = frameName(o.output, ++number);
        OutputTarget frame;
        std::string reason = resolveOutput(name, o.noClobber, frame);
        if (reason.empty()) reason = openOutput(frame, pid());
        if (reason.empty())
            reason = finishTarget(frame, o.noClobber,
                                  [&](std::FILE* file) { return writePng(file, placed.image()); });
        if (!reason.empty()) failed = "cannot write " + name + ": " + reason;
        progress.update(number);
        return reason.empty() && !stopRequested();
    });
    progress.finish();
    releaseShowAssets(a);
    if (o.sound && done) {
        const std::string reason = finishTarget(
            wav, o.noClobber, [&](std::FILE* file) { return writeWav(file, plan.sound.samples); });
        if (!reason.empty()) failed = "cannot write " + wavName + ": " + reason;
    } else if (o.sound) {
        abandonOutput(wav);
    }
    if (stopRequested()) return stopped();
    if (!failed.empty()) return fail(failed);
    std::fprintf(stderr, "kva-export: wrote %lld frames as %s\n", static_cast<long long>(number),
                 o.output.c_str());
    return 0;
}

// ---- a video through ffmpeg ----

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

// H.264 and VP9 without --lossless take the frames as 4:2:0 planes made
// here; the others take them as composed.
bool wantsYuv(const Options& o, Container c) {
    return !o.lossless && c != Container::Gif;
}

struct VideoJob {
    const Options& o;
    Container container;
    OutputTarget target;
    std::string ffmpeg;
    Progress progress;
    std::int64_t written = 0;
};

// One run of ffmpeg fed every planned frame. Returns 0, or the exit status.
int encodePass(VideoJob& job, const ShowAssets& a, const FramePlan& plan, EncoderSettings settings,
               bool yuv) {
    const Options& o = job.o;
    Encoder encoder;
    settings.frames = rawFrameInput(o.width, o.height, o.fps, yuv);
    std::string reason = startEncoder(encoder, settings);
    if (!reason.empty()) return fail("cannot start " + job.ffmpeg + ": " + reason);

    Placed placed(o);
    std::vector<std::uint8_t> planes(yuv ? placed.words.size() * 3 / 2 : 0);
    const bool fed = composeFrames(o, a.pictures, plan, placed, [&]() {
        const void* bytes = placed.words.data();
        std::size_t count = placed.words.size() * sizeof(canvas::PixelWord);
        if (yuv) {
            toYuv420(placed.words.data(), o.width, o.height, planes.data());
            bytes = planes.data();
            count = planes.size();
        }
        if (!writeAll(encoder.input, bytes, count)) return false;
        job.progress.update(++job.written);
        return true;
    });
    if (stopRequested()) {
        killEncoder(encoder);
        return stopped();
    }
    const int status = finishEncoder(encoder);
    if (stopRequested()) return stopped();
    if (!fed || status != 0)
        return fail("ffmpeg failed (exit status " + std::to_string(status) + "); " + o.output +
                    " not written");
    return 0;
}

// A GIF's palette is made from the whole clip first, into a temporary
// folder, then used for the second pass.
int encodeGif(VideoJob& job, const ShowAssets& a, const FramePlan& plan,
              const EncoderSettings& base) {
    char folder[] = "/tmp/kva-export-XXXXXX";
    if (!mkdtemp(folder))
        return fail(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    const std::string palette = std::string(folder) + "/palette.png";
    EncoderSettings first = base;
    first.outputArgs = {"-vf", "palettegen", "-f", "image2", "-update", "1"};
    first.output = palette;
    first.outputFd = -1;
    int status = encodePass(job, a, plan, first, false);
    if (status == 0) {
        EncoderSettings second = base;
        second.second = {"-i", palette};
        status = encodePass(job, a, plan, second, false);
    }
    unlink(palette.c_str());
    rmdir(folder);
    return status;
}

int encodeVideo(VideoJob& job, const ShowAssets& a, const EncoderSettings& settings) {
    const Options& o = job.o;
    const FramePlan plan = planFrames(o, a.song);
    if (stopRequested()) return stopped();
    const bool gif = job.container == Container::Gif;
    job.progress.begin(plan.total() * (gif ? 2 : 1));
    int status = 0;
    if (gif) {
        status = encodeGif(job, a, plan, settings);
    } else {
        std::string reason;
        FILE* sound = writeSound(plan.sound, reason);
        if (!sound) return fail("cannot write the sound track to a temporary file: " + reason);
        EncoderSettings withSound = settings;
        withSound.second = rawSoundInput();
        withSound.soundFd = fileno(sound);
        status = encodePass(job, a, plan, withSound, wantsYuv(o, job.container));
        std::fclose(sound);
    }
    job.progress.finish();
    if (gif) job.written /= 2;
    return status;
}

// The encoder's settings, proven on one black frame before anything else.
std::string settingsFor(VideoJob& job, EncoderSettings& settings) {
    const Options& o = job.o;
    settings.ffmpeg = job.ffmpeg;
    settings.outputArgs = codecArguments(o, job.container);
    EncoderSettings probe = settings;
    const std::vector<std::string> streamed = muxerArguments(job.container, false);
    probe.outputArgs.insert(probe.outputArgs.end(), streamed.begin(), streamed.end());
    const std::string reason =
        probeEncoder(probe, o.width, o.height, o.fps, job.container != Container::Gif);
    if (!reason.empty()) return "ffmpeg cannot make it: " + reason;
    const std::vector<std::string> muxer = muxerArguments(job.container, !job.target.direct());
    settings.outputArgs.insert(settings.outputArgs.end(), muxer.begin(), muxer.end());
    return {};
}

int runVideo(Options o) {
    const Clock::time_point start = Clock::now();
    VideoJob job{o, Container::Mp4, {}, {}, {}, 0};
    std::string reason;
    if (!containerFor(o, job.container, reason)) return cannotWrite(o.output, reason);
    if (job.container == Container::Gif && !o.fpsGiven) o.fps = 30;
    if (o.sound && job.container != Container::PngFrames)
        return cannotWrite(o.output, "--sound applies to a PNG sequence (a video has its sound)");
    reason = checkQuality(o, job.container);
    if (!reason.empty()) return cannotWrite(o.output, reason);
    if (job.container == Container::PngFrames) return runFrames(o);

    job.ffmpeg = findProgram("ffmpeg");
    if (job.ffmpeg.empty())
        return fail("ffmpeg not found on PATH (install the Debian package ffmpeg)");
    reason = resolveOutput(o.output, o.noClobber, job.target);
    EncoderSettings settings;
    if (reason.empty()) reason = settingsFor(job, settings);
    if (reason.empty()) reason = openOutput(job.target, pid()); // a FIFO waits for its reader
    if (stopRequested()) return stopped();
    if (!reason.empty()) return cannotWrite(o.output, reason);
    settings.output = job.target.direct() ? "pipe:1" : job.target.partial;
    settings.outputFd = job.target.fd;

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        abandonOutput(job.target);
        return kExitFailed;
    }
    const int status = encodeVideo(job, a, settings);
    releaseShowAssets(a);
    if (status != 0) {
        abandonOutput(job.target);
        return status;
    }
    reason = publishOutput(job.target, o.noClobber);
    if (!reason.empty()) return cannotWrite(o.output, reason);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "kva-export: wrote %s (%lld frames at %d fps, %dx%d, in %.1f s)\n",
                 o.output.c_str(), static_cast<long long>(job.written), o.fps, o.width, o.height,
                 seconds);
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
