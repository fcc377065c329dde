// canvas.h -- the picture record, the pixel word and the frame buffer with
// the canvas inside it on which every frame is composed.
#pragma once

#include <cstdint>

namespace canvas {

// 0xAARRGGBB; in memory (little-endian) the bytes are B, G, R, A.
using PixelWord = std::uint32_t;

// A small value copied freely; copies share the pixel memory. The empty
// Image (0 x 0, no pixels) draws nothing.
struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    PixelWord* pixels = nullptr;
    std::int32_t hasAlpha = 0; // non-zero: the blitter blends, else copies
};

// The frame buffer the display presents whole, every frame.
struct FrameBuffer {
    PixelWord* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t displayHeight = 0;
};

// Allocates width x height words (contents undefined), hasAlpha 0. Gives the
// empty Image when the size is not positive, overflows, or the allocation fails.
Image createImage(std::int32_t width, std::int32_t height);

// Frees an Image's pixels and empties the record. The show itself keeps its
// pictures to the end; tests and tools release theirs.
void releaseImage(Image& image);

PixelWord packArgb(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a);

// Stores word at (x, y) when inside the image; otherwise does nothing.
void putPixel(Image image, std::int32_t x, std::int32_t y, PixelWord word);

// Creates the frame buffer (width x displayHeight, zero-filled) and the
// canvas centred in it, replacing (and freeing) any earlier one. A width or
// canvas height that is not positive, or a canvas taller than the display, is
// a build with wrong constants: a message box says so and nothing is created.
void createCanvas(std::int32_t width, std::int32_t canvasHeight, std::int32_t displayHeight);

// Zeroes every pixel of an image.
void clearImage(Image image);

// Zeroes the canvas rows; the bars outside it are left alone.
void clearCanvas();

// Frees the frame buffer and with it the canvas.
void releaseCanvas();

Image canvasImage();
FrameBuffer frameBuffer();

} // namespace canvas
