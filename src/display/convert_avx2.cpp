// convert_avx2.cpp -- the row converters in 256-bit vectors, compiled for
// AVX2 only here and chosen at run time, so the program runs on any x86-64.
#include "display/convert_pixel.h"

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

// Walks a row with a layout's kernels: wide groups, narrow groups, then one
// narrow group ending at the row's end that rewrites a few pixels with the
// values they already hold. Reads and writes stay inside the row; rows
// shorter than a narrow group go pixel by pixel.
template <class K>
[[gnu::target("avx2")]] void convertRow(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    std::int32_t i = 0;
    for (; i + K::kWide <= count; i += K::kWide) K::wide(src + i, out + i * K::kBytes);
    for (; i + K::kNarrow <= count; i += K::kNarrow) K::narrow(src + i, out + i * K::kBytes);
    if (i == count) return;
    if (count < K::kNarrow) {
        K::scalar(src, out, count);
        return;
    }
    i = count - K::kNarrow;
    K::narrow(src + i, out + i * K::kBytes);
}

struct Copy32 {
    static constexpr std::int32_t kBytes = 4, kWide = 32, kNarrow = 8;
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
    static constexpr std::int32_t kBytes = 4, kWide = 32, kNarrow = 8;
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
// low 12 bytes (dwords 0-2 and 4-6 of the register); dword permutes and
// blends then join four registers into three full stores.
template <bool Reverse> struct Pack24 {
    static constexpr std::int32_t kBytes = 3, kWide = 32, kNarrow = 8;
    static constexpr RowConverter scalar = Reverse ? scalarBgr24 : scalarRgb24;
    [[gnu::target("avx2")]] static __m256i squeeze(__m256i v) {
        const __m256i order =
            Reverse ? _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1,
                                       0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                    : _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1,
                                       2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        return _mm256_shuffle_epi8(v, order);
    }
    [[gnu::target("avx2")]] static __m256i pick(__m256i v, int i0, int i1, int i2, int i3, int i4,
                                                int i5, int i6, int i7) {
        return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(i0, i1, i2, i3, i4, i5, i6, i7));
    }
    [[gnu::target("avx2")]] static void wide(const PixelWord* src, unsigned char* out) {
        const __m256i a = squeeze(load8(src)), b = squeeze(load8(src + 8));
        const __m256i c = squeeze(load8(src + 16)), d = squeeze(load8(src + 24));
        store32(out, _mm256_blend_epi32(pick(a, 0, 1, 2, 4, 5, 6, 0, 0),
                                        pick(b, 0, 0, 0, 0, 0, 0, 0, 1), 0xC0));
        store32(out + 32, _mm256_blend_epi32(pick(b, 2, 4, 5, 6, 0, 0, 0, 0),
                                             pick(c, 0, 0, 0, 0, 0, 1, 2, 4), 0xF0));
        store32(out + 64, _mm256_blend_epi32(pick(c, 5, 6, 0, 0, 0, 0, 0, 0),
                                             pick(d, 0, 0, 0, 1, 2, 4, 5, 6), 0xFC));
    }
    [[gnu::target("avx2")]] static void narrow(const PixelWord* src, unsigned char* out) {
        const __m256i v = pick(squeeze(load8(src)), 0, 1, 2, 4, 5, 6, 0, 0);
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
    static constexpr std::int32_t kBytes = 2, kWide = 32, kNarrow = 8;
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
