// formats.cpp -- what a video is written as: the container from --format
// or the output's name, the frame's place in the output, and the ffmpeg
// options of each container's codecs.
#include "export/export.h"

#include <algorithm>
#include <cctype>

namespace exporter {
std::size_t extensionDot(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > base && dot + 1 < path.size() ? dot
                                                                           : std::string::npos;
}

std::string lowerExtension(const std::string& path) {
    const std::size_t dot = extensionDot(path);
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

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

bool isH264(const Options& o, Container c) {
    return (c == Container::Mp4 || c == Container::Mov || c == Container::Mkv) &&
           !(o.lossless && c == Container::Mkv);
}

void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// The frames arrive as BT.709 limited-range 4:2:0 planes, each chroma sample
// the mean of its 2x2 block; the tags say so. Untagged, H.264 means chroma
// sited on the left column, and a player honouring that shifts every colour
// edge by half a pixel.
std::vector<std::string> yuvTags() {
    return {"-pix_fmt",
            "yuv420p",
            "-color_range",
            "tv",
            "-colorspace",
            "bt709",
            "-color_primaries",
            "bt709",
            "-color_trc",
            "bt709",
            "-chroma_sample_location",
            "center"};
}

std::vector<std::string> h264(const Options& o) {
    const std::string preset = o.preset.empty() ? kDefaultPreset : o.preset;
    if (o.lossless) // RGB as composed, nothing rounded
        return {"-c:v", "libx264rgb", "-preset", preset, "-crf", "0", "-pix_fmt", "bgr0"};
    std::vector<std::string> args = {"-c:v",    "libx264",
                                     "-preset", preset,
                                     "-crf",    std::to_string(o.crf >= 0 ? o.crf : kDefaultCrf)};
    append(args, yuvTags());
    return args;
}

std::vector<std::string> vp9(const Options& o) {
    std::vector<std::string> args = {
        "-c:v",      "libvpx-vp9", "-crf",      std::to_string(o.crf >= 0 ? o.crf : 32),
        "-b:v",      "0",          "-deadline", "realtime",
        "-cpu-used", "8",          "-row-mt",   "1"};
    append(args, yuvTags());
    return args;
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

bool isFramePattern(const std::string& path) {
    if (lowerExtension(path) != "png") return false;
    const std::size_t slash = path.rfind('/');
    int directives = 0;
    for (std::size_t i = slash == std::string::npos ? 0 : slash + 1; i < path.size(); ++i) {
        if (path[i] != '%') continue;
        if (i + 1 < path.size() && path[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        if (j + 1 < path.size() && path[j] == '0' && path[j + 1] >= '1' && path[j + 1] <= '9')
            j += 2;
        if (j >= path.size() || path[j] != 'd') return false;
        ++directives;
        i = j;
    }
    return directives == 1;
}

std::string frameName(const std::string& pattern, std::int64_t number) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
        } else if (pattern[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            std::size_t width = 0;
            if (pattern[i + 1] == '0') {
                width = std::size_t(pattern[i + 2] - '0');
                i += 2;
            }
            const std::string digits = std::to_string(number);
            if (digits.size() < width) out.append(width - digits.size(), '0');
            out += digits;
            ++i; // the 'd'
        }
    }
    return out;
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
    if (o.crf >= 0 && !isH264(o, c) && c != Container::WebM)
        return "--crf applies to H.264 (.mp4, .mov, .mkv) and VP9 (.webm) only";
    if (o.crf > 51 && c != Container::WebM) return "--crf for H.264 is 0 to 51";
    if (!o.preset.empty()) {
        if (!isH264(o, c)) return "--preset applies to H.264 (.mp4, .mov, .mkv) only";
        if (std::find_if(std::begin(kX264Presets), std::end(kX264Presets),
                         [&](const char* p) { return o.preset == p; }) == std::end(kX264Presets))
            return "--preset must be one of ultrafast, superfast, veryfast, faster, fast, "
                   "medium, slow, slower, veryslow, not '" +
                   o.preset + "'";
    }
    if (c == Container::Gif && o.fps > 30) return "a GIF has at most 30 frames a second";
    return {};
}

std::vector<std::string> codecArguments(const Options& o, Container c) {
    std::vector<std::string> args;
    switch (c) {
    case Container::Gif: // input 1 is the palette
        return {"-filter_complex", "[0:v][1:v]paletteuse", "-c:v", "gif", "-an"};
    case Container::WebM:
        args = vp9(o);
        append(args, {"-c:a", "libopus", "-b:a", "160k"});
        break;
    case Container::Mkv:
        if (o.lossless) {
            args = {"-c:v", "ffv1", "-level", "3", "-pix_fmt", "bgr0", "-c:a", "flac"};
            break;
        }
        [[fallthrough]];
    case Container::Mp4:
    case Container::Mov:
        args = h264(o);
        append(args, {"-c:a", "aac", "-b:a", "192k"});
        break;
    case Container::PngFrames:
        return {};
    }
    std::vector<std::string> mapped = {"-map", "0:v:0", "-map", "1:a:0"};
    append(mapped, args);
    return mapped;
}

std::vector<std::string> muxerArguments(Container c, bool seekable) {
    switch (c) {
    case Container::Mp4:
    case Container::Mov:
        return {"-movflags",
                seekable ? "+faststart" : "+frag_keyframe+empty_moov+default_base_moof", "-f",
                c == Container::Mp4 ? "mp4" : "mov"};
    case Container::Mkv:
        return {"-f", "matroska"};
    case Container::WebM:
        return {"-f", "webm"};
    case Container::Gif:
        return {"-f", "gif"};
    case Container::PngFrames:
        break;
    }
    return {};
}

} // namespace exporter
