// show.h -- the show's timeline: cue lists and the per-frame step that
// composes one frame (the program around it is in main.cpp).
#pragma once

#include "canvas/canvas.h"
#include "show/bands.h"

#include <cstdint>

namespace show {

inline constexpr std::int32_t kWidth = 640;
inline constexpr std::int32_t kHeight = 480;
inline constexpr float kShowLength = 192.0f;

// Ascending cue times closed by a sentinel beyond the end of the show. The
// cursor stops on the sentinel: a show driven past it fires nothing more.
struct CueList {
    const float* cues = nullptr;
    std::int32_t cursor = 0;
    std::int32_t sentinel = 0; // index of the sentinel
    float current() const { return cues[cursor]; }
};

enum Pose : std::int32_t { kMiddle = 0, kRight = 1, kLeft = 2 };

// The eleven pictures by role; lyric[1] to lyric[5] as the lyric numbers
// (lyric[0] is unused).
struct Pictures {
    canvas::Image moose[3]; // by Pose
    canvas::Image sunset;   // "solnedgang.png", until 168 s
    canvas::Image greets;   // "greets.png", 168 s to 173 s
    canvas::Image credits;  // "credits.png", from 173 s
    canvas::Image lyric[6];
};

// Asset names in the order the show loads them.
inline constexpr const char* kPictureNames[11] = {
    "moose_middle.png", "moose_right.png", "moose_left.png", "solnedgang.png",
    "greets.png",       "credits.png",     "refreng_1.png",  "refreng_2.png",
    "vers_1.png",       "vers_2.png",      "mange_hoyre.png"};
inline constexpr const char* kArchiveName = "pr0n.rar";
inline constexpr const char* kSongName = "elg.mp3";

// Lists in the order they are advanced each frame.
enum CueKind : std::int32_t {
    kCueMiddle,
    kCueRight,
    kCueLeft,
    kCueLyric1,
    kCueLyric2,
    kCueLyric3,
    kCueLyric4,
    kCueLyric5,
    kCueCount
};

struct ShowState {
    float showTime = 0.0f;
    std::int32_t pose = kMiddle;
    std::int32_t mooseX = 150;
    std::int32_t lyric = 0; // 0 = none, else 1 to 5
    std::int32_t lyricX = 640;
    CueList lists[kCueCount];

    // true: every step composes every row (the reference, and what the
    // exporter renders); false: only the rows that differ from the frame
    // the target already holds. Either way the target ends with the same bytes.
    bool composeWhole = true;
    Layers drawn;     // what the target holds
    RowBand composed; // the rows the last step composed; empty when none
};

// What the frame of one step shows, for tests and tools: at most background,
// moose, lyric, bottom to top.
struct DrawRecord {
    const canvas::Image* image;
    std::int32_t x, y;
};
struct FrameLog {
    DrawRecord draws[3];
    std::int32_t count = 0;
};

// ShowTime 0, every cursor at its first cue, middle pose at x 150, no lyric.
void initShowState(ShowState& state);

// Places the eleven decoded pictures, in load order, into their roles.
Pictures picturesFromLoadOrder(const canvas::Image (&images)[11]);

// One iteration of the main loop without the clock and the presenting: adds
// delta to ShowTime, moves the cues and the lyric and composes the frame on
// target (all of it, or its changed rows: see composeWhole). Returns false once ShowTime has passed
// the end of the show (or is no number at all), when the frame just composed must not be presented.
// Any delta is safe: a lyric position beyond the int range stops at its edge.
bool stepShow(ShowState& state, float delta, const Pictures& pictures, canvas::Image target,
              FrameLog* log = nullptr);

} // namespace show
