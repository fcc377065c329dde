// present_bench.cpp -- showing a converted 640 x 480 frame k times larger
// (each pixel a k x k block) beside a plain memcpy of the same enlarged
// picture's bytes: the enlargement should cost little more than that copy.
// Names end in /<k>/<bits per pixel>. present/changed_rows is the search
// for the rows an enlarged frame must send again, over two equal 32-bit
// frames (its worst case: every row compared).
#include "aligned.h"
#include "display/scale.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int kWidth = 640, kHeight = 480;

void presentScale(benchmark::State& state) {
    const int factor = int(state.range(0)), bytes = int(state.range(1)) / 8;
    const int srcPitch = kWidth * bytes, dstPitch = kWidth * factor * bytes;
    bench::AlignedVector<unsigned char> src(std::size_t(srcPitch) * kHeight, 0x5A);
    bench::AlignedVector<unsigned char> dst(std::size_t(dstPitch) * kHeight * factor);
    for (auto _ : state) {
        display::scaleFrame(src.data(), srcPitch, kWidth, kHeight, bytes, factor, dst.data(),
                            dstPitch);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void copyMemcpyScaled(benchmark::State& state) {
    const int factor = int(state.range(0)), bytes = int(state.range(1)) / 8;
    const std::size_t size = std::size_t(kWidth) * kHeight * factor * factor * bytes;
    bench::AlignedVector<unsigned char> src(size, 0x5A), dst(size);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void presentChangedRows(benchmark::State& state) {
    const int pitch = kWidth * 4;
    bench::AlignedVector<unsigned char> now(std::size_t(pitch) * kHeight, 0x5A);
    bench::AlignedVector<unsigned char> before(now.size(), 0x5A);
    for (auto _ : state) {
        display::RowSpan rows =
            display::changedRows(now.data(), before.data(), pitch, pitch, kHeight);
        benchmark::DoNotOptimize(rows);
    }
}

void scaleArguments(benchmark::internal::Benchmark* b) {
    for (int bits : {32, 24, 16})
        for (int factor = 1; factor <= 4; ++factor) b->Args({factor, bits});
}

} // namespace

BENCHMARK(presentScale)->Name("present/scale")->Apply(scaleArguments);
BENCHMARK(copyMemcpyScaled)->Name("copy/memcpy_scaled")->Apply(scaleArguments);
BENCHMARK(presentChangedRows)->Name("present/changed_rows");
