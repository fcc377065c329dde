// convert_avx512.cpp -- the 16-bit row converters in 512-bit vectors,
// compiled for AVX-512 only here and chosen at run time. Masked loads and
// stores convert the ragged ends of a row without touching a byte outside
// it.
#include "display/convert_pixel.h"

#include <cstdint>

#if defined(__x86_64__)
// GCC 12's AVX-512 headers seed results with an undefined vector, which its
// own uninitialized-use check then reports inside the header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define KVA_X86_64 1
#endif

namespace display::pixel {

#ifdef KVA_X86_64
namespace {

using canvas::PixelWord;

#define KVA_AVX512 gnu::target("avx512f,avx512bw,avx512vl")

[[KVA_AVX512]] inline __m512i load16(const PixelWord* src) {
    return _mm512_loadu_si512(src);
}
// The first n (1 to 16) words; the rest read as zero and are never fetched.
[[KVA_AVX512]] inline __m512i loadPart(const PixelWord* src, std::int32_t n) {
    return _mm512_maskz_loadu_epi32(static_cast<__mmask16>((1u << n) - 1), src);
}

// Pixels to skip so that the source reaches a 64-byte boundary: loads that
// straddle a cache line cost a fifth of the time.
inline std::int32_t toAlignedSource(const PixelWord* src) {
    return static_cast<std::int32_t>((0u - reinterpret_cast<std::uintptr_t>(src)) & 63u) / 4;
}

// A masked group up to the first aligned word, whole groups, then masked
// groups of at most 16 pixels to the row's end.
template <class K>
[[KVA_AVX512]] void convertRow(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    std::int32_t i = toAlignedSource(src);
    if (i > count) i = count;
    if (i > 0) K::part(src, out, i);
    for (; i + K::kWide <= count; i += K::kWide) K::wide(src + i, out + i * K::kBytes);
    for (; i < count; i += 16) {
        const std::int32_t n = count - i < 16 ? count - i : 16;
        K::part(src + i, out + i * K::kBytes, n);
    }
}

// 16-bit rows: the per-lane arithmetic of the AVX2 path (multiply-add of
// the red and blue fields by 16-bit halves, green masked in, shift) with
// the OR and mask in one ternary-logic step; the pack works per 128-bit
// quarter, so a qword permute puts the pixels back in order.
template <int LowMul, int HighMul, int GreenMask, int Shift> struct Pack16 {
    static constexpr std::int32_t kBytes = 2, kWide = 64;
    [[KVA_AVX512]] static __m512i lanes(__m512i p) {
        const __m512i rb = _mm512_and_si512(p, _mm512_set1_epi32(0x00F800F8));
        const __m512i moved = _mm512_madd_epi16(rb, _mm512_set1_epi32((HighMul << 16) | LowMul));
        // moved | (p & green)
        const __m512i v = _mm512_ternarylogic_epi32(moved, p, _mm512_set1_epi32(GreenMask), 0xF8);
        return _mm512_srli_epi32(v, Shift);
    }
    [[KVA_AVX512]] static __m512i pack(__m512i lo, __m512i hi) {
        const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
        return _mm512_permutexvar_epi64(order, _mm512_packus_epi32(lo, hi));
    }
    [[KVA_AVX512]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m512i a = lanes(load16(src)), b = lanes(load16(src + 16));
        const __m512i c = lanes(load16(src + 32)), d = lanes(load16(src + 48));
        _mm512_storeu_si512(out, pack(a, b));
        _mm512_storeu_si512(out + 64, pack(c, d));
    }
    [[KVA_AVX512]] static void part(const PixelWord* src, unsigned char* out, std::int32_t n) {
        const __m256i v = _mm512_cvtepi32_epi16(lanes(loadPart(src, n)));
        _mm256_mask_storeu_epi16(out, static_cast<__mmask16>((1u << n) - 1), v);
    }
};

#undef KVA_AVX512

using Rgb565 = Pack16<4, 0x2000, 0xFC00, 5>;
using Bgr565 = Pack16<0x2000, 4, 0xFC00, 5>;
using Rgb555 = Pack16<8, 0x2000, 0xF800, 6>;
using Bgr555 = Pack16<0x2000, 8, 0xF800, 6>;

// The 32- and 24-bit layouts are bound by memory already in 256-bit
// vectors. 512-bit ones only slow them down, by up to 5 %, even in whole
// aligned cache lines and even for a loop that merely loads and stores.
constexpr RowConverter kAvx512[kLayoutCount] = {
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    convertRow<Rgb565>,
    convertRow<Bgr565>,
    convertRow<Rgb555>,
    convertRow<Bgr555>,
};

} // namespace

RowConverter avx512Converter(Layout layout) {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
        !__builtin_cpu_supports("avx512vl"))
        return nullptr;
    return kAvx512[static_cast<int>(layout)];
}

#else

RowConverter avx512Converter(Layout) {
    return nullptr;
}

#endif

} // namespace display::pixel
