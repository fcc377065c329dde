// music_audio_test.cpp -- the audio library rendered offline: looping,
// slides, the clock, modules.
#include "music/audio.h"
#include "platform/sdl_audio.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using testsongs::peak;
using testsongs::pitchHz;

constexpr double kRate = 44100.0;

// Offline output for the length of one test.
class Offline : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(audio::setOfflineOutput(true));
        ASSERT_TRUE(audio::init(audio::kDefaultDevice, audio::kOutputRate));
    }
    void TearDown() override {
        audio::free();
        audio::takeOfflineCapture();
        audio::setOfflineOutput(false);
    }
    static std::vector<float> render(std::int32_t frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        EXPECT_EQ(audio::renderOffline(out.data(), frames), frames);
        return out;
    }
};

TEST_F(Offline, OpensEachKindOnlyThroughItsOwnPath) {
    const auto mp3 = testsongs::mp3Tone(440, 0.5);
    const auto mod = testsongs::modTone();
    const auto size = [](const auto& v) { return static_cast<std::uint32_t>(v.size()); };
    EXPECT_EQ(audio::streamFromMemory(mod.data(), size(mod), audio::kStreamPrescan), 0u);
    EXPECT_EQ(audio::moduleFromMemory(mp3.data(), size(mp3), 0x2006), 0u);
    const audio::Handle stream = audio::streamFromMemory(mp3.data(), size(mp3), 0);
    const audio::Handle module = audio::moduleFromMemory(mod.data(), size(mod), 0x2006);
    EXPECT_NE(stream, 0u);
    EXPECT_NE(module, 0u);
    EXPECT_NE(stream, module);
    EXPECT_FALSE(audio::playModule(stream));
    EXPECT_FALSE(audio::playStream(module, false, 0));
    EXPECT_FALSE(audio::playStream(0, false, 0));
    EXPECT_FALSE(audio::slideAttributes(0, 1000, -1, -101, 500));
    EXPECT_FALSE(audio::isSliding(0));
    EXPECT_EQ(audio::moduleFromMemory(nullptr, 0, 0), 0u);
    EXPECT_EQ(audio::streamFromMemory(mp3.data(), 0, 0), 0u);
}

TEST_F(Offline, LoopedStreamRunsOnWithoutGapOrClick) {
    // 441 whole cycles in one second: the loop seam continues the sine.
    const auto mp3 = testsongs::mp3Tone(441, 1.0);
    const audio::Handle h =
        audio::streamFromMemory(mp3.data(), static_cast<std::uint32_t>(mp3.size()), 0x20000);
    ASSERT_TRUE(audio::playStream(h, false, audio::kStreamLoop));
    const auto out = render(44100 * 3);
    const float steady = testsongs::largestStep(out, 4410, 39690);
    for (std::size_t seam : {44100u, 88200u}) {
        EXPECT_LE(testsongs::largestStep(out, seam - 441, seam + 441), steady * 1.1f) << seam;
        for (std::size_t w = seam - 2205; w < seam + 2205; w += 220)
            EXPECT_GT(peak(out, w, w + 220), 0.45f) << w;
    }
    EXPECT_NEAR(pitchHz(out.data() + 2 * 80000, 17640, kRate), 441.0, 441.0 * 0.005);
}

TEST_F(Offline, StreamWithoutLoopStopsAtItsEnd) {
    const auto mp3 = testsongs::mp3Tone(441, 0.5);
    const audio::Handle h =
        audio::streamFromMemory(mp3.data(), static_cast<std::uint32_t>(mp3.size()), 0);
    ASSERT_TRUE(audio::playStream(h, false, 0));
    const auto out = render(44100);
    EXPECT_GT(peak(out, 20000, 22000), 0.45f);
    EXPECT_EQ(peak(out, 22100, 44100), 0.0f);
    // Playing it again after the end starts from the beginning.
    ASSERT_TRUE(audio::playStream(h, false, 0));
    EXPECT_GT(peak(render(4410), 1000, 4410), 0.45f);
}

