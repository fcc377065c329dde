// The frame clock: deltas from a counter the test moves by hand.
#include "show/clock.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::int64_t counter = 0;
int reads = 0;
int moveAfterReads = -1; // the counter jumps by one after this many reads

std::int64_t fakeNow() {
    ++reads;
    if (moveAfterReads >= 0 && reads > moveAfterReads) ++counter;
    return counter;
}

struct ClockTest : ::testing::Test {
    void SetUp() override {
        counter = 1000;
        reads = 0;
        moveAfterReads = -1;
    }
};

TEST_F(ClockTest, DeltaIsZeroUntilTheFirstTick) {
    show::FrameClock c;
    show::startClock(c, {fakeNow, 1000});
    EXPECT_EQ(c.delta, 0.0f);
    EXPECT_EQ(c.time, 0.0f);
    EXPECT_DOUBLE_EQ(c.secondsPerTick, 0.001);
    counter += 16;
    show::tickClock(c, fakeNow);
    EXPECT_FLOAT_EQ(c.delta, 0.016f);
    EXPECT_FLOAT_EQ(c.time, 0.016f);
}

TEST_F(ClockTest, SpinsOnlyWhileTheTimeIsExactlyUnchanged) {
    show::FrameClock c;
    show::startClock(c, {fakeNow, 1000});
    const int before = reads;
    moveAfterReads = reads + 5; // five reads see the same count, then it moves
    show::tickClock(c, fakeNow);
    EXPECT_EQ(reads - before, 6);
    EXPECT_GT(c.delta, 0.0f);
}

// The spin compares the unrounded time: when only the stored, rounded time
// matches, the tick returns at once. (The counter moves after a thousand
// reads, so a spin on the rounded time shows as a count, not a hang.)
TEST_F(ClockTest, UnmovedCounterWithARoundedTimeGivesATinyDeltaAtOnce) {
    show::FrameClock c;
    show::startClock(c, {fakeNow, 3}); // 1/3 s per count cannot be held exactly in a float
    counter += 1;
    show::tickClock(c, fakeNow);
    const int before = reads;
    moveAfterReads = reads + 1000;
    show::tickClock(c, fakeNow);
    EXPECT_EQ(reads - before, 1);
    EXPECT_NE(c.delta, 0.0f);
    EXPECT_LT(std::fabs(c.delta), 1e-7f);
}

TEST_F(ClockTest, DeltasSumToTheElapsedTimeWithinOneRounding) {
    show::FrameClock c;
    const std::int64_t freq = 1000000007; // an awkward frequency
    show::startClock(c, {fakeNow, freq});
    double sum = 0;
    for (int i = 0; i < 11520; ++i) {
        counter += freq / 60 + (i % 7);
        show::tickClock(c, fakeNow);
        ASSERT_NE(c.delta, 0.0f);
        sum += c.delta;
    }
    const double elapsed = double(counter - 1000) / double(freq);
    EXPECT_NEAR(sum, elapsed, 2e-5);
}

// The show's own clock: the platform counter's rate, read at start, turns
// counts into seconds for every later tick.
TEST(PlatformClock, TicksForwardAtTheRateReadAtStart) {
    show::FrameClock c;
    show::startClock(c);
    EXPECT_DOUBLE_EQ(c.secondsPerTick, 1.0 / double(platform::counterFrequency()));
    float sum = 0.0f;
    for (int i = 0; i < 3; ++i) {
        show::tickClock(c);
        EXPECT_NE(c.delta, 0.0f);
        sum += c.delta;
    }
    EXPECT_GE(sum, 0.0f);
    EXPECT_LT(sum, 10.0f); // seconds, not counts
}

} // namespace
