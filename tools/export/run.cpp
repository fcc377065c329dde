// run.cpp -- the kva-export program: its arguments checked as a whole, its
// streams made safe, and the still, PNG sequence or video it was asked for.
#include "export/export.h"

#include "assets/lookup.h"
#include "export/names.h"
#include "export/runs.h"
#include "export/stop.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace exporter {

int fail(const std::string& message) {
    std::fprintf(stderr, "kva-export: %s\n", message.c_str());
    return kExitFailed;
}

int cannotWrite(const std::string& typed, const std::string& reason) {
    return fail("cannot write " + typed + ": " + reason);
}

int stopped(const std::string& what) {
    std::fprintf(stderr, "kva-export: stopped; %s\n", what.c_str());
    return kExitStopped;
}

std::string leftIn(const OutputTarget& t) {
    switch (t.kind) {
    case TargetKind::Fifo:
        return "output sent so far stays in the FIFO";
    case TargetKind::CharDevice:
        return "output sent so far went to the device";
    case TargetKind::Stdout:
        return "output sent so far stays on standard output";
    case TargetKind::NewFile:
    case TargetKind::File:
        break;
    }
    return "nothing written";
}

std::string processTag() {
    return std::to_string(getpid());
}

bool loadFoundAssets(ShowAssets& a) {
    loadShowAssets(a);
    if (!assets::reportNothingFound("kva-export", show::kArchiveName)) return true;
    releaseShowAssets(a);
    return false;
}

namespace {

int usage(const std::string& message) {
    std::fprintf(stderr, "kva-export: %s\n", message.c_str());
    return kExitUsage;
}

// With -o -, standard output carries the video alone: the descriptor is
// kept for it, and whatever else would be printed there goes to standard
// error instead.
bool setAsideStandardOutput() {
    std::fflush(stdout);
    const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return false;
    setStandardOutput(kept);
    return true;
}

} // namespace

int runExport(int argc, const char* const* argv, int closedStandard) {
    const ParsedArgs parsed = parseArgs(argc, argv);
    if (!parsed.error.empty()) return usage(parsed.error);
    Options o = parsed.options;
    if (o.mode == Mode::Help) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    if (o.mode == Mode::Version) {
        std::puts(kVersion);
        return 0;
    }
    Container container = Container::Mp4;
    if (o.mode == Mode::Video) {
        const std::string reason = checkVideoOptions(o, container);
        if (!reason.empty()) return usage(reason);
    } else if (const std::string ext = lowerExtension(o.output); !ext.empty() && ext != "png") {
        return usage("a still is written as PNG; name it .png, not " + o.output);
    }
    if (o.output == "-") {
        if (closedStandard & (1 << STDOUT_FILENO))
            return cannotWrite("-", "standard output is closed");
        if (!setAsideStandardOutput()) return cannotWrite("-", "standard output is unusable");
    }
    installStopHandlers();
    if (o.mode == Mode::Still) return runStill(o);
    return container == Container::PngFrames ? runFrames(o) : runVideo(o, container);
}

} // namespace exporter
