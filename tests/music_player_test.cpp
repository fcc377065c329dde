// music_player_test.cpp -- the music player rendered offline: what opens,
// how it plays, and the schedule of the slow-down-and-fade ending.
#include "music/audio.h"
#include "music/music.h"
#include "platform/platform.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using testsongs::peak;
using testsongs::pitchHz;

constexpr std::size_t kPause = 13230;  // 300 ms
constexpr std::size_t kEnding = 22050; // 500 ms

assets::FileBlob blobOf(std::vector<std::uint8_t>& bytes) {
    assets::FileBlob b;
    std::strcpy(b.name, "elg.mp3");
    b.data = bytes.data();
    b.size = static_cast<std::int32_t>(bytes.size());
    return b;
}

class Player : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(audio::setOfflineOutput(true)); }
    void TearDown() override {
        audio::free();
        audio::takeOfflineCapture();
        audio::setOfflineOutput(false);
    }
    static std::vector<float> render(std::int32_t frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        audio::renderOffline(out.data(), frames);
        return out;
    }
    // Plays for a second, ends, and returns what the ending rendered.
    static std::vector<float> playAndEnd(assets::FileBlob blob, std::int32_t expectOpen) {
        EXPECT_EQ(music::open(blob), expectOpen);
        music::play();
        render(44100);
        music::end();
        return audio::takeOfflineCapture();
    }
};

TEST_F(Player, WithoutAPlayableSongTheEndingIsOnlyThePause) {
    std::vector<std::uint8_t> garbage(5000);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                                     'I',  'H', 'D', 'R', 0,    0,    0,    4,    0, 0, 0, 4};
    std::vector<std::uint8_t> empty;
    for (auto* bytes : {&garbage, &png, &empty}) {
        assets::FileBlob blob = blobOf(*bytes);
        const std::int32_t expectOpen = 0;
        const auto ending = playAndEnd(blob, expectOpen);
        EXPECT_EQ(ending.size(), 2 * kPause) << bytes->size();
        EXPECT_EQ(peak(ending, 0, kPause), 0.0f);
    }
    EXPECT_EQ(music::open(assets::FileBlob{}), 0); // not found
    music::play();
    music::end();
    EXPECT_EQ(audio::takeOfflineCapture().size(), 2 * kPause);
}

TEST_F(Player, ModuleDataPlaysAsAModule) {
    auto mod = testsongs::modTone();
    ASSERT_EQ(music::open(blobOf(mod)), 1);
    music::play();
    const auto out = render(44100);
    EXPECT_GT(peak(out, 22050, 44100), 0.05f);
    EXPECT_NEAR(pitchHz(out.data() + 22050, 22050, 44100.0), 259.0, 259.0 * 0.02);
    music::end();
    const auto ending = audio::takeOfflineCapture();
    EXPECT_GE(ending.size(), 2 * kEnding);
    EXPECT_EQ(peak(ending, kEnding, ending.size() / 2), 0.0f);
}

TEST_F(Player, StreamLoopsFromTheStart) {
    auto mp3 = testsongs::mp3Tone(441, 1.0);
    ASSERT_EQ(music::open(blobOf(mp3)), 1);
    music::play();
    const auto out = render(44100 * 3);
    for (std::size_t w = 0; w < 44100 * 3 - 441; w += 441) ASSERT_GT(peak(out, w, w + 441), 0.4f);
    EXPECT_NEAR(pitchHz(out.data() + 2 * 100000, 20000, 44100.0), 441.0, 2.0);
}

// Rate 44100 -> 1000 over 500 ms, volume fading from 300 ms to silence at
// 500 ms, then the channel stops and end returns.
TEST_F(Player, EndingFollowsTheSchedule) {
    const double tone = 4000.0;
    auto mp3 = testsongs::mp3Tone(tone, 4.0);
    const auto ending = playAndEnd(blobOf(mp3), 1);
    const std::size_t frames = ending.size() / 2;
    EXPECT_GE(frames, kEnding);
    EXPECT_LE(frames, kEnding + 45); // at most one more 1 ms poll
    const auto rateAt = [](double k) { return 44100.0 - (44100.0 - 1000.0) * k / kEnding; };

    for (std::size_t k = 0; k + 1102 <= kEnding; k += 1102) {
        const double expected = tone * (rateAt(k) + rateAt(k + 1102)) / 2 / 44100.0;
        if (expected < 300.0) break; // too few cycles left in a window
        EXPECT_NEAR(pitchHz(ending.data() + 2 * k, 1102, 44100.0), expected, expected * 0.02) << k;
    }
    // The whole slide, its slow tail included: as many cycles as the
    // schedule's mean rate gives.
    int rising = 0;
    for (std::size_t k = 1; k < kEnding; ++k)
        rising += ending[2 * (k - 1)] < 0.0f && ending[2 * k] >= 0.0f;
    const double cycles = tone * 0.5 * (44100.0 + 1000.0) / 2 / 44100.0;
    EXPECT_NEAR(rising, cycles, cycles * 0.01);
    // Full volume until the fade starts, then a linear fall.
    EXPECT_GT(peak(ending, kPause - 441, kPause), 0.45f);
    for (std::size_t k = kPause; k + 441 <= kEnding; k += 441) {
        const double upper = 0.5 * (1.0 - double(k - kPause) / (kEnding - kPause));
        EXPECT_LE(peak(ending, k, k + 441), upper + 0.02) << k;
        if (k + 441 < 19000) {
            const double lower = 0.5 * (1.0 - double(k + 441 - kPause) / (kEnding - kPause));
            EXPECT_GE(peak(ending, k, k + 441), lower - 0.05) << k;
        }
    }
    EXPECT_EQ(peak(ending, kEnding, frames), 0.0f);
    EXPECT_EQ(peak(render(4410), 0, 4410), 0.0f); // released
    EXPECT_LE(testsongs::largestStep(ending, 0, kEnding), 0.5f * 2 * 3.1416f * tone / 44100 * 1.2f);
}

