// canvas.cpp -- images, the frame buffer and the canvas inside it.
#include "canvas/canvas.h"

#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace canvas {
namespace {

struct State {
    FrameBuffer frame;
    Image canvas;
};
State state;

// Pixel memory starts on a page. Rows of the show's width are whole cache
// lines (640 words, and 640 display pixels at every depth), so no row's
// vector loads or stores straddle two lines. And a picture drawn at the
// origin, the frame buffer and a shared-memory window surface then keep
// their rows at one offset within a page, so a loop's loads never wait on
// its own earlier stores to an address a multiple of 4 KiB away. Either
// fault costs the blend and the row conversion a tenth to a fifth of their
// time.
constexpr std::size_t kPage = 4096;

PixelWord* allocatePixels(std::uint64_t bytes) {
    if (bytes > SIZE_MAX / 2) return nullptr;
    const std::size_t rounded = (std::size_t(bytes) + kPage - 1) & ~(kPage - 1);
    return static_cast<PixelWord*>(std::aligned_alloc(kPage, rounded));
}

} // namespace

Image createImage(std::int32_t width, std::int32_t height) {
    Image image;
    if (width <= 0 || height <= 0) return image;
    auto* pixels = allocatePixels(std::uint64_t(width) * std::uint64_t(height) * sizeof(PixelWord));
    if (!pixels) return image;
    image.width = width;
    image.height = height;
    image.pixels = pixels;
    return image;
}

void releaseImage(Image& image) {
    std::free(image.pixels);
    image = Image{};
}

PixelWord packArgb(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    return ((a & 0xFF) << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

void putPixel(Image image, std::int32_t x, std::int32_t y, PixelWord word) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    image.pixels[std::size_t(y) * std::size_t(image.width) + std::size_t(x)] = word;
}

void createCanvas(std::int32_t width, std::int32_t canvasHeight, std::int32_t displayHeight) {
    // A canvas that does not fit in the frame buffer would be drawn and
    // cleared outside it: refused like a zero size.
    if (width <= 0 || canvasHeight <= 0 || canvasHeight > displayHeight) {
        platform::showMessageBox(
            "aaaaaaaaaaaaaaargg...  HUSK:    \nint  WIDTH = 320, HEIGHT = 240;", "huff");
        return;
    }
    const std::uint64_t bytes =
        std::uint64_t(width) * std::uint64_t(displayHeight) * sizeof(PixelWord);
    PixelWord* pixels = allocatePixels(bytes);
    if (!pixels) return;
    releaseCanvas(); // a second canvas replaces the first
    std::memset(pixels, 0, std::size_t(bytes));
    state.frame = FrameBuffer{pixels, width, displayHeight};
    const std::int32_t offset = (displayHeight - canvasHeight) / 2;
    state.canvas = Image{width, canvasHeight, pixels + std::size_t(width) * offset, 0};
}

void clearImage(Image image) {
    if (!image.pixels) return;
    std::memset(image.pixels, 0,
                std::size_t(image.width) * std::size_t(image.height) * sizeof(PixelWord));
}

void clearCanvas() {
    clearImage(state.canvas);
}

void releaseCanvas() {
    std::free(state.frame.pixels);
    state = State{};
}

Image canvasImage() {
    return state.canvas;
}
FrameBuffer frameBuffer() {
    return state.frame;
}

} // namespace canvas
