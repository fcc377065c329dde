// blit.cpp -- clipping, the opaque row copy and the blend in 16-bit lanes.
#include "canvas/blit.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KVA_X86 1
#endif

namespace canvas {
namespace {

void blendRowScalar(PixelWord* dst, const PixelWord* src, std::int32_t count) {
    for (std::int32_t j = 0; j < count; ++j) dst[j] = blendPixel(dst[j], src[j]);
}

#ifdef KVA_X86

// AVX2: each source/destination byte pair is weighted (A, 255 - A) by one
// multiply-add. The data go in biased by -128 so they fit its signed operand;
// the bias comes back as the constant 128 * 255, and the exact sum, at most
// 65025, fits an unsigned lane.
__attribute__((target("avx2"))) inline __m256i blend8(__m256i d, __m256i s) {
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i flip = _mm256_set1_epi16(static_cast<short>(0xFF00));
    const __m256i back = _mm256_set1_epi16(128 * 255);
    const __m256i alphaLo = _mm256_set_epi32(0x07070707, 0x07070707, 0x03030303, 0x03030303,
                                             0x07070707, 0x07070707, 0x03030303, 0x03030303);
    const __m256i alphaHi = _mm256_add_epi8(alphaLo, _mm256_set1_epi8(8));
    const __m256i sb = _mm256_xor_si256(s, bias), db = _mm256_xor_si256(d, bias);
    const __m256i wLo = _mm256_xor_si256(_mm256_shuffle_epi8(s, alphaLo), flip);
    const __m256i wHi = _mm256_xor_si256(_mm256_shuffle_epi8(s, alphaHi), flip);
    __m256i lo = _mm256_maddubs_epi16(wLo, _mm256_unpacklo_epi8(sb, db));
    __m256i hi = _mm256_maddubs_epi16(wHi, _mm256_unpackhi_epi8(sb, db));
    lo = _mm256_srli_epi16(_mm256_add_epi16(lo, back), 8);
    hi = _mm256_srli_epi16(_mm256_add_epi16(hi, back), 8);
    return _mm256_packus_epi16(lo, hi);
}

__attribute__((target("avx2"))) void blendRowAvx2(PixelWord* dst, const PixelWord* src,
                                                  std::int32_t count) {
    // Two groups an iteration: both loads issue before the multiplies start.
    std::int32_t j = 0;
    for (; j + 16 <= count; j += 16) {
        auto* d = reinterpret_cast<__m256i*>(dst + j);
        const auto* s = reinterpret_cast<const __m256i*>(src + j);
        const __m256i s0 = _mm256_loadu_si256(s), d0 = _mm256_loadu_si256(d);
        const __m256i s1 = _mm256_loadu_si256(s + 1), d1 = _mm256_loadu_si256(d + 1);
        _mm256_storeu_si256(d, blend8(d0, s0));
        _mm256_storeu_si256(d + 1, blend8(d1, s1));
    }
    for (; j + 8 <= count; j += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + j));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), blend8(d, s));
    }
    blendRowScalar(dst + j, src + j, count - j);
}

// AVX-512: the blue/red bytes and the green/alpha bytes of each pixel are split into
// two sets of 16-bit lanes (even and odd bytes), so every product fits a lane
// and four multiplies serve sixteen pixels. The odd set keeps its bytes in the
// high half of each lane, where the shift by 8 leaves them anyway.
#define KVA_ALPHA_SHUFFLE 0xFF0FFF0F, 0xFF0BFF0B, 0xFF07FF07, 0xFF03FF03
__attribute__((target("avx512bw"))) inline __m512i blend16(__m512i d, __m512i s) {
    const __m512i even = _mm512_set1_epi32(0x00FF00FF);
    const __m512i high = _mm512_set1_epi16(static_cast<short>(0xFF00));
    const __m512i a = _mm512_shuffle_epi8(s, _mm512_set4_epi32(KVA_ALPHA_SHUFFLE));
    const __m512i ia = _mm512_sub_epi16(_mm512_set1_epi16(255), a);
    const __m512i lo = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_and_si512(d, even), ia),
                                        _mm512_mullo_epi16(_mm512_and_si512(s, even), a));
    const __m512i hi = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_srli_epi16(d, 8), ia),
                                        _mm512_mullo_epi16(_mm512_srli_epi16(s, 8), a));
    return _mm512_or_si512(_mm512_srli_epi16(lo, 8), _mm512_and_si512(hi, high));
}

__attribute__((target("avx512bw"))) void blendRowAvx512(PixelWord* dst, const PixelWord* src,
                                                        std::int32_t count) {
    std::int32_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const __m512i s = _mm512_loadu_si512(src + j);
        const __m512i d = _mm512_loadu_si512(dst + j);
        _mm512_storeu_si512(dst + j, blend16(d, s));
    }
    // The tail: one masked group, so short rows stay in vector registers too.
    if (j < count) {
        const __mmask16 m = static_cast<__mmask16>((1u << (count - j)) - 1);
        const __m512i s = _mm512_maskz_loadu_epi32(m, src + j);
        const __m512i d = _mm512_maskz_loadu_epi32(m, dst + j);
        _mm512_mask_storeu_epi32(dst + j, m, blend16(d, s));
    }
}
#endif

BlendPaths detectPaths() {
    BlendPaths p{blendRowScalar, nullptr, nullptr};
#ifdef KVA_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) p.avx2 = blendRowAvx2;
    if (__builtin_cpu_supports("avx512bw")) p.avx512 = blendRowAvx512;
#endif
    return p;
}

// Detected on first use, so a blend called from another start-up
// initialiser finds the paths already there.
const BlendPaths& paths() {
    static const BlendPaths p = detectPaths();
    return p;
}

BlendRowFn bestBlend() {
    static const BlendRowFn best = [] {
        const BlendPaths& p = paths();
        return p.avx512 ? p.avx512 : p.avx2 ? p.avx2 : p.scalar;
    }();
    return best;
}

} // namespace

BlendPaths blendPaths() {
    return paths();
}

void blendRow(PixelWord* dst, const PixelWord* src, std::int32_t count) {
    bestBlend()(dst, src, count);
}

void blitImage(Image dst, Image src, std::int32_t x, std::int32_t y, std::int32_t srcX,
               std::int32_t srcY, std::int32_t w, std::int32_t h) {
    if (w == 0 || h == 0) {
        w = src.width;
        h = src.height;
    }
    // 64-bit arithmetic: the same results as 32-bit wherever that does not
    // overflow, and no undefined behaviour where it would.
    std::int64_t X = x, Y = y, SX = srcX, SY = srcY, W = w, H = h;
    if (X + W > dst.width) W = dst.width - X;
    if (X < 0) {
        W += X;
        SX -= X;
        X = 0;
    }
    if (Y + H > dst.height) H = dst.height - Y;
    if (Y < 0) {
        H += Y;
        SY -= Y;
        Y = 0;
    }
    if (H > 480) H = 480;
    if (H <= 0 || W <= 0) return;

    const BlendRowFn blend = bestBlend();
    for (std::int64_t i = 0; i < H; ++i) {
        PixelWord* d = dst.pixels + (Y + i) * dst.width + X;
        const PixelWord* s = src.pixels + (SY + i) * src.width + SX;
        if (src.hasAlpha == 0)
            std::memcpy(d, s, std::size_t(W) * sizeof(PixelWord));
        else
            blend(d, s, static_cast<std::int32_t>(W));
    }
}

void drawImage(Image dst, Image src, std::int32_t x, std::int32_t y) {
    blitImage(dst, src, x, y, 0, 0, 0, 0);
}

} // namespace canvas
