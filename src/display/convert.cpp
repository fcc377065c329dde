// convert.cpp -- plain per-pixel row converters and the selection table.
#include "display/convert.h"

#include <cstring>

namespace display {
namespace {

std::uint16_t pack565(std::uint32_t hi, std::uint32_t g, std::uint32_t lo) {
    return static_cast<std::uint16_t>(((hi >> 3) << 11) | ((g >> 2) << 5) | (lo >> 3));
}
std::uint16_t pack555(std::uint32_t hi, std::uint32_t g, std::uint32_t lo) {
    return static_cast<std::uint16_t>(((hi >> 3) << 10) | ((g >> 3) << 5) | (lo >> 3));
}
template <std::uint16_t (*Pack)(std::uint32_t, std::uint32_t, std::uint32_t), bool RedHigh>
void convert16(const canvas::PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t p = src[i], r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        const std::uint16_t v = RedHigh ? Pack(r, g, b) : Pack(b, g, r);
        out[2 * i] = static_cast<unsigned char>(v);
        out[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
}

} // namespace

void convertRgb32(const canvas::PixelWord* src, void* dst, std::int32_t count) {
    if (count > 0) std::memcpy(dst, src, std::size_t(count) * 4);
}
void convertBgr32(const canvas::PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t p = src[i];
        out[4 * i] = static_cast<unsigned char>(p >> 16);
        out[4 * i + 1] = static_cast<unsigned char>(p >> 8);
        out[4 * i + 2] = static_cast<unsigned char>(p);
        out[4 * i + 3] = 0;
    }
}
void convertRgb24(const canvas::PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t p = src[i];
        out[3 * i] = static_cast<unsigned char>(p);
        out[3 * i + 1] = static_cast<unsigned char>(p >> 8);
        out[3 * i + 2] = static_cast<unsigned char>(p >> 16);
    }
}
void convertBgr24(const canvas::PixelWord* src, void* dst, std::int32_t count) {
    auto* out = static_cast<unsigned char*>(dst);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t p = src[i];
        out[3 * i] = static_cast<unsigned char>(p >> 16);
        out[3 * i + 1] = static_cast<unsigned char>(p >> 8);
        out[3 * i + 2] = static_cast<unsigned char>(p);
    }
}
void convertRgb565(const canvas::PixelWord* s, void* d, std::int32_t n) {
    convert16<pack565, true>(s, d, n);
}
void convertBgr565(const canvas::PixelWord* s, void* d, std::int32_t n) {
    convert16<pack565, false>(s, d, n);
}
void convertRgb555(const canvas::PixelWord* s, void* d, std::int32_t n) {
    convert16<pack555, true>(s, d, n);
}
void convertBgr555(const canvas::PixelWord* s, void* d, std::int32_t n) {
    convert16<pack555, false>(s, d, n);
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
