// codecs.cpp -- ffmpeg's output options of each container's codecs, its
// tags and its muxer.
#include "export/codecs.h"

namespace exporter {
namespace {

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
    // RGB as composed, nothing rounded. Several times faster than FFV1 and
    // far smaller, as most frames repeat much of the one before.
    if (o.lossless)
        return {"-c:v", "libx264rgb", "-preset", preset, "-crf", "0", "-pix_fmt", "bgr0"};
    std::vector<std::string> args = {"-c:v",    "libx264",
                                     "-preset", preset,
                                     "-crf",    std::to_string(o.crf >= 0 ? o.crf : kDefaultCrf)};
    // The default preset with what pays on a show of still pictures and
    // slowly scrolling text: arithmetic coding, runs of B-frames and a
    // keyframe every 10 s (bench/export_quality.sh; the README's table).
    if (o.preset.empty())
        append(args, {"-x264-params",
                      "cabac=1:bframes=8:b-adapt=0:keyint=" + std::to_string(10 * o.fps)});
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
        if (o.lossless) { // the sound exact too
            args = h264(o);
            append(args, {"-c:a", "flac"});
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

bool hasChapters(Container c) {
    return c == Container::Mp4 || c == Container::Mov || c == Container::Mkv;
}

std::vector<std::string> tagArguments(Container c) {
    if (!hasChapters(c)) return {};
    // Matroska keeps encoding_tool as its writing application; MP4 and MOV as
    // their encoder tag.
    return {"-metadata", "title=KVA", "-metadata", std::string("encoding_tool=") + kVersion};
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
