// canvas_bench.cpp -- the blend of a full-canvas alpha picture, its peers,
// and one whole show frame as the step composes it.
#include "aligned.h"
#include "canvas/blit.h"
#include "show/show.h"

#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <pixman.h>

#include <random>
#include <vector>

namespace {

constexpr int kW = 640, kH = 480;

bench::AlignedVector<canvas::PixelWord> randomWords(std::size_t n, std::uint32_t seed,
                                                    bool opaque) {
    std::mt19937 rng(seed);
    bench::AlignedVector<canvas::PixelWord> v(n);
    for (auto& w : v) w = opaque ? (rng() | 0xFF000000u) : rng();
    return v;
}

struct BlendBuffers {
    bench::AlignedVector<canvas::PixelWord> src = randomWords(kW * kH, 1, false);
    bench::AlignedVector<canvas::PixelWord> dst = randomWords(kW * kH, 2, true);
    canvas::Image srcImage{kW, kH, src.data(), 1};
    canvas::Image dstImage{kW, kH, dst.data(), 0};
};

void blendKva(benchmark::State& state) {
    BlendBuffers b;
    for (auto _ : state) {
        canvas::drawImage(b.dstImage, b.srcImage, 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(blendKva)->Name("blend/kva");

// Each path on its own, where the processor has it. The path is looked up
// when the benchmark runs: the table is filled during static start-up.
void blendPath(benchmark::State& state, canvas::BlendRowFn canvas::BlendPaths::*which) {
    const canvas::BlendRowFn path = canvas::blendPaths().*which;
    if (!path) {
        state.SkipWithError("no such path on this processor");
        return;
    }
    BlendBuffers b;
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y) path(b.dst.data() + y * kW, b.src.data() + y * kW, kW);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(blendPath, avx2, &canvas::BlendPaths::avx2)->Name("blend/avx2");
BENCHMARK_CAPTURE(blendPath, avx512, &canvas::BlendPaths::avx512)->Name("blend/avx512");

void blendScalarReference(benchmark::State& state) {
    BlendBuffers b;
    for (auto _ : state) {
        for (std::size_t i = 0; i < b.dst.size(); ++i)
            b.dst[i] = canvas::blendPixel(b.dst[i], b.src[i]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(blendScalarReference)->Name("blend/scalar_reference");

void blendLibyuv(benchmark::State& state) {
    BlendBuffers b;
    auto* src = reinterpret_cast<const std::uint8_t*>(b.src.data());
    auto* dst = reinterpret_cast<std::uint8_t*>(b.dst.data());
    for (auto _ : state) {
        libyuv::ARGBBlend(src, kW * 4, dst, kW * 4, dst, kW * 4, kW, kH);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(blendLibyuv)->Name("blend/libyuv");

void blendPixman(benchmark::State& state) {
    BlendBuffers b;
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, b.src.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, b.dst.data(), kW * 4);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
}
BENCHMARK(blendPixman)->Name("blend/pixman");

// Show-sized pictures: an opaque background, a 200 x 300 moose and a
// 1200 x 100 lyric, both with random alpha.
void frameCompose(benchmark::State& state) {
    auto back = randomWords(kW * kH, 3, true);
    auto moose = randomWords(200 * 300, 4, false);
    auto lyric = randomWords(1200 * 100, 5, false);
    show::Pictures pictures;
    pictures.sunset = canvas::Image{kW, kH, back.data(), 0};
    for (auto& m : pictures.moose) m = canvas::Image{200, 300, moose.data(), 1};
    for (auto& l : pictures.lyric) l = canvas::Image{1200, 100, lyric.data(), 1};
    bench::AlignedVector<canvas::PixelWord> frame(kW * kH);
    const canvas::Image target{kW, kH, frame.data(), 0};

    show::ShowState s;
    show::initShowState(s);
    show::stepShow(s, 31.5f, pictures, target); // past the first cues: moose and lyric shown
    const show::ShowState at = s;
    for (auto _ : state) {
        s = at;
        s.showTime = 31.5f;
        s.lyricX = 100;
        show::stepShow(s, 0.0f, pictures, target);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(frameCompose)->Name("frame/compose");

// The same frame composed as kva composes it, changed rows only: with the
// lyric moved 3 pixels (its 100 rows) and with nothing moved (no row).
void frameComposeBanded(benchmark::State& state, bool lyricMoves) {
    auto back = randomWords(kW * kH, 3, true);
    auto moose = randomWords(200 * 300, 4, false);
    auto lyric = randomWords(1200 * 100, 5, false);
    show::Pictures pictures;
    pictures.sunset = canvas::Image{kW, kH, back.data(), 0};
    for (auto& m : pictures.moose) m = canvas::Image{200, 300, moose.data(), 1};
    for (auto& l : pictures.lyric) l = canvas::Image{1200, 100, lyric.data(), 1};
    bench::AlignedVector<canvas::PixelWord> frame(kW * kH);
    const canvas::Image target{kW, kH, frame.data(), 0};

    show::ShowState s;
    show::initShowState(s);
    s.composeWhole = false;
    show::stepShow(s, 31.5f, pictures, target);
    s.lyricX = 100;
    show::stepShow(s, 0.0f, pictures, target);
    const show::ShowState at = s;
    for (auto _ : state) {
        s = at;
        if (lyricMoves) s.lyricX = 97;
        show::stepShow(s, 0.0f, pictures, target);
        benchmark::ClobberMemory();
    }
    if (s.composed.end - s.composed.first != (lyricMoves ? 100 : 0))
        state.SkipWithError("not the rows expected");
}
BENCHMARK_CAPTURE(frameComposeBanded, lyric, true)->Name("frame/compose_banded/lyric");
BENCHMARK_CAPTURE(frameComposeBanded, still, false)->Name("frame/compose_banded/still");

} // namespace
