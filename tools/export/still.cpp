// still.cpp -- one frame of the show as a PNG.
#include "export/check.h"
#include "export/names.h"
#include "export/plan.h"
#include "export/runs.h"
#include "export/stop.h"

#include <cstdio>

namespace exporter {
namespace {

// The still composed and placed in the output's size.
void composePlaced(const Options& o, const show::Pictures& pictures, Placed& placed) {
    canvas::Image frame = canvas::createImage(show::kWidth, show::kHeight);
    composeStill(pictures, stillSteps(o.stillSeconds), frame);
    place(frame, placed.framing, placed.words.data());
    canvas::releaseImage(frame);
}

} // namespace

int runStill(const Options& o) {
    OutputTarget target;
    std::string reason = resolveOutput(o.output, o.noClobber, target);
    if (!reason.empty()) return cannotWrite(o.output, reason);
    if (lowerExtension(o.output).empty() && !target.direct()) {
        std::fprintf(stderr, "kva-export: a still is written as PNG; name it .png\n");
        return kExitUsage;
    }
    if (!target.direct()) removeStalePartials(target.path);
    reason = openOutput(target, processTag());
    if (!reason.empty()) return cannotWrite(o.output, reason);

    ShowAssets a;
    if (!loadFoundAssets(a)) {
        abandonOutput(target);
        return kExitFailed;
    }
    Placed placed(o);
    composePlaced(o, a.pictures, placed);
    releaseShowAssets(a);
    if (stopRequested()) {
        abandonOutput(target);
        return stopped();
    }
    reason = writeTarget(target, [&](std::FILE* file) { return writePng(file, placed.image()); });
    if (reason.empty() && !target.direct()) reason = checkWholeFile(target.partial, FileShape::Png);
    if (!reason.empty() || stopRequested()) {
        abandonOutput(target);
        if (stopRequested()) return stopped(leftIn(target));
        return cannotWrite(o.output, reason);
    }
    reason = publishOutput(target, o.noClobber);
    return reason.empty() ? 0 : cannotWrite(o.output, reason);
}

} // namespace exporter
