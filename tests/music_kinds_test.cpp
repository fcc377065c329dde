// music_kinds_test.cpp -- every kind of song a user may name "elg.mp3",
// through music::open and a second rendered offline: MP3s in the shapes
// found in the wild play at their pitch, modules of each kind play as
// modules and loop, and anything else stays silent.
#include "music/audio.h"
#include "music/music.h"
#include "music_test_modules.h"
#include "platform/sdl_audio.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using Bytes = std::vector<std::uint8_t>;
using testmodules::Kind;
using testsongs::peak;
using testsongs::pitchHz;

constexpr std::size_t kSecond = 44100;
constexpr std::size_t kPause = 13230; // the ending's 300 ms with nothing open

class SongKinds : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(audio::setOfflineOutput(true)); }
    void TearDown() override {
        music::end();
        audio::takeOfflineCapture();
        audio::setOfflineOutput(false);
    }
    // Opens bytes as the song, plays, and renders frames.
    static std::vector<float> play(Bytes& bytes, std::int32_t expectOpen,
                                   std::size_t frames = kSecond) {
        assets::FileBlob blob;
        std::strcpy(blob.name, "elg.mp3");
        blob.data = bytes.data();
        blob.size = static_cast<std::int32_t>(bytes.size());
        EXPECT_EQ(music::open(blob), expectOpen);
        music::play();
        std::vector<float> out(2 * frames);
        audio::renderOffline(out.data(), static_cast<std::int32_t>(frames));
        return out;
    }
};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

// An ID3v2.4 tag of body bytes (a title frame, then zero padding).
Bytes id3v2(std::uint32_t body) {
    Bytes tag = {'I', 'D', '3', 4, 0, 0};
    for (int shift : {21, 14, 7, 0}) tag.push_back(std::uint8_t((body >> shift) & 0x7F));
    Bytes frame = {'T', 'I', 'T', '2', 0, 0, 0, 4, 0, 0, 3, 'e', 'l', 'g'};
    frame.resize(body, 0);
    return concat({tag, frame});
}

// An APEv2 tag as written at the start of a file: header, one item, footer.
Bytes apeTag() {
    const Bytes item = concat({le32(3), le32(0), {'T', 'i', 't', 'l', 'e', 0, 'e', 'l', 'g'}});
    const auto part = [&](std::uint32_t flags) {
        return concat({{'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'},
                       le32(2000),
                       le32(std::uint32_t(item.size()) + 32),
                       le32(1),
                       le32(flags),
                       Bytes(8, 0)});
    };
    return concat({part(0xA0000000u), item, part(0x80000000u)});
}

// MP3 data in a RIFF/WAVE file (format tag 0x55, MPEG layer 3).
Bytes riffWave(const Bytes& mp3) {
    const Bytes fmt = concat({{'f', 'm', 't', ' '},
                              le32(30),
                              {0x55, 0, 2, 0},
                              le32(44100),
                              le32(16000),
                              {1, 0, 0, 0, 12, 0, 1, 0},
                              le32(2),
                              {0x71, 0x05, 1, 0, 0x71, 0x05}});
    const Bytes data = concat({{'d', 'a', 't', 'a'}, le32(std::uint32_t(mp3.size())), mp3});
    const Bytes body = concat({{'W', 'A', 'V', 'E'}, fmt, data});
    return concat({{'R', 'I', 'F', 'F'}, le32(std::uint32_t(body.size())), body});
}

// The frames of a constant-bitrate MPEG-1 layer III stream, its LAME tag
// frame left out.
std::vector<Bytes> framesOf(const Bytes& mp3) {
    static constexpr int kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[4] = {44100, 48000, 32000, 0};
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at + 4 <= mp3.size();) {
        const std::uint8_t* h = mp3.data() + at;
        const std::size_t length =
            144 * 1000 * std::size_t(kKbps[h[2] >> 4]) / std::size_t(kRates[(h[2] >> 2) & 3]) +
            ((h[2] >> 1) & 1);
        if (at > 0) frames.emplace_back(h, h + std::min(length, mp3.size() - at));
        at += length;
    }
    return frames;
}

void expectTone(const std::vector<float>& out, double hz, const std::string& what) {
    EXPECT_GT(peak(out, kSecond / 4, kSecond), 0.3f) << what;
    EXPECT_NEAR(pitchHz(out.data() + 2 * kSecond / 4, kSecond / 2, 44100.0), hz, hz * 0.01) << what;
}

TEST_F(SongKinds, Mp3sAsFoundInTheWildPlayAtTheirPitch) {
    const Bytes mp3 = testsongs::mp3Tone(440, 2.0);
    const Bytes junk = {'j', 'u', 'n', 'k', 0x13, 0xFF, 0x00};
    Bytes cut(mp3.begin() + 417 * 5 + 211, mp3.end()); // from inside a frame
    const std::vector<std::pair<std::string, Bytes>> kinds = {
        {"plain", mp3},
        {"ID3v2, then zero padding", concat({id3v2(64), Bytes(1500, 0), mp3})},
        {"two ID3v2 tags", concat({id3v2(100), id3v2(2000), mp3})},
        {"junk first", concat({junk, mp3})},
        {"a long unknown header first", concat({Bytes(100000, 0x41), mp3})},
        {"zeros first", concat({Bytes(8192, 0), mp3})},
        {"starts inside a frame", cut},
        {"RIFF/WAVE", riffWave(mp3)},
        {"APEv2 tag first", concat({apeTag(), mp3})},
        {"free format", testsongs::mp3Tone(440, 2.0, 44100, 2, 0.5f, true)},
        {"mono 22050 Hz", testsongs::mp3Tone(440, 2.0, 22050, 1)},
        {"MPEG-2.5, 8000 Hz", testsongs::mp3Tone(440, 2.0, 8000, 1)},
    };
    for (auto [what, bytes] : kinds) {
        expectTone(play(bytes, 1), 440.0, what);
        music::end();
        audio::takeOfflineCapture();
    }
}

