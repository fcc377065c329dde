// The choreography: the real per-frame step driven with chosen deltas.
#include "show/show.h"

#include <gtest/gtest.h>

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

} // namespace
