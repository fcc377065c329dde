// convert.cpp -- the plain per-pixel converters, the choice of the fastest
// path once at start-up, and the selection table.
#include "display/convert.h"
#include "display/convert_pixel.h"

#include <cstring>

namespace display {

namespace pixel {

using canvas::PixelWord;

void scalarRgb32(const PixelWord* src, void* dst, std::int32_t count) {
    if (count > 0) std::memcpy(dst, src, std::size_t(count) * 4);
}
void scalarBgr32(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) putBgr32(out + 4 * i, src[i]);
}
void scalarRgb24(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) putRgb24(out + 3 * i, src[i]);
}
void scalarBgr24(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) putBgr24(out + 3 * i, src[i]);
}

namespace {
template <std::uint16_t (*Pack)(PixelWord)>
void scalar16(const PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) put16(out + 2 * i, Pack(src[i]));
}
} // namespace

void scalarRgb565(const PixelWord* s, void* d, std::int32_t n) {
    scalar16<rgb565>(s, d, n);
}
void scalarBgr565(const PixelWord* s, void* d, std::int32_t n) {
    scalar16<bgr565>(s, d, n);
}
void scalarRgb555(const PixelWord* s, void* d, std::int32_t n) {
    scalar16<rgb555>(s, d, n);
}
void scalarBgr555(const PixelWord* s, void* d, std::int32_t n) {
    scalar16<bgr555>(s, d, n);
}

} // namespace pixel

namespace {

using pixel::kLayoutCount;
using pixel::Layout;

constexpr RowConverter kScalar[kLayoutCount] = {
    pixel::scalarRgb32,  pixel::scalarBgr32,  pixel::scalarRgb24,  pixel::scalarBgr24,
    pixel::scalarRgb565, pixel::scalarBgr565, pixel::scalarRgb555, pixel::scalarBgr555,
};
constexpr RowConverter kPublic[kLayoutCount] = {
    convertRgb32,  convertBgr32,  convertRgb24,  convertBgr24,
    convertRgb565, convertBgr565, convertRgb555, convertBgr555,
};

// Filled once, before main, with each layout's widest path.
struct State {
    ConvertPaths paths[kLayoutCount];
    RowConverter best[kLayoutCount];
};

State detect() {
    State s{};
    for (int i = 0; i < kLayoutCount; ++i) {
        const auto layout = static_cast<Layout>(i);
        const ConvertPaths p = {kScalar[i], pixel::avx2Converter(layout),
                                pixel::avx512Converter(layout)};
        s.paths[i] = p;
        s.best[i] = p.avx512 ? p.avx512 : p.avx2 ? p.avx2 : p.scalar;
    }
    return s;
}

const State state = detect();

// A converter called by another start-up initializer before this one ran
// still gets the plain path.
inline void run(Layout layout, const canvas::PixelWord* src, void* dst, std::int32_t count) {
    const int i = static_cast<int>(layout);
    (state.best[i] ? state.best[i] : kScalar[i])(src, dst, count);
}

} // namespace

void convertRgb32(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::rgb32, s, d, n);
}
void convertBgr32(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::bgr32, s, d, n);
}
void convertRgb24(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::rgb24, s, d, n);
}
void convertBgr24(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::bgr24, s, d, n);
}
void convertRgb565(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::rgb565, s, d, n);
}
void convertBgr565(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::bgr565, s, d, n);
}
void convertRgb555(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::rgb555, s, d, n);
}
void convertBgr555(const canvas::PixelWord* s, void* d, std::int32_t n) {
    run(Layout::bgr555, s, d, n);
}

ConvertPaths convertPaths(RowConverter converter) {
    for (int i = 0; i < kLayoutCount; ++i)
        if (kPublic[i] == converter) return state.paths[i];
    return {nullptr, nullptr, nullptr};
}

RowConverter selectRowConverter(std::uint32_t bitCount, std::uint32_t redMask,
                                std::uint32_t greenMask, std::uint32_t blueMask) {
    struct Row {
        std::uint32_t bits, r, g, b;
        RowConverter convert;
    };
    static constexpr Row kTable[] = {
        {32, 0x00FF0000, 0x0000FF00, 0x000000FF, convertRgb32},
        {32, 0x000000FF, 0x0000FF00, 0x00FF0000, convertBgr32},
        {24, 0x00FF0000, 0x0000FF00, 0x000000FF, convertRgb24},
        {24, 0x000000FF, 0x0000FF00, 0x00FF0000, convertBgr24},
        {16, 0xF800, 0x07E0, 0x001F, convertRgb565},
        {16, 0x001F, 0x07E0, 0xF800, convertBgr565},
        {16, 0x7C00, 0x03E0, 0x001F, convertRgb555},
        {16, 0x001F, 0x03E0, 0x7C00, convertBgr555},
    };
    for (const Row& row : kTable)
        if (row.bits == bitCount && row.r == redMask && row.g == greenMask && row.b == blueMask)
            return row.convert;
    return nullptr;
}

} // namespace display
