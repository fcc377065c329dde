// scale.cpp -- whole-number enlargement: each source row is widened once into
// a row buffer that stays in the first-level cache, which is then streamed to
// its factor destination rows. An enlarged frame (5 to 20 MB) overflows every
// cache, so the destination is written with non-temporal stores: no reading
// of destination lines before they are overwritten, no eviction of the frame
// buffer and pictures the next frame is made from.
#include "display/scale.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace display {
namespace {

// One pixel of 2, 3 or 4 bytes as a value the compiler can keep in a register.
template <int Bytes> struct Pixel { unsigned char b[Bytes]; };

// A row widened by a factor known when compiling, so the inner loop unrolls.
template <int Bytes, int Factor>
void widenRowFixed(const unsigned char* src, std::int32_t width, unsigned char* dst) {
    for (std::int32_t x = 0; x < width; ++x) {
        Pixel<Bytes> p;
        std::memcpy(&p, src + std::ptrdiff_t(x) * Bytes, Bytes);
        unsigned char* out = dst + std::ptrdiff_t(x) * Bytes * Factor;
        for (int i = 0; i < Factor; ++i) std::memcpy(out + i * Bytes, &p, Bytes);
    }
}

template <int Bytes>
void widenRowAny(const unsigned char* src, std::int32_t width, std::int32_t factor,
                 unsigned char* dst) {
    for (std::int32_t x = 0; x < width; ++x) {
        Pixel<Bytes> p;
        std::memcpy(&p, src + std::ptrdiff_t(x) * Bytes, Bytes);
        unsigned char* out = dst + std::ptrdiff_t(x) * Bytes * factor;
        for (std::int32_t i = 0; i < factor; ++i) std::memcpy(out + i * Bytes, &p, Bytes);
    }
}

// Packed 24-bit pixels moved as 4-byte words: each store writes one byte
// too many, which the next store (or the row's slack) takes. The last pixel
// is read by itself, so no byte past the source row is read.
template <int Factor>
void widenRow24Words(const unsigned char* src, std::int32_t width, unsigned char* dst) {
    if (width <= 0) return;
    for (std::int32_t x = 0; x + 1 < width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, src + std::ptrdiff_t(x) * 3, 4);
        unsigned char* out = dst + std::ptrdiff_t(x) * 3 * Factor;
        for (int i = 0; i < Factor; ++i) std::memcpy(out + i * 3, &p, 4);
    }
    widenRowFixed<3, Factor>(src + std::ptrdiff_t(width - 1) * 3, 1,
                             dst + std::ptrdiff_t(width - 1) * 3 * Factor);
}

#if defined(__x86_64__)
// Byte shuffles for four 24-bit pixels (12 bytes) widened Factor times: the
// output byte j is byte j % 3 of pixel j / 3 / Factor. Lanes past the 12 x
// Factor output bytes are spill, overwritten by the next group.
template <int Factor> struct Shuffles24 {
    static constexpr int kStores = (12 * Factor + 15) / 16;
    alignas(16) unsigned char index[kStores][16];
    constexpr Shuffles24() : index{} {
        for (int j = 0; j < kStores * 16; ++j)
            index[j / 16][j % 16] = j < 12 * Factor ? (j / 3 / Factor) * 3 + j % 3 : 0x80;
    }
};

// Four pixels a step while 16 bytes can be loaded inside the row; the rest
// as words. Writes up to 16 bytes of spill past the row.
template <int Factor>
[[gnu::target("ssse3")]] void widenRow24Shuffled(const unsigned char* src, std::int32_t width,
                                                 unsigned char* dst) {
    static constexpr Shuffles24<Factor> shuffles;
    std::int32_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 3));
        unsigned char* out = dst + std::ptrdiff_t(x) * 3 * Factor;
        for (int i = 0; i < Shuffles24<Factor>::kStores; ++i) {
            const __m128i index =
                _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles.index[i]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), _mm_shuffle_epi8(in, index));
        }
    }
    widenRow24Words<Factor>(src + x * 3, width - x, dst + std::ptrdiff_t(x) * 3 * Factor);
}

template <int Factor>
void widenRow24(const unsigned char* src, std::int32_t width, unsigned char* dst) {
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles)
        widenRow24Shuffled<Factor>(src, width, dst);
    else
        widenRow24Words<Factor>(src, width, dst);
}
#else
template <int Factor>
void widenRow24(const unsigned char* src, std::int32_t width, unsigned char* dst) {
    widenRow24Words<Factor>(src, width, dst);
}
#endif

