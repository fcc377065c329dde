// assets_bench.cpp -- start-up cost of the pictures: eleven show-sized PNGs
// loaded from a deflated zip archive and decoded.
#include "assets/png.h"
#include "assets/store.h"
#include "test_assets.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using testassets::PngPicture;

// Small deterministic noise, so the pictures compress like drawn ones
// rather than like flat fills.
std::uint32_t noise(std::uint32_t x, std::uint32_t y) {
    std::uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (h ^ (h >> 16)) & 7;
}

PngPicture background(std::uint32_t tint) {
    std::vector<std::uint32_t> words;
    for (std::uint32_t y = 0; y < 480; ++y)
        for (std::uint32_t x = 0; x < 640; ++x) {
            const std::uint32_t r = (255 - y * 200 / 480 + noise(x, y)) & 0xff;
            const std::uint32_t g = (y * 120 / 480 + tint + noise(y, x)) & 0xff;
            const std::uint32_t b = (x * 90 / 640 + 40) & 0xff;
            words.push_back(0xff000000 | r << 16 | g << 8 | b);
        }
    return testassets::pictureFromWords(640, 480, words, false);
}

// An opaque blob with a soft edge on a transparent ground.
PngPicture sprite(int width, int height, std::uint32_t colour) {
    std::vector<std::uint32_t> words;
    const int cx = width / 2, cy = height / 2;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = (x - cx) * 100 / cx, dy = (y - cy) * 100 / cy;
            const int d = dx * dx + dy * dy;
            const std::uint32_t a = d < 8000 ? 255 : d < 10000 ? (10000 - d) * 255 / 2000 : 0;
            words.push_back(a << 24 | ((colour + noise(x, y)) & 0xffffff));
        }
    return testassets::pictureFromWords(width, height, words, true);
}

// Letter-like strokes on a transparent ground.
PngPicture lyric(std::uint32_t seed) {
    std::vector<std::uint32_t> words;
    for (std::uint32_t y = 0; y < 100; ++y)
        for (std::uint32_t x = 0; x < 1200; ++x) {
            const bool ink =
                y > 20 && y < 80 && ((x / 9 + seed) % 5 < 2 || (y / 7 + x / 31) % 6 == 0);
            words.push_back(ink ? 0xffffffe0 : 0x00000000);
        }
    return testassets::pictureFromWords(1200, 100, words, true);
}

const char* const kNames[11] = {"moose_middle.png", "moose_right.png", "moose_left.png",
                                "solnedgang.png",   "greets.png",      "credits.png",
                                "refreng_1.png",    "refreng_2.png",   "vers_1.png",
                                "vers_2.png",       "mange_hoyre.png"};

std::vector<testassets::ZipEntry> showArchive() {
    std::vector<PngPicture> pictures;
    for (std::uint32_t i = 0; i < 3; ++i) pictures.push_back(sprite(200, 300, 0x6a4a30 + i));
    for (std::uint32_t i = 0; i < 3; ++i) pictures.push_back(background(i * 20));
    for (std::uint32_t i = 0; i < 5; ++i) pictures.push_back(lyric(i));
    std::vector<testassets::ZipEntry> entries;
    for (int i = 0; i < 11; ++i)
        entries.push_back({kNames[i], testassets::writePng(pictures[std::size_t(i)]), true});
    return entries;
}

void loadAndDecodeAll(benchmark::State& state) {
    testassets::ScopedTempDir dir;
    if (!testassets::writeZip("pr0n.rar", showArchive())) {
        state.SkipWithError("cannot write the archive");
        return;
    }
    std::int64_t pixels = 0;
    for (auto _ : state) {
        assets::openArchive("pr0n.rar");
        for (const char* name : kNames) {
            canvas::Image image = assets::decodePng(assets::loadFile(name));
            benchmark::DoNotOptimize(image.pixels);
            pixels += std::int64_t(image.width) * image.height;
            canvas::releaseImage(image);
        }
        assets::closeArchive();
    }
    state.counters["pixels/s"] = benchmark::Counter(double(pixels), benchmark::Counter::kIsRate);
}
BENCHMARK(loadAndDecodeAll)->Name("assets/load_and_decode_all")->Unit(benchmark::kMillisecond);

// The archive part alone, to show how much of the start-up is PNG decoding.
void loadAll(benchmark::State& state) {
    testassets::ScopedTempDir dir;
    if (!testassets::writeZip("pr0n.rar", showArchive())) {
        state.SkipWithError("cannot write the archive");
        return;
    }
    for (auto _ : state) {
        assets::openArchive("pr0n.rar");
        for (const char* name : kNames) {
            assets::FileBlob blob = assets::loadFile(name);
            benchmark::DoNotOptimize(blob.data);
            assets::releaseFileBlob(blob);
        }
        assets::closeArchive();
    }
}
BENCHMARK(loadAll)->Name("assets/load_all")->Unit(benchmark::kMillisecond);

} // namespace
