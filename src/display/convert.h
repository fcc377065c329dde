// convert.h -- the row converters from canvas words to the display's own
// pixel layout, and the rule that picks one for a reported format.
#pragma once

#include "canvas/canvas.h"

#include <cstdint>

namespace display {

// Reads exactly count words, writes exactly count display pixels from dst on.
using RowConverter = void (*)(const canvas::PixelWord* src, void* dst, std::int32_t count);

void convertRgb32(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertBgr32(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertRgb24(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertBgr24(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertRgb565(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertBgr565(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertRgb555(const canvas::PixelWord* src, void* dst, std::int32_t count);
void convertBgr555(const canvas::PixelWord* src, void* dst, std::int32_t count);

// The first exact match of the selection table, or nullptr.
RowConverter selectRowConverter(std::uint32_t bitCount, std::uint32_t redMask,
                                std::uint32_t greenMask, std::uint32_t blueMask);

// The individual paths behind one of the eight converters, for tests and
// benchmarks; the converter itself runs the fastest the processor has. A
// path the processor or the build lacks is null; anything but one of the
// eight converters gives all null.
struct ConvertPaths {
    RowConverter scalar;
    RowConverter avx2;
    RowConverter avx512;
};
ConvertPaths convertPaths(RowConverter converter);

} // namespace display
