// Images, the pixel word and the frame buffer with its canvas.
#include "canvas/canvas.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdint>
#include <string>

namespace {

std::string lastText, lastCaption;
int boxes = 0;
void recordBox(const char* text, const char* caption) {
    lastText = text;
    lastCaption = caption;
    ++boxes;
}

TEST(Image, PackArgbKeepsLowBytesInArgbOrder) {
    EXPECT_EQ(canvas::packArgb(0x12, 0x34, 0x56, 0xFF), 0xFF123456u);
    EXPECT_EQ(canvas::packArgb(0x112, 0x234, 0x356, 0x4FF), 0xFF123456u);
}

TEST(Image, PutPixelIgnoresEverythingOutside) {
    canvas::Image img = canvas::createImage(3, 2);
    for (int i = 0; i < 6; ++i) img.pixels[i] = 0;
    for (auto [x, y] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}, {3, 2}, {-5, 7}})
        canvas::putPixel(img, x, y, 0xDEADBEEF);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(img.pixels[i], 0u);
    canvas::putPixel(img, 2, 1, 0xCAFE);
    EXPECT_EQ(img.pixels[5], 0xCAFEu);
    canvas::releaseImage(img);
}

TEST(Image, NonPositiveOrHugeSizesGiveTheEmptyImage) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {5, 0}, {-1, 4}, {0x7FFFFFFF, 0x7FFFFFFF}}) {
        canvas::Image img = canvas::createImage(w, h);
        EXPECT_EQ(img.pixels, nullptr);
        EXPECT_EQ(img.width, 0);
        EXPECT_EQ(img.height, 0);
    }
    canvas::Image img = canvas::createImage(4, 4);
    EXPECT_EQ(img.hasAlpha, 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(img.pixels) % 4096, 0u) << "starts on a page";
    canvas::releaseImage(img);
    EXPECT_EQ(img.pixels, nullptr);
}

TEST(Canvas, ShowSizeCoversTheWholeFrameBuffer) {
    canvas::createCanvas(640, 480, 480);
    const canvas::FrameBuffer fb = canvas::frameBuffer();
    const canvas::Image c = canvas::canvasImage();
    EXPECT_EQ(c.pixels, fb.pixels);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fb.pixels) % 4096, 0u) << "starts on a page";
    EXPECT_EQ(c.width, 640);
    EXPECT_EQ(c.height, 480);
    EXPECT_EQ(c.hasAlpha, 0);
    for (int i = 0; i < 640 * 480; ++i) ASSERT_EQ(fb.pixels[i], 0u);
    canvas::releaseCanvas();
    EXPECT_EQ(canvas::frameBuffer().pixels, nullptr);
}

TEST(Canvas, ShorterCanvasIsCentredAndClearLeavesTheBarsAlone) {
    canvas::createCanvas(640, 400, 480);
    const canvas::FrameBuffer fb = canvas::frameBuffer();
    const canvas::Image c = canvas::canvasImage();
    EXPECT_EQ(c.pixels, fb.pixels + 640 * 40);
    for (int i = 0; i < 640 * 480; ++i) fb.pixels[i] = 0x11223344;
    canvas::clearCanvas();
    for (int y = 0; y < 480; ++y) {
        const bool inside = y >= 40 && y < 440;
        for (int x = 0; x < 640; x += 639)
            ASSERT_EQ(fb.pixels[y * 640 + x], inside ? 0u : 0x11223344u) << "row " << y;
    }
    canvas::releaseCanvas();
}

TEST(Canvas, UnevenDifferenceLeavesTheSpareRowAtTheBottom) {
    canvas::createCanvas(8, 5, 8);
    EXPECT_EQ(canvas::canvasImage().pixels, canvas::frameBuffer().pixels + 8 * 1);
    canvas::releaseCanvas();
}

// Sizes that leave no canvas, or one outside the frame buffer, are all
// refused by the guard.
TEST(Canvas, SizesThatDoNotFitShowTheGuardBoxAndCreateNothing) {
    auto old = platform::setMessageBoxHandler(recordBox);
    boxes = 0;
    canvas::createCanvas(0, 480, 480);
    canvas::createCanvas(640, 0, 480);
    canvas::createCanvas(640, 481, 480); // taller than the display
    canvas::createCanvas(640, 480, 0);
    canvas::createCanvas(640, 480, -480);
    canvas::createCanvas(640, -480, 480);
    canvas::createCanvas(-640, 480, 480);
    canvas::createCanvas(INT32_MIN, INT32_MIN, INT32_MIN);
    platform::setMessageBoxHandler(old);
    EXPECT_EQ(boxes, 8);
    EXPECT_EQ(lastText, "aaaaaaaaaaaaaaargg...  HUSK:    \nint  WIDTH = 320, HEIGHT = 240;");
    EXPECT_EQ(lastCaption, "huff");
    EXPECT_EQ(canvas::frameBuffer().pixels, nullptr);
    EXPECT_EQ(canvas::canvasImage().pixels, nullptr);
    canvas::clearCanvas(); // nothing to clear: must not touch memory
}

// Bytes the allocator has handed out and not had back.
std::size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A second canvas replaces the first, whose frame buffer goes back to the
// allocator; a refused size leaves the canvas there is.
TEST(Canvas, ASecondCanvasReplacesAndFreesTheFirst) {
    canvas::createCanvas(8, 5, 8);
    canvas::createCanvas(4, 2, 2);
    EXPECT_EQ(canvas::frameBuffer().width, 4);
    EXPECT_EQ(canvas::frameBuffer().displayHeight, 2);
    EXPECT_EQ(canvas::canvasImage().pixels, canvas::frameBuffer().pixels);

    auto old = platform::setMessageBoxHandler(recordBox);
    canvas::createCanvas(4, 3, 2);
    platform::setMessageBoxHandler(old);
    EXPECT_EQ(canvas::canvasImage().height, 2);

    // The sanitizer build's allocator does not report here; its leak check
    // covers this there.
    const std::size_t frameBytes = 640 * 480 * 4;
    canvas::createCanvas(640, 480, 480);
    const std::size_t before = heapInUse();
    for (int i = 0; i < 20 && before > frameBytes; ++i) canvas::createCanvas(640, 480, 480);
    EXPECT_LT(heapInUse(), before + 2 * frameBytes) << "earlier frame buffers kept";
    canvas::releaseCanvas();
}

} // namespace
