// canvas.cpp -- images, the frame buffer and the canvas inside it.
#include "canvas/canvas.h"

#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace canvas {
namespace {

struct State {
    FrameBuffer frame;
    Image canvas;
};
State state;

} // namespace

Image createImage(std::int32_t width, std::int32_t height) {
    Image image;
    if (width <= 0 || height <= 0) return image;
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * sizeof(PixelWord);
    if (bytes > SIZE_MAX / 2) return image;
    auto* pixels = static_cast<PixelWord*>(std::malloc(static_cast<std::size_t>(bytes)));
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
    if (width == 0 || canvasHeight == 0) {
        platform::showMessageBox(
            "aaaaaaaaaaaaaaargg...  HUSK:    \nint  WIDTH = 320, HEIGHT = 240;", "huff");
        return;
    }
    const std::size_t words = std::size_t(width) * std::size_t(displayHeight);
    auto* pixels = static_cast<PixelWord*>(std::calloc(words, sizeof(PixelWord)));
    if (!pixels) return;
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
