// convert_pixel.h -- the per-pixel formulas every row converter path gives,
// and the vector paths' entry points (used inside the display module only).
#pragma once

#include "display/convert.h"

#include <cstdint>

namespace display::pixel {

inline std::uint32_t red(canvas::PixelWord p) {
    return (p >> 16) & 0xFF;
}
inline std::uint32_t green(canvas::PixelWord p) {
    return (p >> 8) & 0xFF;
}
inline std::uint32_t blue(canvas::PixelWord p) {
    return p & 0xFF;
}

// Channels are truncated to 5 or 6 bits; hi lands in the top field.
inline std::uint16_t pack565(std::uint32_t hi, std::uint32_t g, std::uint32_t lo) {
    return static_cast<std::uint16_t>(((hi >> 3) << 11) | ((g >> 2) << 5) | (lo >> 3));
}
inline std::uint16_t pack555(std::uint32_t hi, std::uint32_t g, std::uint32_t lo) {
    return static_cast<std::uint16_t>(((hi >> 3) << 10) | ((g >> 3) << 5) | (lo >> 3));
}

inline std::uint16_t rgb565(canvas::PixelWord p) {
    return pack565(red(p), green(p), blue(p));
}
inline std::uint16_t bgr565(canvas::PixelWord p) {
    return pack565(blue(p), green(p), red(p));
}
inline std::uint16_t rgb555(canvas::PixelWord p) {
    return pack555(red(p), green(p), blue(p));
}
inline std::uint16_t bgr555(canvas::PixelWord p) {
    return pack555(blue(p), green(p), red(p));
}

// Display memory is little-endian whatever the host: stores go byte by byte.
inline void put16(unsigned char* out, std::uint16_t v) {
    out[0] = static_cast<unsigned char>(v);
    out[1] = static_cast<unsigned char>(v >> 8);
}

inline void putBgr32(unsigned char* out, canvas::PixelWord p) {
    out[0] = static_cast<unsigned char>(red(p));
    out[1] = static_cast<unsigned char>(green(p));
    out[2] = static_cast<unsigned char>(blue(p));
    out[3] = 0;
}
inline void putRgb24(unsigned char* out, canvas::PixelWord p) {
    out[0] = static_cast<unsigned char>(blue(p));
    out[1] = static_cast<unsigned char>(green(p));
    out[2] = static_cast<unsigned char>(red(p));
}
inline void putBgr24(unsigned char* out, canvas::PixelWord p) {
    out[0] = static_cast<unsigned char>(red(p));
    out[1] = static_cast<unsigned char>(green(p));
    out[2] = static_cast<unsigned char>(blue(p));
}

// One plain loop per layout: the portable path, and the tail of short rows
// for the vector paths.
void scalarRgb32(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarBgr32(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarRgb24(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarBgr24(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarRgb565(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarBgr565(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarRgb555(const canvas::PixelWord* src, void* dst, std::int32_t count);
void scalarBgr555(const canvas::PixelWord* src, void* dst, std::int32_t count);

// The layouts in selection-table order.
enum class Layout { rgb32, bgr32, rgb24, bgr24, rgb565, bgr565, rgb555, bgr555 };
constexpr int kLayoutCount = 8;

// The AVX2 converter of a layout, or null when the build or the processor
// has no AVX2.
RowConverter avx2Converter(Layout layout);
// The AVX-512 converter of a layout, or null when the build or the
// processor lacks AVX-512 (F, BW and VL) or the layout has none.
RowConverter avx512Converter(Layout layout);

} // namespace display::pixel