TEST_F(SongKinds, EveryModuleKindPlaysAsAModule) {
    for (Kind kind : {Kind::Mod, Kind::S3m, Kind::Xm, Kind::It}) {
        Bytes mod = testmodules::build(kind, testmodules::sineCycle());
        const std::string what = "module kind " + std::to_string(int(kind));
        EXPECT_TRUE(audio::detail::looksLikeModule(mod.data(), mod.size())) << what;
        const auto out = play(mod, 1);
        EXPECT_GT(peak(out, kSecond / 2, kSecond), 0.05f) << what;
        EXPECT_GT(pitchHz(out.data() + kSecond, kSecond / 2, 44100.0), 50.0) << what;
        music::end();
        audio::takeOfflineCapture();
    }
}

// libmpg123 finds the frames inside these modules and would play them as a
// stream; the module path must win.
TEST_F(SongKinds, ModulesHoldingMp3FramesStillPlayAsModules) {
    const Bytes mp3 = testsongs::mp3Tone(440, 0.3);
    for (Kind kind : {Kind::Mod, Kind::S3m, Kind::Xm, Kind::It}) {
        Bytes mod = testmodules::build(kind, testmodules::storedAs(kind, mp3));
        const std::string what = "module kind " + std::to_string(int(kind));
        EXPECT_TRUE(audio::detail::decodesAsMp3(mod.data(), mod.size())) << what;
        ASSERT_TRUE(audio::init(audio::kDefaultDevice, audio::kOutputRate));
        const auto size = static_cast<std::uint32_t>(mod.size());
        EXPECT_EQ(audio::streamFromMemory(mod.data(), size, audio::kStreamPrescan), 0u) << what;
        EXPECT_NE(audio::moduleFromMemory(mod.data(), size, 0x2006), 0u) << what;
        audio::free();
        EXPECT_GT(peak(play(mod, 1), 0, kSecond), 0.05f) << what;
        music::end();
        audio::takeOfflineCapture();
    }
}

// The music player asks for a looping module: the song plays on past its
// own end (one pattern of 64 rows at speed 6 and 125 BPM lasts 7.68 s).
TEST_F(SongKinds, ModulesLoopPastTheirEnd) {
    Bytes mod = testmodules::build(Kind::Mod, testmodules::sineCycle());
    const auto out = play(mod, 1, 9 * kSecond);
    EXPECT_GT(peak(out, 7 * kSecond, 7 * kSecond + kSecond / 2), 0.05f);
    for (std::size_t at = 7 * kSecond + kSecond / 2; at + kSecond / 10 <= 9 * kSecond;
         at += kSecond / 10)
        ASSERT_GT(peak(out, at, at + kSecond / 10), 0.05f) << at;
}

TEST_F(SongKinds, AnythingElseStaysSilent) {
    std::mt19937 random(13);
    const auto noise = [&random](std::size_t n, bool syncFirst) {
        Bytes b(n);
        for (auto& v : b) v = static_cast<std::uint8_t>(random());
        if (syncFirst) b[0] = 0xFF, b[1] = 0xFB, b[2] = 0x90, b[3] = 0x64;
        return b;
    };
    const std::string text = "elg.mp3: a moose song\n\nla la la\n";
    Bytes truncatedMod = testmodules::build(Kind::Mod, testmodules::sineCycle());
    truncatedMod.resize(1000);
    std::vector<std::pair<std::string, Bytes>> kinds = {
        {"PNG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D',
                 'R',  0,   0,   0,   4,    0,    0,    0,    4, 8, 6, 0,  0,   0}},
        {"text", Bytes(text.begin(), text.end())},
        {"one byte", {0xFF}},
        {"zeros", Bytes(65536, 0)},
        {"truncated module", truncatedMod},
    };
    // Real frames that do not make a stream: one among noise, and frames of
    // different sample rates or channel counts taking turns.
    const auto stereo = framesOf(testsongs::mp3Tone(440, 1.0));
    const auto at48k = framesOf(testsongs::mp3Tone(440, 1.0, 48000));
    const auto mono = framesOf(testsongs::mp3Tone(440, 1.0, 44100, 1));
    kinds.push_back(
        {"one frame in noise", concat({noise(3000, false), stereo[10], noise(3000, false)})});
    Bytes rates, channels;
    for (std::size_t i = 5; i < 40; ++i) {
        rates = concat({rates, stereo[i], at48k[i]});
        channels = concat({channels, stereo[i], mono[i]});
    }
    kinds.push_back({"frames at two rates", rates});
    kinds.push_back({"mono and stereo frames", channels});
    for (int i = 0; i < 40; ++i)
        kinds.push_back({"noise " + std::to_string(i), noise(64 + random() % 16384, i % 2)});
    for (auto [what, bytes] : kinds) {
        EXPECT_EQ(peak(play(bytes, 0), 0, kSecond), 0.0f) << what;
        music::end();
        EXPECT_EQ(audio::takeOfflineCapture().size(), 2 * kPause) << what;
    }
    Bytes empty;
    EXPECT_EQ(peak(play(empty, 0), 0, kSecond), 0.0f);
}

} // namespace
