// formats.cpp -- the container from --format or the output's name, the
// options checked against it, and the frame's place in the output.
#include "export/formats.h"

#include "export/names.h"
#include "show/show.h"

#include <algorithm>

namespace exporter {
namespace {

struct Named {
    const char* name;
    Container container;
};
constexpr Named kContainers[] = {{"mp4", Container::Mp4},
                                 {"mov", Container::Mov},
                                 {"mkv", Container::Mkv},
                                 {"webm", Container::WebM},
                                 {"gif", Container::Gif}};

bool byName(const std::string& name, Container& container) {
    for (const Named& n : kContainers) {
        if (name == n.name) {
            container = n.container;
            return true;
        }
    }
    return false;
}

constexpr const char* kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                        "medium",    "slow",      "slower",   "veryslow"};

bool isH264(Container c) {
    return c == Container::Mp4 || c == Container::Mov || c == Container::Mkv;
}

} // namespace

Framing framingFor(std::int32_t width, std::int32_t height) {
    Framing f;
    f.width = width;
    f.height = height;
    f.scale = std::max<std::int32_t>(1, std::min(width / show::kWidth, height / show::kHeight));
    f.left = (width - show::kWidth * f.scale) / 2;
    f.top = (height - show::kHeight * f.scale) / 2;
    return f;
}

bool containerFor(const Options& o, Container& container, std::string& reason) {
    if (!o.format.empty()) {
        if (isFramePattern(o.output)) {
            reason = "--format does not apply to a PNG sequence";
            return false;
        }
        if (byName(o.format, container)) return true;
        reason = "unknown --format '" + o.format + "' (use mp4, mov, mkv, webm or gif)";
        return false;
    }
    if (o.output == "-") {
        container = Container::Mkv; // streams without seeking back
        return true;
    }
    const std::string ext = lowerExtension(o.output);
    if (ext.empty()) {
        container = Container::Mp4;
        return true;
    }
    if (ext == "png") {
        container = Container::PngFrames;
        if (isFramePattern(o.output)) return true;
        reason =
            "a video as PNG needs a pattern such as frames/%05d.png (--still writes one frame)";
        return false;
    }
    if (byName(ext, container)) return true;
    reason = "unknown extension '." + ext +
             "' (use .mp4, .mov, .mkv, .webm, .gif or a pattern such as frames/%05d.png)";
    return false;
}

std::string checkQuality(const Options& o, Container c) {
    if (o.lossless && (c == Container::WebM || c == Container::Gif))
        return "--lossless needs .mkv, .mp4, .mov or a PNG sequence";
    if (o.lossless && o.crf >= 0) return "--crf does not go with --lossless";
    if (o.crf >= 0 && !isH264(c) && c != Container::WebM)
        return "--crf applies to H.264 (.mp4, .mov, .mkv) and VP9 (.webm) only";
    if (o.crf > 51 && c != Container::WebM) return "--crf for H.264 is 0 to 51";
    if (!o.preset.empty()) {
        if (!isH264(c)) return "--preset applies to H.264 (.mp4, .mov, .mkv) only";
        if (std::find_if(std::begin(kX264Presets), std::end(kX264Presets),
                         [&](const char* p) { return o.preset == p; }) == std::end(kX264Presets))
            return "--preset must be one of ultrafast, superfast, veryfast, faster, fast, "
                   "medium, slow, slower, veryslow, not '" +
                   o.preset + "'";
    }
    if (c == Container::Gif && o.fps > 30) return "a GIF has at most 30 frames a second";
    return {};
}

std::string checkVideoOptions(Options& o, Container& container) {
    std::string reason;
    if (!containerFor(o, container, reason)) return reason;
    if (container == Container::Gif && !o.fpsGiven) o.fps = 30;
    if (o.sound && container != Container::PngFrames)
        return "--sound applies to a PNG sequence (a video has its sound)";
    return checkQuality(o, container);
}

} // namespace exporter
