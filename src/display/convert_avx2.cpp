// convert_avx2.cpp -- the row converters in 256-bit vectors, compiled for
// AVX2 only here and chosen at run time, so the program runs on any x86-64.
#include "display/convert_pixel.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KVA_X86 1
#endif

namespace display::pixel {

#ifdef KVA_X86
namespace {

using canvas::PixelWord;

[[gnu::target("avx2")]] inline __m256i load8(const PixelWord* src) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
}
[[gnu::target("avx2")]] inline void store32(unsigned char* out, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}
[[gnu::target("avx2")]] inline void store16(unsigned char* out, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

// Pixels to skip so that the source reaches a 32-byte boundary: aligned
// loads never straddle a cache line, which costs a fifth of the time.
inline std::int32_t toAlignedSource(const PixelWord* src) {
    return static_cast<std::int32_t>((0u - reinterpret_cast<std::uintptr_t>(src)) & 31u) / 4;
}

// Walks a row with a layout's kernels: one narrow group at the start, wide
// groups from the first aligned source word on, narrow groups, then one
// narrow group ending at the row's end. Overlapping groups rewrite pixels
// with the values they already hold. A wide group may scribble kSpill
// pixels past its end, so it only runs where later groups rewrite them.
// Reads and writes stay inside the row; rows shorter than a narrow group
// go pixel by pixel.
template <class K>
[[gnu::target("avx2")]] void convertRow(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    if (count < K::kNarrow) {
        K::scalar(src, out, count);
        return;
    }
    std::int32_t i = toAlignedSource(src);
    if (i > 0) K::narrow(src, out);
    for (; i + K::kWide + K::kSpill <= count; i += K::kWide) K::wide(src + i, out + i * K::kBytes);
    for (; i + K::kNarrow <= count; i += K::kNarrow) K::narrow(src + i, out + i * K::kBytes);
    if (i == count) return;
    i = count - K::kNarrow;
    K::narrow(src + i, out + i * K::kBytes);
}

struct Copy32 {
    static constexpr std::int32_t kBytes = 4, kWide = 32, kNarrow = 8, kSpill = 0;
    static constexpr RowConverter scalar = scalarRgb32;
    [[gnu::target("avx2")]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m256i a = load8(src), b = load8(src + 8), c = load8(src + 16), d = load8(src + 24);
        store32(out, a);
        store32(out + 32, b);
        store32(out + 64, c);
        store32(out + 96, d);
    }
    [[gnu::target("avx2")]] static void narrow(const PixelWord* src, unsigned char* out) {
        store32(out, load8(src));
    }
};

// B, G, R, A to R, G, B, 0 inside each word.
struct Swap32 {
    static constexpr std::int32_t kBytes = 4, kWide = 32, kNarrow = 8, kSpill = 0;
    static constexpr RowConverter scalar = scalarBgr32;
    [[gnu::target("avx2")]] static __m256i swap(__m256i v) {
        const __m256i order =
            _mm256_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1, 2, 1, 0, -1, 6,
                             5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
        return _mm256_shuffle_epi8(v, order);
    }
    [[gnu::target("avx2")]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m256i a = load8(src), b = load8(src + 8), c = load8(src + 16), d = load8(src + 24);
        store32(out, swap(a));
        store32(out + 32, swap(b));
        store32(out + 64, swap(c));
        store32(out + 96, swap(d));
    }
    [[gnu::target("avx2")]] static void narrow(const PixelWord* src, unsigned char* out) {
        store32(out, swap(load8(src)));
    }
};

// 24-bit rows: a byte shuffle packs each 128-bit half's four pixels into its
// low 12 bytes. The wide group (32 pixels, 96 bytes) then moves each
// register's six packed words to where they go in three whole 32-byte
// stores (one cross-lane permute a register) and joins neighbours by a
// blend: three full stores, nothing written twice. The narrow group joins
// the halves and stores exactly 24 bytes.
template <bool Reverse> struct Pack24 {
    static constexpr std::int32_t kBytes = 3, kWide = 32, kNarrow = 8, kSpill = 0;
    static constexpr RowConverter scalar = Reverse ? scalarBgr24 : scalarRgb24;
    [[gnu::target("avx2")]] static __m256i squeeze(__m256i v) {
        const __m256i order =
            Reverse ? _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1,
                                       0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                    : _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1,
                                       2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        return _mm256_shuffle_epi8(v, order);
    }
    [[gnu::target("avx2")]] static __m256i place(const PixelWord* src, __m256i order) {
        return _mm256_permutevar8x32_epi32(squeeze(load8(src)), order);
    }
    [[gnu::target("avx2")]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m256i a = place(src, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0));
        const __m256i b = place(src + 8, _mm256_setr_epi32(2, 4, 5, 6, 0, 0, 0, 1));
        const __m256i c = place(src + 16, _mm256_setr_epi32(5, 6, 0, 0, 0, 1, 2, 4));
        const __m256i d = place(src + 24, _mm256_setr_epi32(0, 0, 0, 1, 2, 4, 5, 6));
        store32(out, _mm256_blend_epi32(a, b, 0xC0));
        store32(out + 32, _mm256_blend_epi32(b, c, 0xF0));
        store32(out + 64, _mm256_blend_epi32(c, d, 0xFC));
    }
    [[gnu::target("avx2")]] static void narrow(const PixelWord* src, unsigned char* out) {
        const __m256i order = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0);
        const __m256i v = _mm256_permutevar8x32_epi32(squeeze(load8(src)), order);
        store16(out, _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(v, 1));
    }
};