TEST_F(Offline, SlidesReachTheirTargetsInOutputFrames) {
    const auto mp3 = testsongs::mp3Tone(1000, 1.0, 22050, 1);
    const audio::Handle h =
        audio::streamFromMemory(mp3.data(), static_cast<std::uint32_t>(mp3.size()), 0);
    ASSERT_TRUE(audio::playStream(h, false, audio::kStreamLoop));
    render(4410);

    // The stream's own rate is 22050: half of it halves the pitch.
    ASSERT_TRUE(audio::slideAttributes(h, 11025, 50, -100, 100));
    EXPECT_TRUE(audio::isSliding(h));
    render(4409);
    EXPECT_TRUE(audio::isSliding(h));
    render(1);
    EXPECT_FALSE(audio::isSliding(h));
    const auto out = render(8820);
    EXPECT_NEAR(pitchHz(out.data(), 8820, kRate, 0), 500.0, 5.0);
    EXPECT_NEAR(peak(out, 0, 8820), 0.25f, 0.03f);
    float right = 0.0f;
    for (std::size_t i = 1; i < out.size(); i += 2) right = std::max(right, std::fabs(out[i]));
    EXPECT_EQ(right, 0.0f);

    // Out-of-range values are clamped; zero time applies at once.
    ASSERT_TRUE(audio::slideAttributes(h, 10'000'000, 1000, audio::kLeavePan, 0));
    EXPECT_FALSE(audio::isSliding(h));
    EXPECT_NEAR(pitchHz(render(4410).data(), 4410, kRate), 1000.0 * 100000 / 22050, 60.0);
}

TEST_F(Offline, FadeToSilenceStopsTheChannel) {
    const auto mp3 = testsongs::mp3Tone(441, 1.0);
    const audio::Handle h =
        audio::streamFromMemory(mp3.data(), static_cast<std::uint32_t>(mp3.size()), 0);
    ASSERT_TRUE(audio::playStream(h, false, audio::kStreamLoop));
    render(4410);
    ASSERT_TRUE(audio::slideAttributes(h, -1, audio::kFadeAndStop, -101, 100));
    const auto fade = render(4410);
    EXPECT_FALSE(audio::isSliding(h));
    EXPECT_GT(peak(fade, 0, 441), 0.4f);
    EXPECT_LT(peak(fade, 3969, 4410), 0.06f);
    EXPECT_EQ(peak(render(44100), 0, 44100), 0.0f);

    // Stopped means stopped: a later slide runs but plays nothing.
    ASSERT_TRUE(audio::slideAttributes(h, -1, 100, -101, 10));
    EXPECT_EQ(peak(render(4410), 0, 4410), 0.0f);
}

TEST_F(Offline, WaitsRenderExactlyTheirFramesIntoTheCapture) {
    audio::wait(300);
    EXPECT_EQ(audio::takeOfflineCapture().size(), 2u * 13230);
    for (int i = 0; i < 1000; ++i) audio::wait(1);
    EXPECT_EQ(audio::takeOfflineCapture().size(), 2u * 44100);
    EXPECT_TRUE(audio::takeOfflineCapture().empty());
    render(100);
    EXPECT_EQ(audio::framesRendered(), 13230 + 44100 + 100);
    EXPECT_FALSE(audio::setOfflineOutput(false)); // not while initialised
    EXPECT_FALSE(audio::init(audio::kDefaultDevice, audio::kOutputRate));
}

TEST_F(Offline, ModuleLoopsForEverAtItsPitch) {
    const auto mod = testsongs::modTone(428);
    const audio::Handle h =
        audio::moduleFromMemory(mod.data(), static_cast<std::uint32_t>(mod.size()), 0x2006);
    ASSERT_TRUE(audio::playModule(h));
    // One pattern of 64 rows at speed 6, 125 BPM: 7.68 s, then again.
    const auto out = render(44100 * 9);
    // PAL Amiga clock over period 428, a 32-sample cycle.
    const double expected = 7093789.2 / (2.0 * 428) / 32;
    EXPECT_NEAR(pitchHz(out.data() + 2 * 44100, 44100, kRate), expected, expected * 0.02);
    EXPECT_GT(peak(out, 8 * 44100, 9 * 44100), 0.05f);
}

TEST(OfflineClock, WaitsCountAndCaptureSilenceWithoutASong) {
    ASSERT_TRUE(audio::setOfflineOutput(true));
    audio::wait(10);
    const auto silence = audio::takeOfflineCapture();
    EXPECT_EQ(silence.size(), 2u * 441);
    EXPECT_EQ(peak(silence, 0, 441), 0.0f);
    float out[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(audio::renderOffline(out, 4), 4);
    EXPECT_EQ(out[7], 0.0f);
    EXPECT_TRUE(audio::setOfflineOutput(false));
    EXPECT_EQ(audio::renderOffline(out, 4), 0);
}

} // namespace
