// The choreography: the real per-frame step driven with chosen deltas.
#include "show/show.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr float kFrame = 1.0f / 60.0f;

// Small solid pictures, one colour each, so draws are told apart on the canvas.
struct TestPictures {
    std::vector<std::vector<canvas::PixelWord>> store;
    show::Pictures pictures;
    canvas::Image make(int w, int h, canvas::PixelWord colour, int alpha) {
        store.emplace_back(std::size_t(w) * h, colour);
        return canvas::Image{w, h, store.back().data(), alpha};
    }
    TestPictures() {
        store.reserve(16);
        pictures.sunset = make(640, 480, 0xFF102030, 0);
        pictures.greets = make(640, 480, 0xFF405060, 0);
        pictures.credits = make(640, 480, 0xFF708090, 0);
        for (int p = 0; p < 3; ++p) pictures.moose[p] = make(100, 50, 0xFF000001 + p, 0);
        for (int l = 1; l <= 5; ++l) pictures.lyric[l] = make(300, 20, 0xFF0000F0 + l, 0);
    }
};

struct ShowTest : ::testing::Test {
    TestPictures pics;
    std::vector<canvas::PixelWord> words = std::vector<canvas::PixelWord>(640 * 480);
    canvas::Image target{640, 480, words.data(), 0};
    show::ShowState state;
    show::FrameLog log;

    void SetUp() override { show::initShowState(state); }
    bool step(float delta) { return show::stepShow(state, delta, pics.pictures, target, &log); }
    // Steps at 1/60 s until ShowTime exceeds t.
    void runTo(float t) {
        while (state.showTime <= t) ASSERT_TRUE(step(kFrame));
    }
    bool drew(const canvas::Image& image) const {
        for (int i = 0; i < log.count; ++i)
            if (log.draws[i].image->pixels == image.pixels) return true;
        return false;
    }
};

TEST_F(ShowTest, ACueFiresOnlyOnceShowTimeExceedsIt) {
    step(7.0f);
    EXPECT_EQ(state.showTime, 7.0f);
    EXPECT_EQ(state.lyric, 0);
    step(kFrame);
    EXPECT_EQ(state.lyric, 1);
    EXPECT_EQ(state.lyricX, 637); // set to 640 and moved in the same frame
}

TEST_F(ShowTest, ALongStallFiresAtMostOneCuePerListPerFrame) {
    step(29.9f);
    step(3.0f); // ShowTime 32.9: right cues 30 and 32 and middle cue 31 have passed
    EXPECT_EQ(state.mooseX, 190);
    EXPECT_EQ(state.pose, show::kRight); // right fires after middle, so it wins
    EXPECT_EQ(state.lyric, 2);
    step(kFrame);
    EXPECT_EQ(state.mooseX, 230);
    step(kFrame);
    EXPECT_EQ(state.mooseX, 230); // nothing left to catch up in the right list
    EXPECT_EQ(state.pose, show::kRight);
}

TEST_F(ShowTest, MooseAppearsOnlyAfterFourteenSeconds) {
    step(14.0f);
    EXPECT_FALSE(drew(pics.pictures.moose[show::kMiddle]));
    step(kFrame);
    EXPECT_TRUE(drew(pics.pictures.moose[show::kMiddle]));
    EXPECT_EQ(words[84 * 640 + 150], 0xFF000001u);
    EXPECT_EQ(words[83 * 640 + 150], 0xFF102030u);
}

TEST_F(ShowTest, BackgroundsSwitchAtTheirTimesWhileCuesWaitToBeExceeded) {
    runTo(167.9f);
    EXPECT_TRUE(drew(pics.pictures.sunset));
    state.showTime = 168.0f;
    const int x = state.mooseX, lyric = state.lyric;
    step(0.0f);
    EXPECT_TRUE(drew(pics.pictures.greets));
    EXPECT_EQ(state.mooseX, x + 0); // the right step at 168 has not fired
    EXPECT_EQ(state.lyric, lyric);
    step(kFrame);
    EXPECT_EQ(state.lyric, 5);
    step(5.0f);
    EXPECT_TRUE(drew(pics.pictures.credits));
    EXPECT_EQ(words[479 * 640], 0xFF708090u);
}