// 16-bit rows, per 32-bit lane: the top five bits of red and of blue are
// kept in place and moved to their fields by one multiply-add of the 16-bit
// halves (blue by LowMul, red by HighMul); green is masked in; a shift right
// brings the value to the low 16 bits, and an unsigned pack of two registers
// joins them (no lane exceeds 0xFFFF, so nothing saturates).
template <int LowMul, int HighMul, int GreenMask, int Shift, RowConverter Scalar> struct Pack16 {
    static constexpr std::int32_t kBytes = 2, kWide = 32, kNarrow = 8, kSpill = 0;
    static constexpr RowConverter scalar = Scalar;
    [[gnu::target("avx2")]] static __m256i lanes(__m256i p) {
        const __m256i rb = _mm256_and_si256(p, _mm256_set1_epi32(0x00F800F8));
        const __m256i moved = _mm256_madd_epi16(rb, _mm256_set1_epi32((HighMul << 16) | LowMul));
        const __m256i g = _mm256_and_si256(p, _mm256_set1_epi32(GreenMask));
        return _mm256_srli_epi32(_mm256_or_si256(moved, g), Shift);
    }
    // Sixteen pixels in order: the pack works per 128-bit half.
    [[gnu::target("avx2")]] static __m256i pack(__m256i lo, __m256i hi) {
        return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
    }
    [[gnu::target("avx2")]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m256i a = lanes(load8(src)), b = lanes(load8(src + 8));
        const __m256i c = lanes(load8(src + 16)), d = lanes(load8(src + 24));
        store32(out, pack(a, b));
        store32(out + 32, pack(c, d));
    }
    [[gnu::target("avx2")]] static void narrow(const PixelWord* src, unsigned char* out) {
        const __m256i v = lanes(load8(src));
        store16(out, _mm256_castsi256_si128(pack(v, v)));
    }
};

using Rgb565 = Pack16<4, 0x2000, 0xFC00, 5, scalarRgb565>;
using Bgr565 = Pack16<0x2000, 4, 0xFC00, 5, scalarBgr565>;
using Rgb555 = Pack16<8, 0x2000, 0xF800, 6, scalarRgb555>;
using Bgr555 = Pack16<0x2000, 8, 0xF800, 6, scalarBgr555>;

constexpr RowConverter kAvx2[kLayoutCount] = {
    convertRow<Copy32>, convertRow<Swap32>, convertRow<Pack24<false>>, convertRow<Pack24<true>>,
    convertRow<Rgb565>, convertRow<Bgr565>, convertRow<Rgb555>,        convertRow<Bgr555>,
};

} // namespace

RowConverter avx2Converter(Layout layout) {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return nullptr;
    return kAvx2[static_cast<int>(layout)];
}

#else

RowConverter avx2Converter(Layout) {
    return nullptr;
}

#endif

} // namespace display::pixel
