// yuv.cpp -- composed frames as BT.709 limited-range 4:2:0 planes, done
// here rather than in ffmpeg, whose single-threaded conversion took as
// long as the encoder itself; the bytes handed over shrink to 3/8 too.
#include "export/compose.h"

namespace exporter {
namespace {

// Coefficients in 1/65536 (Y) and 1/262144 (Cb and Cr, taken from the sum
// of a 2x2 block), rounded to nearest.
constexpr std::int32_t fixed(double c, int shift) {
    return std::int32_t(c * double(1 << shift) + (c >= 0 ? 0.5 : -0.5));
}
constexpr std::int32_t kYr = fixed(0.2126 * 219 / 255, 16);
constexpr std::int32_t kYg = fixed(0.7152 * 219 / 255, 16);
constexpr std::int32_t kYb = fixed(0.0722 * 219 / 255, 16);
constexpr double kCbScale = 224.0 / 255 / (2 * (1 - 0.0722));
constexpr double kCrScale = 224.0 / 255 / (2 * (1 - 0.2126));
constexpr std::int32_t kCbR = fixed(-0.2126 * kCbScale / 4, 18);
constexpr std::int32_t kCbG = fixed(-0.7152 * kCbScale / 4, 18);
constexpr std::int32_t kCbB = fixed((1 - 0.0722) * kCbScale / 4, 18);
constexpr std::int32_t kCrR = fixed((1 - 0.2126) * kCrScale / 4, 18);
constexpr std::int32_t kCrG = fixed(-0.7152 * kCrScale / 4, 18);
constexpr std::int32_t kCrB = fixed(-0.0722 * kCrScale / 4, 18);

inline std::int32_t red(canvas::PixelWord w) {
    return std::int32_t((w >> 16) & 0xFF);
}
inline std::int32_t green(canvas::PixelWord w) {
    return std::int32_t((w >> 8) & 0xFF);
}
inline std::int32_t blue(canvas::PixelWord w) {
    return std::int32_t(w & 0xFF);
}

// Compiled for AVX2 too, chosen when the processor has it. Not under
// ThreadSanitizer: the clone's resolver runs while the program is relocated,
// before the sanitizer's runtime is up, and its instrumented code crashes.
#if defined(__SANITIZE_THREAD__)
#define KVA_CLONES
#else
#define KVA_CLONES __attribute__((target_clones("avx2", "default")))
#endif

KVA_CLONES void lumaRow(const canvas::PixelWord* in, std::size_t width, std::uint8_t* out) {
    for (std::size_t x = 0; x < width; ++x) {
        const canvas::PixelWord w = in[x];
        out[x] = std::uint8_t(
            (kYr * red(w) + kYg * green(w) + kYb * blue(w) + (16 << 16) + (1 << 15)) >> 16);
    }
}

// One row of Cb and Cr from two rows of pixels.
KVA_CLONES void chromaRow(const canvas::PixelWord* a, const canvas::PixelWord* b, std::size_t width,
                          std::uint8_t* cb, std::uint8_t* cr) {
    for (std::size_t x = 0; x < width / 2; ++x) {
        const canvas::PixelWord p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], s = b[2 * x + 1];
        const std::int32_t R = red(p) + red(q) + red(r) + red(s);
        const std::int32_t G = green(p) + green(q) + green(r) + green(s);
        const std::int32_t B = blue(p) + blue(q) + blue(r) + blue(s);
        cb[x] = std::uint8_t((kCbR * R + kCbG * G + kCbB * B + (128 << 18) + (1 << 17)) >> 18);
        cr[x] = std::uint8_t((kCrR * R + kCrG * G + kCrB * B + (128 << 18) + (1 << 17)) >> 18);
    }
}

} // namespace

void toYuv420(const canvas::PixelWord* frame, std::int32_t width, std::int32_t height,
              std::uint8_t* out) {
    const std::size_t w = std::size_t(width), h = std::size_t(height);
    std::uint8_t* cb = out + w * h;
    std::uint8_t* cr = cb + (w / 2) * (h / 2);
    for (std::size_t y = 0; y < h; ++y) lumaRow(frame + y * w, w, out + y * w);
    for (std::size_t y = 0; y < h / 2; ++y) {
        chromaRow(frame + 2 * y * w, frame + (2 * y + 1) * w, w, cb + y * (w / 2),
                  cr + y * (w / 2));
    }
}

} // namespace exporter
