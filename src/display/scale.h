// scale.h -- whole-number enlargement of a converted frame for screens larger
// than the frame: every display pixel repeated factor x factor times, so the
// bytes on screen are still exactly the converter's bytes.
#pragma once

#include <cstdint>

namespace display {

// The largest whole factor k with width * k <= screenWidth and
// height * k <= screenHeight; 0 when the frame does not fit at all.
std::int32_t wholeScaleFactor(std::int32_t screenWidth, std::int32_t screenHeight,
                              std::int32_t width, std::int32_t height);

// Copies width x height pixels of bytesPerPixel (2, 3 or 4) bytes from src
// (rows srcPitch bytes apart) to dst (rows dstPitch bytes apart), each pixel
// becoming a factor x factor block. Writes exactly width * factor pixels on
// each of height * factor rows and nothing else.
void scaleFrame(const unsigned char* src, std::int32_t srcPitch, std::int32_t width,
                std::int32_t height, std::int32_t bytesPerPixel, std::int32_t factor,
                unsigned char* dst, std::int32_t dstPitch);

// The rows [first, end) of two frames of height rows (rowBytes used, rows
// pitch bytes apart) outside which they are equal; first == end when the
// frames are equal.
struct RowSpan {
    std::int32_t first = 0;
    std::int32_t end = 0;
};
RowSpan changedRows(const unsigned char* now, const unsigned char* before, std::int32_t pitch,
                    std::int32_t rowBytes, std::int32_t height);

} // namespace display
