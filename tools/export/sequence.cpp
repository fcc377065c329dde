// sequence.cpp -- the show as numbered PNG files, one per frame, and its
// sound as sound.wav beside them if asked for.
#include "export/check.h"
#include "export/names.h"
#include "export/plan.h"
#include "export/progress.h"
#include "export/runs.h"
#include "export/stop.h"

#include <cstdio>

namespace exporter {
namespace {

// Finds and opens the file name (typed, for messages); gives the reason
// it cannot be written.
std::string prepare(const std::string& name, bool noClobber, OutputTarget& target) {
    std::string reason = resolveOutput(name, noClobber, target);
    return reason.empty() ? openOutput(target, processTag()) : reason;
}

// Writes through write into the opened target, checks it whole and gives
// it its name.
std::string finish(OutputTarget& target, bool noClobber, FileShape shape,
                   const std::function<std::string(std::FILE*)>& write) {
    std::string reason = writeTarget(target, write);
    if (reason.empty() && !target.direct()) reason = checkWholeFile(target.partial, shape);
    if (reason.empty() && stopRequested()) reason = "stopped";
    if (!reason.empty()) {
        abandonOutput(target);
        return reason;
    }
    return publishOutput(target, noClobber);
}

// What a stop leaves: the frames written so far, in the pattern's folder.
std::string framesLeft(std::int64_t written, const std::string& pattern) {
    if (written == 0) return "nothing written";
    const std::string folder = folderOf(pattern);
    return std::to_string(written) + (written == 1 ? " frame stays in " : " frames stay in ") +
           (folder.empty() ? "the working folder" : folder);
}

} // namespace

int runFrames(const Options& o) {
    // Proves the first frame's name and the sound's writable before the
    // first frame is composed.
    OutputTarget first, wav;
    std::string reason = prepare(frameName(o.output, 1), o.noClobber, first);
    if (!reason.empty()) return cannotWrite(o.output, reason);
    abandonOutput(first);
    const std::string wavName = folderOf(o.output) + "sound.wav";
    if (o.sound && !(reason = prepare(wavName, o.noClobber, wav)).empty())
        return cannotWrite(wavName, reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        if (o.sound) abandonOutput(wav);
        return kExitFailed;
    }
    const FramePlan plan = planFrames(o, a.song);
    Placed placed(o);
    Progress progress;
    progress.begin(plan.total());
    std::int64_t written = 0;
    std::string failed;
    const bool done = composeFrames(o, a.pictures, plan, placed, [&]() {
        const std::string name = frameName(o.output, written + 1);
        OutputTarget frame;
        std::string why = prepare(name, o.noClobber, frame);
        if (why.empty())
            why = finish(frame, o.noClobber, FileShape::Png,
                         [&](std::FILE* file) { return writePng(file, placed.image()); });
        if (why.empty())
            progress.update(++written);
        else if (!stopRequested())
            failed = "cannot write " + name + ": " + why;
        return why.empty() && !stopRequested();
    });
    progress.finish();
    releaseShowAssets(a);
    if (o.sound && done) {
        reason = finish(wav, o.noClobber, FileShape::Any,
                        [&](std::FILE* file) { return writeWav(file, plan.sound.samples); });
        if (!reason.empty() && !stopRequested()) failed = "cannot write " + wavName + ": " + reason;
    } else if (o.sound) {
        abandonOutput(wav);
    }
    if (stopRequested()) return stopped(framesLeft(written, o.output));
    if (!failed.empty()) return fail(failed + " (" + framesLeft(written, o.output) + ")");
    std::fprintf(stderr, "kva-export: wrote %lld frames as %s\n", static_cast<long long>(written),
                 o.output.c_str());
    return 0;
}

} // namespace exporter
