// plan.h -- the frames of an export: how many, each placed in the output's
// size, and where the lyrics begin (the chapters).
#pragma once

#include "export/compose.h"
#include "export/options.h"
#include "export/sound.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace exporter {

// The frames the show presents, then the last one held for the ending of
// the song; --frames cuts both short, the sound with them.
struct FramePlan {
    std::int64_t shown = 0, held = 0;
    SoundTrack sound;
    std::int64_t total() const { return shown + held; }
};
FramePlan planFrames(const Options& o, const assets::FileBlob& song);

// The frame placed in the output's size.
struct Placed {
    Framing framing;
    std::vector<canvas::PixelWord> words;
    explicit Placed(const Options& o);
    canvas::Image image() { return {framing.width, framing.height, words.data(), 0}; }
};

// Composes every planned frame into placed and calls onFrame; stops when
// onFrame returns false or a stop is asked for. True when all were done.
bool composeFrames(const Options& o, const show::Pictures& pictures, const FramePlan& plan,
                   Placed& placed, const std::function<bool()>& onFrame);

// A lyric entering: the first frame that shows it, and its picture's name
// without ".png" ("vers_1").
struct Chapter {
    std::int64_t frame = 0;
    std::string title;
};
std::vector<Chapter> lyricChapters(std::int32_t fps, std::int64_t frames);

// The chapters as an ffmetadata file: each from its frame's time to the
// next one's (the last to the end, frames at fps).
std::string chapterText(const std::vector<Chapter>& chapters, std::int32_t fps,
                        std::int64_t frames);

} // namespace exporter
