// copy_bench.cpp -- the physical reference: one frame's worth of memcpy, and
// the memory traffic of a 24- or 16-bit conversion with no arithmetic.
#include "aligned.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int kWidth = 640, kHeight = 480;

void copyMemcpyFrame(benchmark::State& state) {
    bench::AlignedVector<std::uint32_t> src(kWidth * kHeight, 0x12345678u), dst(kWidth * kHeight);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 4);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(copyMemcpyFrame)->Name("copy/memcpy_frame");

#if defined(__x86_64__)
// Row by row, each source row read whole in 32-byte loads and
// bytesPerPixel * 640 bytes written in 32-byte stores, no arithmetic but a
// XOR: the floor a converter of that depth cannot beat on this machine.
[[gnu::target("avx2")]] void copyRows(const std::uint32_t* src, unsigned char* dst,
                                      int bytesPerPixel) {
    const int stores = bytesPerPixel; // per 32 pixels: 4 loads, 2 or 3 stores
    for (int y = 0; y < kHeight; ++y) {
        const auto* in = reinterpret_cast<const __m256i*>(src + y * kWidth);
        auto* out = reinterpret_cast<__m256i*>(dst + y * kWidth * bytesPerPixel);
        for (int i = 0; i < kWidth / 32; ++i, in += 4, out += stores) {
            const __m256i a = _mm256_load_si256(in), b = _mm256_load_si256(in + 1);
            const __m256i c = _mm256_load_si256(in + 2), d = _mm256_load_si256(in + 3);
            if (stores == 3) {
                _mm256_store_si256(out, _mm256_xor_si256(a, d));
                _mm256_store_si256(out + 1, b);
                _mm256_store_si256(out + 2, c);
            } else {
                _mm256_store_si256(out, _mm256_xor_si256(a, b));
                _mm256_store_si256(out + 1, _mm256_xor_si256(c, d));
            }
        }
    }
}

void copyRowsAs(benchmark::State& state, int bytesPerPixel) {
    if (!__builtin_cpu_supports("avx2")) {
        state.SkipWithError("no AVX2");
        return;
    }
    bench::AlignedVector<std::uint32_t> src(kWidth * kHeight, 0x12345678u);
    bench::AlignedVector<unsigned char> dst(std::size_t(kWidth) * kHeight * bytesPerPixel);
    for (auto _ : state) {
        copyRows(src.data(), dst.data(), bytesPerPixel);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(copyRowsAs, 24bit, 3)->Name("copy/rows_as_24bit");
BENCHMARK_CAPTURE(copyRowsAs, 16bit, 2)->Name("copy/rows_as_16bit");
#endif

} // namespace
