// music_device_test.cpp -- the music player on a real SDL output device: the
// disk driver writes what the device plays to a file.
#include "music/audio.h"
#include "music/music.h"
#include "platform/platform.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// The disk driver, unpaced, for one test; the runner's own driver after.
class DiskDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("SDL_AUDIODRIVER");
        oldDriver_ = old ? old : "";
        path_ = "/tmp/kva_music_" + std::to_string(getpid()) + ".raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
    }
    void TearDown() override {
        if (oldDriver_.empty())
            unsetenv("SDL_AUDIODRIVER");
        else
            setenv("SDL_AUDIODRIVER", oldDriver_.c_str(), 1);
        std::remove(path_.c_str());
    }
    std::vector<float> captured() const {
        std::ifstream in(path_, std::ios::binary | std::ios::ate);
        std::vector<float> out(static_cast<std::size_t>(in.tellg()) / sizeof(float));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(out.data()),
                static_cast<std::streamsize>(out.size() * sizeof(float)));
        return out;
    }

    // The frames from the first that is not silent to the end of the capture.
    static std::size_t songFrames(const std::vector<float>& out) {
        const std::size_t frames = out.size() / 2;
        std::size_t start = 0;
        while (start < frames && out[2 * start] == 0.0f && out[2 * start + 1] == 0.0f) ++start;
        return frames - start;
    }

    std::string path_, oldDriver_;
};

TEST_F(DiskDevice, PlaysTheSongAtItsPitchAndEndsInSilence) {
    std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(441, 1.0);
    assets::FileBlob blob;
    blob.data = mp3.data();
    blob.size = static_cast<std::int32_t>(mp3.size());
    ASSERT_EQ(music::open(blob), 1);
    music::play();
    // The device runs, unpaced, from open on: on a busy machine it may have
    // rendered seconds of silence before the song starts. The song starts
    // where the capture stops being silent; wait until it has played twice
    // over from there, whatever the load.
    const std::int64_t limit = platform::counterNow() + 60 * platform::counterFrequency();
    std::vector<float> out = captured();
    while (songFrames(out) < 3 * 44100u && platform::counterNow() < limit) {
        platform::sleepMs(10);
        out = captured();
    }
    ASSERT_GE(songFrames(out), 3 * 44100u) << "the song did not play within 60 s";
    music::end();

    out = captured();
    const std::size_t frames = out.size() / 2;
    const std::size_t start = frames - songFrames(out);
    // The loop plays on from the start, at the song's own pitch.
    EXPECT_GT(testsongs::peak(out, start, start + 44100), 0.45f);
    EXPECT_NEAR(testsongs::pitchHz(out.data() + 2 * (start + 1000), 44100, 44100.0), 441.0,
                441.0 * 0.02);
    EXPECT_NEAR(testsongs::pitchHz(out.data() + 2 * (start + 45000), 44100, 44100.0), 441.0,
                441.0 * 0.02);
    // The ending: slowed right down before the fade ends, silence after it.
    std::size_t last = frames;
    while (last > 0 && out[2 * last - 2] == 0.0f && out[2 * last - 1] == 0.0f) --last;
    ASSERT_GT(last, 44100u);
    EXPECT_GT(testsongs::peak(out, last - 22050, last - 20000), 0.4f);
    EXPECT_LT(testsongs::pitchHz(out.data() + 2 * (last - 6000), 5000, 44100.0), 100.0);
}

TEST_F(DiskDevice, NoDeviceMeansASilentShow) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(441, 0.2);
    assets::FileBlob blob;
    blob.data = mp3.data();
    blob.size = static_cast<std::int32_t>(mp3.size());
    EXPECT_EQ(music::open(blob), 0);
    music::play();
    const std::int64_t start = platform::counterNow();
    music::end();
    const double ms =
        1000.0 * double(platform::counterNow() - start) / double(platform::counterFrequency());
    EXPECT_GE(ms, 299.0);
}

// Whatever ALSA finds (here: no sound card at all), opening the device
// leaves standard error as it was: the show's audio failures are silent.
TEST_F(DiskDevice, AlsaSearchPrintsNothing) {
    setenv("SDL_AUDIODRIVER", "alsa", 1);
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    std::FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    dup2(fileno(capture), STDERR_FILENO);
    if (audio::init(audio::kDefaultDevice, 44100)) audio::free();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    const off_t printed = lseek(fileno(capture), 0, SEEK_END);
    std::fclose(capture);
    EXPECT_EQ(printed, 0) << "bytes on standard error";
}

} // namespace