// Damaged songs: whatever opens plays and ends on schedule; the rest is
// silent. A song cut inside a frame still loops.
TEST_F(Player, DamagedSongsPlayOrStaySilentAndEndOnTime) {
    auto cut = testsongs::mp3Tone(441, 1.0);
    cut.resize(cut.size() * 3 / 5 + 123);
    ASSERT_EQ(music::open(blobOf(cut)), 1);
    music::play();
    const auto looped = render(44100 * 2);
    // Cut short, the song no longer matches its LAME tag, so the encoder's
    // delay is heard at each seam: about 20 ms of quiet, then the song again.
    for (std::size_t w = 0; w + 2205 <= 44100 * 2; w += 2205)
        ASSERT_GT(peak(looped, w, w + 2205), 0.3f) << w;
    music::end();
    EXPECT_LE(audio::takeOfflineCapture().size(), 2 * (kEnding + 45));

    const auto mp3 = testsongs::mp3Tone(441, 0.5);
    const auto mod = testsongs::modTone();
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 60; ++i) {
        auto bytes = i % 2 ? mod : mp3;
        const std::size_t flips = 1 + next() % 40;
        for (std::size_t f = 0; f < flips; ++f)
            bytes[next() % bytes.size()] ^= static_cast<std::uint8_t>(1 + next() % 255);
        if (i % 3 == 0) bytes.resize(next() % bytes.size() + 1);
        music::open(blobOf(bytes));
        music::play();
        render(22050);
        music::end();
        const std::size_t frames = audio::takeOfflineCapture().size() / 2;
        EXPECT_GE(frames, kPause) << i;
        EXPECT_LE(frames, kEnding + 45) << i;
    }
}

TEST_F(Player, CanOpenAgainAfterTheEnd) {
    auto mp3 = testsongs::mp3Tone(441, 1.0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(music::open(blobOf(mp3)), 1) << round;
        music::play();
        EXPECT_GT(peak(render(4410), 0, 4410), 0.4f);
        music::end();
        audio::takeOfflineCapture();
    }
}

// The Escape/close path: leaving the process mid-song must close the device
// before the song's memory and the decoders go away (ASan sees any audio
// thread still reading them).
TEST(PlayerExit, LeavingMidSongIsClean) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            static std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(441, 1.0);
            if (music::open(blobOf(mp3)) != 1) std::_Exit(3);
            music::play();
            platform::sleepMs(100);
            platform::exitProcess(0);
        },
        ::testing::ExitedWithCode(0), "");
}

void exitIfDeviceStill(int) {
    const std::int64_t before = audio::framesRendered();
    platform::sleepMs(150);
    std::_Exit(audio::framesRendered() == before ? 0 : 4);
}

TEST(PlayerExit, TheExitHookStopsTheDeviceFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            static std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(441, 1.0);
            if (music::open(blobOf(mp3)) != 1) std::_Exit(3);
            music::play();
            // The device thread may be slow to get going on a busy machine.
            for (int i = 0; i < 10000 && audio::framesRendered() == 0; ++i) platform::sleepMs(1);
            if (audio::framesRendered() == 0) std::_Exit(5); // the device never ran
            platform::setExitHandler(exitIfDeviceStill);
            platform::exitProcess(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace

namespace {

int answers = 0;
void answer() {
    ++answers;
}

// The show answers its window through the store's progress hook while the
// ending runs: at least every 10 ms of it, offline and on a device.
TEST_F(Player, TheEndingAnswersTheWindowThroughout) {
    std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440, 1.0);
    ASSERT_EQ(music::open(blobOf(mp3)), 1);
    music::play();
    render(4410);
    const assets::ProgressHook previous = assets::setProgressHook(answer);
    answers = 0;
    music::end();
    assets::setProgressHook(previous);
    EXPECT_GE(answers, 50); // 500 ms
}

TEST(PlayerOnDevice, TheEndingTakesItsTimeAndAnswersTheWindow) {
    std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440, 1.0);
    ASSERT_EQ(music::open(blobOf(mp3)), 1); // the runner's dummy driver
    music::play();
    const assets::ProgressHook previous = assets::setProgressHook(answer);
    answers = 0;
    const std::int64_t start = platform::counterNow();
    music::end();
    const double ms =
        1000.0 * double(platform::counterNow() - start) / double(platform::counterFrequency());
    assets::setProgressHook(previous);
    EXPECT_GE(ms, 499.0);
    EXPECT_LT(ms, 10000.0); // a hang, not a busy machine
    EXPECT_GE(answers, 20);
}

} // namespace
