// show.cpp -- the cue tables and the per-frame step.
#include "show/show.h"

#include "canvas/blit.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace show {
namespace {

constexpr float kMiddleCues[] = {0,   31,  33,  35,  40,  42,  44,  102, 104,   106, 111,
                                 113, 115, 135, 137, 139, 144, 146, 148, 169,   171, 173,
                                 175, 177, 179, 181, 183, 185, 187, 189, 200000};
constexpr float kRightCues[] = {30,  32,  34,  101, 103, 105, 134, 136, 138, 168,   170,
                                172, 174, 176, 178, 180, 182, 184, 186, 188, 200000};
constexpr float kLeftCues[] = {39, 41, 43, 110, 112, 114, 143, 145, 147, 20000};
constexpr float kLyric1Cues[] = {7, 20000};
constexpr float kLyric2Cues[] = {30, 100, 134, 20000};
constexpr float kLyric3Cues[] = {47, 118, 151, 20000};
constexpr float kLyric4Cues[] = {78, 20000};
constexpr float kLyric5Cues[] = {168, 20000};

template <std::size_t N> constexpr CueList cueList(const float (&cues)[N]) {
    return CueList{cues, 0, static_cast<std::int32_t>(N - 1)};
}

constexpr CueList kCueLists[kCueCount] = {
    cueList(kMiddleCues), cueList(kRightCues),  cueList(kLeftCues),   cueList(kLyric1Cues),
    cueList(kLyric2Cues), cueList(kLyric3Cues), cueList(kLyric4Cues), cueList(kLyric5Cues)};

constexpr float kGreetsFrom = 168.0f;
constexpr float kCreditsFrom = 173.0f;
constexpr float kMooseFrom = 14.0f;
constexpr std::int32_t kMooseStep = 40;
constexpr std::int32_t kMooseY = 84;
constexpr std::int32_t kLyricEntryX = 640;
constexpr double kLyricSpeed = 150.0;

// A list fires when its current cue lies strictly before ShowTime; at most
// once per frame, so a long stall catches up one cue per frame. The sentinel
// is no cue: it never fires and the cursor never leaves it.
bool fires(CueList& list, float showTime) {
    if (list.cursor >= list.sentinel || !(list.current() < showTime)) return false;
    ++list.cursor;
    return true;
}

void advanceCues(ShowState& s) {
    if (fires(s.lists[kCueMiddle], s.showTime)) s.pose = kMiddle;
    if (fires(s.lists[kCueRight], s.showTime)) {
        s.pose = kRight;
        s.mooseX += kMooseStep;
    }
    if (fires(s.lists[kCueLeft], s.showTime)) {
        s.pose = kLeft;
        s.mooseX -= kMooseStep;
    }
    for (std::int32_t n = 1; n <= 5; ++n) {
        if (fires(s.lists[kCueLyric1 + n - 1], s.showTime)) {
            s.lyric = n;
            s.lyricX = kLyricEntryX;
        }
    }
}

// lyricX - delta * 150 truncated toward zero, in double precision. A value
// the int cannot hold (an absurd delta) stops at the nearer end of its range;
// one that is no number at all at the lower end.
std::int32_t movedLyricX(std::int32_t x, float delta) {
    const double moved = static_cast<double>(x) - static_cast<double>(delta) * kLyricSpeed;
    if (!(moved > double(INT32_MIN))) return INT32_MIN;
    if (!(moved < double(INT32_MAX))) return INT32_MAX;
    return static_cast<std::int32_t>(moved);
}

const canvas::Image& background(const Pictures& p, float showTime) {
    if (showTime < kGreetsFrom) return p.sunset;
    if (showTime < kCreditsFrom) return p.greets;
    return p.credits;
}

// An opaque picture that covers the whole target leaves nothing of the
// clear to see.
bool coversTarget(const canvas::Image& image, canvas::Image target) {
    return image.hasAlpha == 0 && image.width >= target.width && image.height >= target.height;
}

// The pictures and places of this step's frame; a layer that is not shown
// is the empty Image.
Layers frameLayers(const ShowState& s, const Pictures& p, canvas::Image target) {
    Layers l;
    l.known = true;
    l.target = target;
    l.background = Placed{background(p, s.showTime), 0, 0};
    if (s.showTime > kMooseFrom) l.moose = Placed{p.moose[s.pose], s.mooseX, kMooseY};
    if (s.lyric != 0) l.lyric = Placed{p.lyric[s.lyric], s.lyricX, 0};
    return l;
}

void logFrame(const ShowState& s, const Pictures& p, FrameLog& log) {
    log.draws[log.count++] = DrawRecord{&background(p, s.showTime), 0, 0};
    if (s.showTime > kMooseFrom)
        log.draws[log.count++] = DrawRecord{&p.moose[s.pose], s.mooseX, kMooseY};
    if (s.lyric != 0) log.draws[log.count++] = DrawRecord{&p.lyric[s.lyric], s.lyricX, 0};
}

// Composes the rows of band alone: the band is a canvas of its own, each
// picture drawn onto it shifted up by the band's first row, so every pixel
// gets what composing the whole target gives it.
void composeRows(const Layers& l, RowBand band) {
    if (band.empty()) return;
    const canvas::Image rows{l.target.width, band.end - band.first,
                             l.target.pixels + std::ptrdiff_t(band.first) * l.target.width, 0};
    if (!coversTarget(l.background.image, l.target)) canvas::clearImage(rows);
    for (const Placed* p : {&l.background, &l.moose, &l.lyric})
        canvas::drawImage(rows, p->image, p->x, p->y - band.first);
}

} // namespace

void initShowState(ShowState& state) {
    state = ShowState{};
    for (std::int32_t i = 0; i < kCueCount; ++i) state.lists[i] = kCueLists[i];
}

Pictures picturesFromLoadOrder(const canvas::Image (&images)[11]) {
    Pictures p;
    p.moose[kMiddle] = images[0];
    p.moose[kRight] = images[1];
    p.moose[kLeft] = images[2];
    p.sunset = images[3];
    p.greets = images[4];
    p.credits = images[5];
    p.lyric[2] = images[6];  // refreng_1
    p.lyric[3] = images[7];  // refreng_2
    p.lyric[1] = images[8];  // vers_1
    p.lyric[4] = images[9];  // vers_2
    p.lyric[5] = images[10]; // mange_hoyre
    return p;
}

bool stepShow(ShowState& s, float delta, const Pictures& pictures, canvas::Image target,
              FrameLog* log) {
    s.showTime = s.showTime + delta;
    advanceCues(s);
    s.lyricX = movedLyricX(s.lyricX, delta);

    const Layers now = frameLayers(s, pictures, target);
    s.composed = s.composeWhole ? RowBand{0, target.height} : changedRows(s.drawn, now);
    composeRows(now, s.composed);
    s.drawn = now;
    if (log) {
        log->count = 0;
        logFrame(s, pictures, *log);
    }
    return s.showTime <= kShowLength; // one that is no number would never pass the end
}

} // namespace show
