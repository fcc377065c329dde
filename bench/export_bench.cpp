// export_bench.cpp -- the exporter's own work without the encoder: the whole
// show composed at 60 fps, and one frame upscaled to the larger sizes.
#include "export/codecs.h"
#include "export/compose.h"
#include "export/encoder.h"
#include "export/sound.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using canvas::PixelWord;

// Pictures of the sizes the default pack has: opaque backgrounds, a
// soft-edged moose and wide lyric banners, alpha-blended where the show
// blends.
struct BenchPictures {
    std::vector<std::vector<PixelWord>> store;
    show::Pictures pictures;
    canvas::Image make(int w, int h, PixelWord base, bool alpha) {
        store.emplace_back(std::size_t(w) * h);
        auto& words = store.back();
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const PixelWord a = alpha ? PixelWord((x * 5 + y * 3) & 0xFF) << 24 : 0xFF000000u;
                words[std::size_t(y) * w + x] = a | ((base + PixelWord(x * 3 + y)) & 0xFFFFFF);
            }
        }
        return canvas::Image{w, h, words.data(), alpha ? 1 : 0};
    }
    BenchPictures() {
        store.reserve(16);
        pictures.sunset = make(640, 480, 0x402010, false);
        pictures.greets = make(640, 480, 0x104020, false);
        pictures.credits = make(640, 480, 0x201040, false);
        for (int p = 0; p < 3; ++p) pictures.moose[p] = make(340, 336, 0x605040 + p, true);
        for (int l = 1; l <= 5; ++l) pictures.lyric[l] = make(1800, 84, 0x808080 + l, true);
    }
};

void composeShowAt60(benchmark::State& state, const show::Pictures& pictures) {
    std::vector<PixelWord> words(640 * 480);
    const canvas::Image target{640, 480, words.data(), 0};
    std::int64_t frames = 0;
    for (auto _ : state) {
        frames = exporter::composeShow(pictures, 60, target, [](canvas::Image frame) {
            benchmark::DoNotOptimize(frame.pixels);
            return true;
        });
        benchmark::ClobberMemory();
    }
    state.counters["frames"] = double(frames);
    state.counters["x_realtime"] =
        benchmark::Counter(192.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void composeShow60(benchmark::State& state) {
    BenchPictures pics;
    composeShowAt60(state, pics.pictures);
}
BENCHMARK(composeShow60)->Name("export/compose_show_60fps")->Unit(benchmark::kMillisecond);

// The same with the pictures kva-export would read from the working folder
// (run in the folder that holds the pack).
void composeShow60Pack(benchmark::State& state) {
    // Without the pack the asset store would print a line per picture.
    if (access(show::kArchiveName, R_OK) != 0) {
        state.SkipWithError("no pr0n.rar in the working folder");
        return;
    }
    exporter::ShowAssets assets;
    exporter::loadShowAssets(assets);
    composeShowAt60(state, assets.pictures);
    exporter::releaseShowAssets(assets);
}
BENCHMARK(composeShow60Pack)
    ->Name("export/compose_show_60fps_pack")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// One frame placed in the larger sizes: whole-pixel enlargement, centred on
// black where the factor does not fill the output.
void placeFrame(benchmark::State& state) {
    const exporter::Framing framing =
        exporter::framingFor(std::int32_t(state.range(0)), std::int32_t(state.range(1)));
    std::vector<PixelWord> src(640 * 480, 0xFF123456u);
    std::vector<PixelWord> dst(std::size_t(framing.width) * std::size_t(framing.height));
    const canvas::Image image{640, 480, src.data(), 0};
    for (auto _ : state) {
        exporter::place(image, framing, dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(placeFrame)
    ->Name("export/place_frame")
    ->Args({640, 480})
    ->Args({1920, 1440})
    ->Args({1920, 1080})
    ->Args({3840, 2160});

// One composed frame as the 4:2:0 planes the H.264 and VP9 encoders take.
void yuvFrame(benchmark::State& state) {
    BenchPictures pics;
    std::vector<PixelWord> words(640 * 480);
    const canvas::Image target{640, 480, words.data(), 0};
    exporter::composeStill(pics.pictures, 20 * 60, target);
    std::vector<std::uint8_t> planes(words.size() * 3 / 2);
    for (auto _ : state) {
        exporter::toYuv420(words.data(), 640, 480, planes.data());
        benchmark::DoNotOptimize(planes.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(yuvFrame)->Name("export/yuv420_frame");

// The default export's encoder at 640x480: composed frames made into 4:2:0
// planes here and encoded by ffmpeg with the default settings (silence as
// the sound, the file thrown away). Frames per second of wall time, and
// the multiple of real time at 60 fps.
void encodeDefault(benchmark::State& state) {
    const std::string ffmpeg = exporter::findProgram("ffmpeg");
    if (ffmpeg.empty()) {
        state.SkipWithError("no ffmpeg on PATH");
        return;
    }
    constexpr std::int64_t kFrames = 1200; // 20 s of show
    BenchPictures pics;
    const exporter::Options options;
    exporter::EncoderSettings settings;
    settings.ffmpeg = ffmpeg;
    settings.frames = exporter::rawFrameInput(640, 480, 60, true);
    settings.second = exporter::rawSoundInput();
    settings.outputArgs = exporter::codecArguments(options, exporter::Container::Mp4);
    for (const std::string& arg : exporter::muxerArguments(exporter::Container::Mp4, false))
        settings.outputArgs.push_back(arg);
    settings.output = "pipe:1";
    std::vector<float> silence(std::size_t(exporter::soundFramesFor(kFrames, 60)) * 2, 0.0f);
    std::vector<PixelWord> words(640 * 480);
    const canvas::Image target{640, 480, words.data(), 0};
    std::vector<std::uint8_t> planes(words.size() * 3 / 2);
    for (auto _ : state) {
        std::FILE* sound = std::tmpfile();
        std::FILE* sink = std::fopen("/dev/null", "wb");
        std::fwrite(silence.data(), sizeof(float), silence.size(), sound);
        std::fflush(sound);
        std::rewind(sound);
        settings.soundFd = fileno(sound);
        settings.outputFd = fileno(sink);
        exporter::Encoder encoder;
        if (!exporter::startEncoder(encoder, settings).empty()) {
            state.SkipWithError("ffmpeg did not start");
            break;
        }
        std::int64_t n = 0;
        exporter::composeShow(pics.pictures, 60, target, [&](canvas::Image frame) {
            exporter::toYuv420(frame.pixels, 640, 480, planes.data());
            return exporter::feedEncoder(encoder, planes.data(), planes.size()) && ++n < kFrames;
        });
        std::string complaint;
        if (exporter::finishEncoder(encoder, "", complaint) != 0)
            state.SkipWithError("ffmpeg failed");
        std::fclose(sound);
        std::fclose(sink);
    }
    state.counters["fps"] = benchmark::Counter(double(kFrames) * double(state.iterations()),
                                               benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(
        double(kFrames) / 60.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(encodeDefault)
    ->Name("export/encode_default_640x480")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

} // namespace
