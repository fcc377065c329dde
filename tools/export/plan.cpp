// plan.cpp -- the frames of an export and the lyrics' chapters, counted
// with the show's own step.
#include "export/plan.h"

#include "export/stop.h"

#include <algorithm>

namespace exporter {
namespace {

// The show's own step at 1/fps on a one-pixel target with no pictures;
// watch sees the state after each frame until it returns false.
void stepEmptyShow(std::int32_t fps, const std::function<bool(const show::ShowState&)>& watch) {
    canvas::PixelWord word = 0;
    const canvas::Image tiny{1, 1, &word, 0};
    const show::Pictures none{};
    show::ShowState state;
    show::initShowState(state);
    const float delta = 1.0f / static_cast<float>(fps);
    while (show::stepShow(state, delta, none, tiny) && watch(state)) {
    }
}

// Each lyric's picture in the load order of show::kPictureNames.
constexpr int kLyricPicture[6] = {-1, 8, 6, 7, 9, 10};

std::string titleOf(std::int32_t lyric) {
    std::string name = show::kPictureNames[kLyricPicture[lyric]];
    return name.substr(0, name.rfind('.'));
}

} // namespace

FramePlan planFrames(const Options& o, const assets::FileBlob& song) {
    FramePlan plan;
    stepEmptyShow(o.fps, [&](const show::ShowState&) { return ++plan.shown, true; });
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

Placed::Placed(const Options& o)
    : framing(framingFor(o.width, o.height)), words(std::size_t(o.width) * std::size_t(o.height)) {}

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

std::vector<Chapter> lyricChapters(std::int32_t fps, std::int64_t frames) {
    std::vector<Chapter> chapters;
    std::int32_t lyric = 0, x = 0;
    std::int64_t frame = 0;
    stepEmptyShow(fps, [&](const show::ShowState& s) {
        // A cue restarts the lyric at the right edge: a new lyric, or the
        // same one further right than it was.
        if (s.lyric != 0 && (s.lyric != lyric || s.lyricX > x))
            chapters.push_back({frame, titleOf(s.lyric)});
        lyric = s.lyric;
        x = s.lyricX;
        return ++frame < frames;
    });
    return chapters;
}

std::string chapterText(const std::vector<Chapter>& chapters, std::int32_t fps,
                        std::int64_t frames) {
    std::string text = ";FFMETADATA1\n";
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const std::int64_t end = i + 1 < chapters.size() ? chapters[i + 1].frame : frames;
        text += "[CHAPTER]\nTIMEBASE=1/" + std::to_string(fps) +
                "\nSTART=" + std::to_string(chapters[i].frame) + "\nEND=" + std::to_string(end) +
                "\ntitle=" + chapters[i].title + "\n";
    }
    return text;
}

} // namespace exporter