template <int Bytes>
void widenRow(const unsigned char* src, std::int32_t width, std::int32_t factor,
              unsigned char* dst) {
    if constexpr (Bytes == 3) {
        switch (factor) {
        case 2:
            return widenRow24<2>(src, width, dst);
        case 3:
            return widenRow24<3>(src, width, dst);
        case 4:
            return widenRow24<4>(src, width, dst);
        default:
            return widenRowAny<3>(src, width, factor, dst);
        }
    }
    switch (factor) {
    case 2:
        return widenRowFixed<Bytes, 2>(src, width, dst);
    case 3:
        return widenRowFixed<Bytes, 3>(src, width, dst);
    case 4:
        return widenRowFixed<Bytes, 4>(src, width, dst);
    default:
        return widenRowAny<Bytes>(src, width, factor, dst);
    }
}
// Compiled for AVX2 as well, chosen when the processor has it. Not under
// ThreadSanitizer: the clone's resolver runs while the program is relocated,
// before the sanitizer's runtime is up, and its instrumented code crashes.
#if defined(__SANITIZE_THREAD__)
#define KVA_CLONES
#else
#define KVA_CLONES [[gnu::target_clones("avx2", "default")]]
#endif
KVA_CLONES [[gnu::flatten]] void widen(const unsigned char* src, std::int32_t width,
                                       std::int32_t bytesPerPixel, std::int32_t factor,
                                       unsigned char* dst) {
    switch (bytesPerPixel) {
    case 2:
        return widenRow<2>(src, width, factor, dst);
    case 3:
        return widenRow<3>(src, width, factor, dst);
    default:
        return widenRow<4>(src, width, factor, dst);
    }
}

#if defined(__x86_64__)
// SSE2, part of every x86-64 processor.
void streamRow(unsigned char* dst, const unsigned char* src, std::size_t bytes) {
    const std::size_t head =
        std::min<std::size_t>((16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15, bytes);
    std::memcpy(dst, src, head);
    dst += head;
    src += head;
    bytes -= head;
    for (; bytes >= 16; bytes -= 16, dst += 16, src += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    std::memcpy(dst, src, bytes);
}
void streamDone() {
    _mm_sfence(); // the streamed rows are visible to whoever reads the frame next
}
#else
void streamRow(unsigned char* dst, const unsigned char* src, std::size_t bytes) {
    std::memcpy(dst, src, bytes);
}
void streamDone() {}
#endif

} // namespace

std::int32_t wholeScaleFactor(std::int32_t screenWidth, std::int32_t screenHeight,
                              std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0 || screenWidth < width || screenHeight < height) return 0;
    return std::min(screenWidth / width, screenHeight / height);
}

RowSpan changedRows(const unsigned char* now, const unsigned char* before, std::int32_t pitch,
                    std::int32_t rowBytes, std::int32_t height) {
    const auto same = [&](std::int32_t y) {
        const std::ptrdiff_t at = std::ptrdiff_t(y) * pitch;
        return std::memcmp(now + at, before + at, std::size_t(rowBytes)) == 0;
    };
    RowSpan span;
    while (span.first < height && same(span.first)) ++span.first;
    span.end = height;
    while (span.end > span.first && same(span.end - 1)) --span.end;
    return span;
}

void scaleFrame(const unsigned char* src, std::int32_t srcPitch, std::int32_t width,
                std::int32_t height, std::int32_t bytesPerPixel, std::int32_t factor,
                unsigned char* dst, std::int32_t dstPitch) {
    const std::size_t rowBytes =
        std::size_t(width) * std::size_t(bytesPerPixel) * std::size_t(factor);
    thread_local std::vector<unsigned char> wide;
    if (wide.size() < rowBytes + 16) wide.resize(rowBytes + 16); // + the 24-bit rows' spill
    for (std::int32_t y = 0; y < height; ++y, src += srcPitch) {
        const unsigned char* row = src;
        if (factor > 1) {
            widen(src, width, bytesPerPixel, factor, wide.data());
            row = wide.data();
        }
        for (std::int32_t i = 0; i < factor; ++i, dst += dstPitch) {
            if (factor == 1)
                std::memcpy(dst, row, rowBytes); // a frame this small stays in the caches
            else
                streamRow(dst, row, rowBytes);
        }
    }
    streamDone();
}

} // namespace display
