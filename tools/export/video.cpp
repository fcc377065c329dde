// video.cpp -- the show as a video through ffmpeg: the settings proven on
// one frame, every frame fed through a pipe (a GIF twice: palette, then
// picture), and the file checked whole before it takes the output's name.
#include "export/check.h"
#include "export/codecs.h"
#include "export/encoder.h"
#include "export/plan.h"
#include "export/progress.h"
#include "export/runs.h"
#include "export/stop.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace exporter {
namespace {

using Clock = std::chrono::steady_clock;

struct VideoJob {
    VideoJob(const Options& options, Container c) : o(options), container(c) {}
    const Options& o;
    Container container;
    OutputTarget target;
    std::string ffmpeg;
    Progress progress;
    std::int64_t written = 0;
};

// bytes in an unlinked temporary file, rewound for ffmpeg; null on failure.
std::FILE* temporaryWith(const void* bytes, std::size_t count, std::string& reason) {
    std::FILE* file = std::tmpfile();
    if (file && std::fwrite(bytes, 1, count, file) == count && std::fflush(file) == 0) {
        std::rewind(file);
        return file;
    }
    reason = std::strerror(errno);
    if (file) std::fclose(file);
    return nullptr;
}

// H.264 and VP9 without --lossless take the frames as 4:2:0 planes made
// here; the others take them as composed.
bool wantsYuv(const Options& o, Container c) {
    return !o.lossless && c != Container::Gif;
}

FileShape shapeOf(Container c) {
    switch (c) {
    case Container::Mp4:
    case Container::Mov:
        return FileShape::Mp4;
    case Container::Mkv:
    case Container::WebM:
        return FileShape::Matroska;
    case Container::Gif:
        return FileShape::Gif;
    case Container::PngFrames:
        break;
    }
    return FileShape::Any;
}

// Why an encoder run failed, in one line.
std::string encoderFailure(const Encoder& e, int status, const std::string& complaint) {
    if (e.stalled)
        return "ffmpeg took nothing for " + std::to_string(stallSeconds()) + " s and was stopped";
    if (!complaint.empty()) return "ffmpeg failed: " + complaint;
    return "ffmpeg failed (exit status " + std::to_string(status) + ")";
}

// One run of ffmpeg fed every planned frame. Returns 0, or the exit status.
int encodePass(VideoJob& job, const ShowAssets& a, const FramePlan& plan, EncoderSettings settings,
               bool yuv) {
    const Options& o = job.o;
    Encoder encoder;
    settings.frames = rawFrameInput(o.width, o.height, o.fps, yuv);
    const std::string reason = startEncoder(encoder, settings);
    if (!reason.empty()) return fail("cannot start " + job.ffmpeg + ": " + reason);

    Placed placed(o);
    std::vector<std::uint8_t> planes(yuv ? placed.words.size() * 3 / 2 : 0);
    composeFrames(o, a.pictures, plan, placed, [&]() {
        const void* bytes = placed.words.data();
        std::size_t count = placed.words.size() * sizeof(canvas::PixelWord);
        if (yuv) {
            toYuv420(placed.words.data(), o.width, o.height, planes.data());
            bytes = planes.data();
            count = planes.size();
        }
        if (!feedEncoder(encoder, bytes, count)) return false;
        job.progress.update(++job.written);
        return true;
    });
    if (stopRequested()) {
        killEncoder(encoder);
        return stopped(leftIn(job.target));
    }
    std::string complaint;
    const int status = finishEncoder(encoder, job.target.partial, complaint);
    if (stopRequested()) return stopped(leftIn(job.target));
    // Anything ffmpeg says at this log level is a failure, even with status
    // 0: a trailer it could not write is only reported.
    if (status == 0 && complaint.empty() && !encoder.stalled) return 0;
    return fail(encoderFailure(encoder, status, complaint) + "; " + o.output + " not written");
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
    first.output = fileUrl(palette);
    first.outputFd = -1;
    int status = encodePass(job, a, plan, first, false);
    if (status == 0) {
        EncoderSettings second = base;
        second.second = {"-i", fileUrl(palette)};
        status = encodePass(job, a, plan, second, false);
    }
    unlink(palette.c_str());
    rmdir(folder);
    return status;
}

// The sound on descriptor 3 and, where the container keeps them, the
// lyrics' chapters on descriptor 4.
int encodeWithSound(VideoJob& job, const ShowAssets& a, const FramePlan& plan,
                    EncoderSettings settings) {
    std::string reason;
    std::FILE* sound =
        temporaryWith(plan.sound.samples.data(), plan.sound.samples.size() * sizeof(float), reason);
    if (!sound) return fail("cannot write the sound track to a temporary file: " + reason);
    settings.second = rawSoundInput();
    settings.soundFd = fileno(sound);
    std::FILE* chapters = nullptr;
    const bool streamed = job.target.direct() && job.container != Container::Mkv;
    if (hasChapters(job.container) && !streamed) {
        const std::string text =
            chapterText(lyricChapters(job.o.fps, plan.total()), job.o.fps, plan.total());
        chapters = temporaryWith(text.data(), text.size(), reason);
        if (!chapters) {
            std::fclose(sound);
            return fail("cannot write the chapters to a temporary file: " + reason);
        }
        settings.chapters = chapterInput();
        settings.chaptersFd = fileno(chapters);
    }
    const int status = encodePass(job, a, plan, settings, wantsYuv(job.o, job.container));
    std::fclose(sound);
    if (chapters) std::fclose(chapters);
    return status;
}

int encodeVideo(VideoJob& job, const ShowAssets& a, const EncoderSettings& settings) {
    const FramePlan plan = planFrames(job.o, a.song);
    if (stopRequested()) return stopped();
    const bool gif = job.container == Container::Gif;
    job.progress.begin(plan.total() * (gif ? 2 : 1));
    const int status =
        gif ? encodeGif(job, a, plan, settings) : encodeWithSound(job, a, plan, settings);
    job.progress.finish();
    if (gif) job.written /= 2;
    return status;
}

// The encoder's settings, proven on one black frame into the output itself
// (a file's partial file; a stream's muxer into nothing) before anything
// else.
std::string settingsFor(VideoJob& job, EncoderSettings& settings) {
    settings.ffmpeg = job.ffmpeg;
    settings.outputArgs = codecArguments(job.o, job.container);
    const std::vector<std::string> tags = tagArguments(job.container);
    settings.outputArgs.insert(settings.outputArgs.end(), tags.begin(), tags.end());
    const bool file = !job.target.direct();
    const std::vector<std::string> muxer = muxerArguments(job.container, file);
    settings.outputArgs.insert(settings.outputArgs.end(), muxer.begin(), muxer.end());
    settings.output = file ? fileUrl(job.target.partial) : "pipe:1";
    const std::string reason = probeEncoder(settings, job.o.width, job.o.height, job.o.fps,
                                            job.container != Container::Gif);
    return reason.empty() ? "" : "ffmpeg cannot make it: " + reason;
}

// Finds the output and proves the settings; a FIFO is opened last, as
// that waits for its reader.
std::string prepareOutput(VideoJob& job, EncoderSettings& settings) {
    std::string reason = resolveOutput(job.o.output, job.o.noClobber, job.target);
    const bool file = !job.target.direct();
    if (reason.empty() && file) {
        removeStalePartials(job.target.path);
        reason = openOutput(job.target, processTag());
    }
    if (reason.empty()) reason = settingsFor(job, settings);
    if (reason.empty() && !file) reason = openOutput(job.target, processTag());
    if (!reason.empty()) abandonOutput(job.target);
    settings.outputFd = job.target.fd;
    return reason;
}

} // namespace

