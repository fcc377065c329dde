// copy_bench.cpp -- the physical reference: one frame's worth of memcpy.
#include "aligned.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

static void copyMemcpyFrame(benchmark::State& state) {
    bench::AlignedVector<std::uint32_t> src(640 * 480, 0x12345678u), dst(640 * 480);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 4);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(copyMemcpyFrame)->Name("copy/memcpy_frame");