TEST_F(ShowTest, LyricStepsTruncateTowardZero) {
    runTo(7.0f);
    std::vector<int> xs{state.lyricX};
    while (xs.size() < 216) {
        step(kFrame);
        xs.push_back(state.lyricX);
    }
    EXPECT_EQ(xs[0], 637);
    EXPECT_EQ(xs[1], 634);
    EXPECT_EQ(xs[211], 4);
    EXPECT_EQ(xs[212], 1);
    EXPECT_EQ(xs[213], -1);
    EXPECT_EQ(xs[214], -3);
    EXPECT_EQ(xs[215], -5);
}

TEST_F(ShowTest, DancePassesStepRightThenBackLeft) {
    struct Expect {
        float at;
        int x, pose;
    };
    const Expect marks[] = {
        {29.5f, 150, show::kMiddle},  {30.5f, 190, show::kRight},   {31.5f, 190, show::kMiddle},
        {32.5f, 230, show::kRight},   {34.5f, 270, show::kRight},   {35.5f, 270, show::kMiddle},
        {39.5f, 230, show::kLeft},    {41.5f, 190, show::kLeft},    {43.5f, 150, show::kLeft},
        {44.5f, 150, show::kMiddle},  {101.5f, 190, show::kRight},  {114.5f, 150, show::kLeft},
        {134.5f, 190, show::kRight},  {148.5f, 150, show::kMiddle}, {168.5f, 190, show::kRight},
        {169.5f, 190, show::kMiddle}, {188.5f, 590, show::kRight},  {191.9f, 590, show::kMiddle},
    };
    for (const Expect& m : marks) {
        runTo(m.at);
        EXPECT_EQ(state.mooseX, m.x) << "at " << m.at;
        EXPECT_EQ(state.pose, m.pose) << "at " << m.at;
    }
    // The moose at 590 is clipped: its right 50 columns fall off the canvas.
    EXPECT_EQ(words[84 * 640 + 639], 0xFF000001u);
}

TEST_F(ShowTest, LyricsEnterAtTheirCues) {
    const std::pair<float, int> cues[] = {{7, 1},   {30, 2},  {47, 3},  {78, 4}, {100, 2},
                                          {118, 3}, {134, 2}, {151, 3}, {168, 5}};
    for (auto [t, lyric] : cues) {
        runTo(t - 0.05f);
        EXPECT_NE(state.lyricX, 637);
        runTo(t);
        EXPECT_EQ(state.lyric, lyric) << "at " << t;
        EXPECT_EQ(state.lyricX, 637) << "at " << t;
        EXPECT_EQ(words[0 * 640 + 637], 0xFF0000F0u + lyric);
    }
}

TEST_F(ShowTest, EndsOnTheFirstFrameBeyond192Seconds) {
    int frames = 0;
    while (step(kFrame)) ++frames;
    EXPECT_GT(state.showTime, 192.0f);
    EXPECT_LT(state.showTime, 192.0f + 2 * kFrame);
    EXPECT_EQ(frames, 11520); // the 11521st frame is composed but not presented
}

TEST_F(ShowTest, WithEveryPictureMissingTheShowStillRunsToTheEnd) {
    show::Pictures none;
    std::fill(words.begin(), words.end(), 0x12345678u);
    int frames = 0;
    while (show::stepShow(state, kFrame, none, target)) ++frames;
    EXPECT_EQ(frames, 11520);
    for (auto w : words) ASSERT_EQ(w, 0u);
}

TEST_F(ShowTest, PicturesTakeTheirRolesFromTheLoadOrder) {
    canvas::Image loaded[11];
    std::vector<canvas::PixelWord> ids(11);
    for (int i = 0; i < 11; ++i) loaded[i] = canvas::Image{1, 1, &ids[i], 0};
    const show::Pictures p = show::picturesFromLoadOrder(loaded);
    EXPECT_EQ(p.moose[show::kMiddle].pixels, &ids[0]);
    EXPECT_EQ(p.moose[show::kRight].pixels, &ids[1]);
    EXPECT_EQ(p.moose[show::kLeft].pixels, &ids[2]);
    EXPECT_EQ(p.sunset.pixels, &ids[3]);
    EXPECT_EQ(p.greets.pixels, &ids[4]);
    EXPECT_EQ(p.credits.pixels, &ids[5]);
    EXPECT_EQ(p.lyric[1].pixels, &ids[8]);  // vers_1
    EXPECT_EQ(p.lyric[2].pixels, &ids[6]);  // refreng_1
    EXPECT_EQ(p.lyric[3].pixels, &ids[7]);  // refreng_2
    EXPECT_EQ(p.lyric[4].pixels, &ids[9]);  // vers_2
    EXPECT_EQ(p.lyric[5].pixels, &ids[10]); // mange_hoyre
}