int runVideo(const Options& o, Container container) {
    const Clock::time_point start = Clock::now();
    VideoJob job(o, container);
    job.ffmpeg = findProgram("ffmpeg");
    if (job.ffmpeg.empty())
        return fail("ffmpeg not found on PATH (install the Debian package ffmpeg)");
    EncoderSettings settings;
    const std::string reason = prepareOutput(job, settings);
    if (stopRequested()) return stopped();
    if (!reason.empty()) return cannotWrite(o.output, reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        abandonOutput(job.target);
        return kExitFailed;
    }
    int status = encodeVideo(job, a, settings);
    releaseShowAssets(a);
    std::string wrong;
    if (status == 0 && !job.target.direct())
        wrong = checkWholeFile(job.target.partial, shapeOf(container));
    if (status != 0 || !wrong.empty()) {
        abandonOutput(job.target);
        return status != 0 ? status
                           : fail("ffmpeg left an incomplete file (" + wrong + "); " + o.output +
                                  " not written");
    }
    const std::string why = publishOutput(job.target, o.noClobber);
    if (!why.empty()) return cannotWrite(o.output, why);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "kva-export: wrote %s (%lld frames at %d fps, %dx%d, in %.1f s)\n",
                 o.output.c_str(), static_cast<long long>(job.written), o.fps, o.width, o.height,
                 seconds);
    return 0;
}

} // namespace exporter
