// scale.cpp -- whole-number enlargement: each source row is widened once into
// the first of its factor destination rows, which is then copied to the rest.
#include "display/scale.h"

#include <algorithm>
#include <cstring>

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

template <int Bytes>
void widenRow(const unsigned char* src, std::int32_t width, std::int32_t factor,
              unsigned char* dst) {
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

// Compiled for AVX2 as well, chosen when the processor has it.
[[gnu::target_clones("avx2", "default"), gnu::flatten]] void
widen(const unsigned char* src, std::int32_t width, std::int32_t bytesPerPixel, std::int32_t factor,
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

} // namespace

std::int32_t wholeScaleFactor(std::int32_t screenWidth, std::int32_t screenHeight,
                              std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0 || screenWidth < width || screenHeight < height) return 0;
    return std::min(screenWidth / width, screenHeight / height);
}

void scaleFrame(const unsigned char* src, std::int32_t srcPitch, std::int32_t width,
                std::int32_t height, std::int32_t bytesPerPixel, std::int32_t factor,
                unsigned char* dst, std::int32_t dstPitch) {
    const std::size_t rowBytes =
        std::size_t(width) * std::size_t(bytesPerPixel) * std::size_t(factor);
    for (std::int32_t y = 0; y < height; ++y, src += srcPitch) {
        unsigned char* first = dst;
        if (factor == 1)
            std::memcpy(first, src, rowBytes);
        else
            widen(src, width, bytesPerPixel, factor, first);
        dst += dstPitch;
        for (std::int32_t i = 1; i < factor; ++i, dst += dstPitch)
            std::memcpy(dst, first, rowBytes);
    }
}

} // namespace display