// The choreography as written down for the show, walked here on its own: the
// lists, their order within a frame and one cue per list per frame.
struct ReferenceShow {
    struct List {
        std::vector<float> cues;
        std::size_t next = 0;
    };
    List lists[8] = {
        {{0,   31,  33,  35,  40,  42,  44,  102, 104, 106, 111, 113, 115, 135, 137,
          139, 144, 146, 148, 169, 171, 173, 175, 177, 179, 181, 183, 185, 187, 189}},
        {{30,  32,  34,  101, 103, 105, 134, 136, 138, 168,
          170, 172, 174, 176, 178, 180, 182, 184, 186, 188}},
        {{39, 41, 43, 110, 112, 114, 143, 145, 147}},
        {{7}},
        {{30, 100, 134}},
        {{47, 118, 151}},
        {{78}},
        {{168}},
    };
    float time = 0.0f;
    int pose = show::kMiddle, mooseX = 150, lyric = 0, lyricX = 0;

    bool fired(List& l) {
        if (l.next == l.cues.size() || !(l.cues[l.next] < time)) return false;
        ++l.next;
        return true;
    }
    void step(float delta) {
        time += delta;
        if (fired(lists[0])) pose = show::kMiddle;
        if (fired(lists[1])) pose = show::kRight, mooseX += 40;
        if (fired(lists[2])) pose = show::kLeft, mooseX -= 40;
        for (int n = 1; n <= 5; ++n)
            if (fired(lists[2 + n])) lyric = n, lyricX = 640;
        lyricX = int(std::trunc(double(lyricX) - double(delta) * 150.0));
    }
};

// Every frame of the whole show, at several frame rates and an uneven run of
// deltas with stalls, against the reference walk: pose, position, lyric and
// what was drawn where.
TEST_F(ShowTest, WholeChoreographyMatchesAnIndependentWalkOfTheCueTables) {
    std::vector<float> uneven;
    for (int i = 0; i < 97; ++i) uneven.push_back(0.004f + 0.0071f * float(i % 13));
    uneven.push_back(3.0f); // a stall: passed cues catch up one per frame
    uneven.push_back(1.25f);
    const std::pair<std::string, std::vector<float>> runs[] = {{"1/60", {1.0f / 60.0f}},
                                                               {"1/75", {1.0f / 75.0f}},
                                                               {"1/50", {1.0f / 50.0f}},
                                                               {"uneven", uneven}};
    // What is drawn where is read from the log; a small target keeps the
    // tens of thousands of frames quick.
    std::vector<canvas::PixelWord> few(16);
    const canvas::Image small{4, 4, few.data(), 0};
    for (const auto& [name, deltas] : runs) {
        SCOPED_TRACE(name);
        show::initShowState(state);
        ReferenceShow ref;
        for (std::size_t frame = 0;; ++frame) {
            const float delta = deltas[frame % deltas.size()];
            const bool more = show::stepShow(state, delta, pics.pictures, small, &log);
            ref.step(delta);
            ASSERT_EQ(state.showTime, ref.time);
            ASSERT_EQ(state.pose, ref.pose) << "at " << ref.time;
            ASSERT_EQ(state.mooseX, ref.mooseX) << "at " << ref.time;
            ASSERT_EQ(state.lyric, ref.lyric) << "at " << ref.time;
            if (ref.lyric != 0) {
                ASSERT_EQ(state.lyricX, ref.lyricX) << "at " << ref.time;
            }

            const show::Pictures& p = pics.pictures;
            const canvas::Image& back = ref.time < 168.0f   ? p.sunset
                                        : ref.time < 173.0f ? p.greets
                                                            : p.credits;
            ASSERT_EQ(log.draws[0].image->pixels, back.pixels) << "at " << ref.time;
            int d = 1;
            if (ref.time > 14.0f) {
                ASSERT_EQ(log.draws[d].image->pixels, p.moose[ref.pose].pixels);
                ASSERT_EQ(log.draws[d].x, ref.mooseX);
                ASSERT_EQ(log.draws[d++].y, 84);
            }
            if (ref.lyric != 0) {
                ASSERT_EQ(log.draws[d].image->pixels, p.lyric[ref.lyric].pixels);
                ASSERT_EQ(log.draws[d++].x, ref.lyricX);
            }
            ASSERT_EQ(log.count, d) << "at " << ref.time;
            ASSERT_EQ(more, !(ref.time > 192.0f));
            if (!more) break;
        }
        for (int i = 0; i < 8; ++i) EXPECT_EQ(ref.lists[i].next, ref.lists[i].cues.size());
    }
}

