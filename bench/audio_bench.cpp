// audio_bench.cpp -- CPU per second of rendered 44.1 kHz stereo audio: an MP3
// stream and a tracker module at their own rate, and the rate slide; and
// the cost of deciding what a song is and opening it.
#include "music/audio.h"
#include "test_songs.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr std::int32_t kSecond = 44100;

// An offline output holding one playing song for the benchmark's length.
class OfflineSong {
  public:
    explicit OfflineSong(bool module)
        : data_(module ? testsongs::modTone() : testsongs::mp3Tone(441, 5.0)), out_(2 * kSecond) {
        audio::setOfflineOutput(true);
        audio::init(audio::kDefaultDevice, audio::kOutputRate);
        const auto size = static_cast<std::uint32_t>(data_.size());
        if (module) {
            handle_ = audio::moduleFromMemory(data_.data(), size, 0x2006);
            audio::playModule(handle_);
        } else {
            handle_ = audio::streamFromMemory(data_.data(), size, audio::kStreamPrescan);
            audio::playStream(handle_, false, audio::kStreamLoop);
        }
    }
    ~OfflineSong() {
        audio::free();
        audio::setOfflineOutput(false);
    }
    OfflineSong(const OfflineSong&) = delete;
    OfflineSong& operator=(const OfflineSong&) = delete;

    audio::Handle handle() const { return handle_; }
    void renderSecond() {
        audio::renderOffline(out_.data(), kSecond);
        benchmark::DoNotOptimize(out_.data());
    }

  private:
    std::vector<std::uint8_t> data_;
    std::vector<float> out_;
    audio::Handle handle_ = 0;
};

void mixMp3Second(benchmark::State& state) {
    OfflineSong song(false);
    for (auto _ : state) song.renderSecond();
}
BENCHMARK(mixMp3Second)->Name("audio/mix_mp3_second")->Unit(benchmark::kMillisecond);

void mixModuleSecond(benchmark::State& state) {
    OfflineSong song(true);
    for (auto _ : state) song.renderSecond();
}
BENCHMARK(mixModuleSecond)->Name("audio/mix_module_second")->Unit(benchmark::kMillisecond);

// The ending's slide, stretched over the whole second, rate set per frame.
void slideSecond(benchmark::State& state) {
    OfflineSong song(false);
    for (auto _ : state) {
        audio::slideAttributes(song.handle(), 44100, -1, -101, 0);
        audio::slideAttributes(song.handle(), 1000, -1, -101, 1000);
        song.renderSecond();
    }
}
BENCHMARK(slideSecond)->Name("audio/slide_second")->Unit(benchmark::kMillisecond);

// music::open's two attempts on a 5 s MP3, a module, and 1 MiB of noise
// (libmpg123 searches all of it for a first frame before refusing it).
void openSong(benchmark::State& state) {
    std::vector<std::uint8_t> song;
    if (state.range(0) == 0) song = testsongs::mp3Tone(441, 5.0);
    if (state.range(0) == 1) song = testsongs::modTone();
    if (state.range(0) == 2) {
        std::mt19937 random(1);
        song.resize(1 << 20);
        for (auto& b : song) b = static_cast<std::uint8_t>(random());
    }
    const auto size = static_cast<std::uint32_t>(song.size());
    audio::setOfflineOutput(true);
    for (auto _ : state) {
        audio::init(audio::kDefaultDevice, audio::kOutputRate);
        if (audio::streamFromMemory(song.data(), size, audio::kStreamPrescan) == 0)
            benchmark::DoNotOptimize(audio::moduleFromMemory(song.data(), size, 0x2006));
        audio::free();
    }
    audio::setOfflineOutput(false);
}
BENCHMARK(openSong)->Name("audio/open_song")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