// The step is computed in double precision: at 75 frames a second the
// exact step, 2.0000000298 pixels, still moves the lyric 3 pixels from 640.
TEST_F(ShowTest, LyricStepsAtOtherFrameRates) {
    const std::pair<float, std::vector<int>> rates[] = {
        {1.0f / 75.0f, {637, 634, 631}}, // 2 pixels and a hair: 3 per frame
        {1.0f / 50.0f, {637, 634, 631}}, // 3 pixels less a hair: still 3
        {1.0f / 30.0f, {634, 628, 622}}, // 5 pixels and a hair: 6 per frame
    };
    for (const auto& [delta, want] : rates) {
        SCOPED_TRACE(1.0f / delta);
        show::initShowState(state);
        step(7.0f);
        std::vector<int> xs;
        for (std::size_t i = 0; i < want.size(); ++i) {
            step(delta);
            xs.push_back(state.lyricX);
        }
        EXPECT_EQ(xs, want);
    }
}

// 168.0 and 173.0 are the first instants of greets and credits.
TEST_F(ShowTest, BackgroundBoundariesAreExact) {
    const auto& p = pics.pictures;
    const std::pair<float, const canvas::Image*> at[] = {
        {std::nextafter(168.0f, 0.0f), &p.sunset},
        {168.0f, &p.greets},
        {std::nextafter(173.0f, 0.0f), &p.greets},
        {173.0f, &p.credits},
        {std::nextafter(173.0f, 200.0f), &p.credits}};
    for (const auto& [t, want] : at) {
        state.showTime = t;
        step(0.0f);
        EXPECT_EQ(log.draws[0].image->pixels, want->pixels) << "at " << t;
    }
}

// A show driven far past its end (a long still from the exporter) keeps
// every cursor on its sentinel and fires nothing more.
TEST_F(ShowTest, DrivenFarBeyondTheEndEveryCursorStopsOnItsSentinel) {
    const int sentinels[show::kCueCount] = {30, 20, 9, 1, 3, 3, 1, 1};
    for (float delta : {25000.0f, 250000.0f}) {
        show::initShowState(state);
        step(delta);
        for (int frame = 0; frame < 40; ++frame) step(delta);
        for (int i = 0; i < show::kCueCount; ++i) {
            EXPECT_EQ(state.lists[i].cursor, sentinels[i]) << "list " << i;
            EXPECT_EQ(state.lists[i].sentinel, sentinels[i]) << "list " << i;
        }
        EXPECT_EQ(state.mooseX, 150 + 20 * 40 - 9 * 40);
        EXPECT_EQ(state.pose, show::kMiddle); // the middle list has the most cues
        EXPECT_EQ(state.lyric, 3);            // refreng_2 fires last, in the third frame
    }
}

// Deltas no clock gives: the lyric stops at the end of the int range it was
// heading for, nothing outside the canvas is touched, and a ShowTime that is
// no number ends the show instead of running for ever.
TEST_F(ShowTest, AbsurdDeltasKeepTheLyricInRangeAndEndTheShow) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::pair<float, std::int32_t> cases[] = {
        {1e30f, INT32_MIN},
        {-1e30f, INT32_MAX},
        {kInf, INT32_MIN},
        {-kInf, INT32_MAX},
        {std::numeric_limits<float>::quiet_NaN(), INT32_MIN}};
    for (const auto& [delta, want] : cases) {
        SCOPED_TRACE(delta);
        show::initShowState(state);
        step(8.0f); // vers_1 on its way in
        ASSERT_EQ(state.lyric, 1);
        step(delta);
        EXPECT_EQ(state.lyricX, want);
        if (std::isnan(delta)) {
            EXPECT_FALSE(step(kFrame));
        }
    }
    show::initShowState(state);
    step(8.0f);
    state.showTime = 100.0f;
    step(-1e30f);
    EXPECT_EQ(state.lyricX, INT32_MAX);
}

} // namespace
