// The clipped blitter and the exact blend on every instruction-set path.
#include "canvas/blit.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A blend made by another start-up initialiser, before main: the blend paths
// must already be usable then. (This file's initialisers run before the
// library's own.)
const canvas::PixelWord blendedBeforeMain = [] {
    canvas::PixelWord dst[20], src[20];
    for (int i = 0; i < 20; ++i) dst[i] = 0x00000000, src[i] = 0xFFFFFFFF;
    canvas::blendRow(dst, src, 20);
    return dst[19];
}();
const bool scalarPathBeforeMain = canvas::blendPaths().scalar != nullptr;

// An image that owns its words, filled with one value.
struct OwnedImage {
    std::vector<canvas::PixelWord> words;
    canvas::Image image;
    OwnedImage(int w, int h, canvas::PixelWord fill, int hasAlpha = 0)
        : words(std::size_t(w) * h, fill), image{w, h, words.data(), hasAlpha} {}
    canvas::PixelWord at(int x, int y) const { return words[std::size_t(y) * image.width + x]; }
};

std::vector<std::pair<const char*, canvas::BlendRowFn>> availablePaths() {
    const canvas::BlendPaths p = canvas::blendPaths();
    std::vector<std::pair<const char*, canvas::BlendRowFn>> out{{"scalar", p.scalar}};
    if (p.avx2) out.push_back({"avx2", p.avx2});
    if (p.avx512) out.push_back({"avx512", p.avx512});
    out.push_back({"dispatched", canvas::blendRow});
    return out;
}

TEST(Blit, ClippedRectanglesDrawOnlyWhatIsInside) {
    OwnedImage src(100, 20, 0xFF00FF00);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 100; ++x) src.words[y * 100 + x] = canvas::PixelWord(y << 8 | x);

    OwnedImage dst(640, 480, 0xAAAAAAAA);
    canvas::drawImage(dst.image, src.image, -700, 0); // clipped width negative
    for (auto w : dst.words) ASSERT_EQ(w, 0xAAAAAAAAu);

    canvas::drawImage(dst.image, src.image, 590, 5); // right edge: left 50 columns
    EXPECT_EQ(dst.at(590, 5), 0u);
    EXPECT_EQ(dst.at(639, 5), 49u);
    EXPECT_EQ(dst.at(589, 5), 0xAAAAAAAAu);

    OwnedImage top(640, 480, 0xAAAAAAAA);
    canvas::drawImage(top.image, src.image, 3, -10); // from the 11th row into row 0
    EXPECT_EQ(top.at(3, 0), canvas::PixelWord(10 << 8 | 0));
    EXPECT_EQ(top.at(3, 9), canvas::PixelWord(19 << 8 | 0));
    EXPECT_EQ(top.at(3, 10), 0xAAAAAAAAu);

    OwnedImage bottom(640, 480, 0);
    canvas::drawImage(bottom.image, src.image, 0, 475);
    EXPECT_EQ(bottom.at(7, 479), canvas::PixelWord(4 << 8 | 7));
}

TEST(Blit, EmptyOrOutsidePicturesDrawNothing) {
    OwnedImage dst(16, 16, 0x01020304);
    canvas::drawImage(dst.image, canvas::Image{}, 0, 0);
    OwnedImage src(4, 4, 0xFFFFFFFF, 1);
    canvas::drawImage(dst.image, src.image, 16, 0);
    canvas::drawImage(dst.image, src.image, 0, 16);
    canvas::drawImage(dst.image, src.image, -4, 0);
    canvas::drawImage(dst.image, src.image, 0x7FFFFFF0, 0x7FFFFFF0);
    canvas::drawImage(dst.image, src.image, -0x7FFFFFF0, 0);
    for (auto w : dst.words) ASSERT_EQ(w, 0x01020304u);
}

TEST(Blit, SubRectangleAndZeroSizeMeansWhole) {
    OwnedImage src(8, 8, 0);
    for (int i = 0; i < 64; ++i) src.words[i] = canvas::PixelWord(i);
    OwnedImage dst(8, 8, 0xEE);
    canvas::blitImage(dst.image, src.image, 1, 1, 2, 3, 2, 2);
    EXPECT_EQ(dst.at(1, 1), 26u);
    EXPECT_EQ(dst.at(2, 2), 35u);
    EXPECT_EQ(dst.at(3, 3), 0xEEu);
    OwnedImage whole(8, 8, 0xEE);
    canvas::blitImage(whole.image, src.image, 0, 0, 0, 0, 3, 0); // h 0: the whole picture
    EXPECT_EQ(whole.at(7, 7), 63u);
}

TEST(Blit, HeightIsCappedAtTheCanvasHeight) {
    OwnedImage src(1, 600, 0x55);
    OwnedImage dst(1, 600, 0);
    canvas::drawImage(dst.image, src.image, 0, 0);
    EXPECT_EQ(dst.at(0, 479), 0x55u);
    EXPECT_EQ(dst.at(0, 480), 0u);
}

// A picture taller than the canvas drawn above it is clipped first and
// capped after: its rows from the 101st on fill all 480 rows, on the canvas
// and on a taller destination alike.
TEST(Blit, TallPicturesAboveTheTopAreClippedBeforeTheCap) {
    OwnedImage src(2, 600, 0);
    for (int y = 0; y < 600; ++y) src.words[2 * y] = src.words[2 * y + 1] = canvas::PixelWord(y);
    for (int dstHeight : {480, 600}) {
        SCOPED_TRACE(dstHeight);
        for (int alpha : {0, 1}) {
            OwnedImage dst(2, dstHeight, 0xEEEEEEEE);
            src.image.hasAlpha = alpha;
            canvas::drawImage(dst.image, src.image, 0, -100);
            for (int y = 0; y < 480; ++y) {
                const canvas::PixelWord want =
                    alpha ? canvas::blendPixel(0xEEEEEEEE, canvas::PixelWord(100 + y))
                          : canvas::PixelWord(100 + y);
                ASSERT_EQ(dst.at(1, y), want) << "row " << y;
            }
            for (int y = 480; y < dstHeight; ++y) ASSERT_EQ(dst.at(0, y), 0xEEEEEEEEu);
        }
    }
}

TEST(Blit, OpaquePicturesOverwriteEvenWithZeroAlphaBytes) {
    OwnedImage src(4, 1, 0x00123456, 0);
    OwnedImage dst(4, 1, 0xFFFFFFFF);
    canvas::drawImage(dst.image, src.image, 0, 0);
    for (auto w : dst.words) EXPECT_EQ(w, 0x00123456u);
}

TEST(Blend, UsableFromOtherStartUpInitialisers) {
    EXPECT_TRUE(scalarPathBeforeMain);
    EXPECT_EQ(blendedBeforeMain & 0x00FFFFFF, 0x00FEFEFEu);
}

TEST(Blend, KnownValues) {
    auto rgb = [](canvas::PixelWord w) { return w & 0x00FFFFFF; };
    EXPECT_EQ(rgb(canvas::blendPixel(0x00000000, 0xFFFFFFFF)), 0x00FEFEFEu);
    EXPECT_EQ(rgb(canvas::blendPixel(0x00FFFFFF, 0x00FFFFFF)), 0x00FEFEFEu);
    EXPECT_EQ(canvas::blendPixel(0x00000064, 0x800000C8) & 0xFF, 149u);

    OwnedImage src(1, 1, 0xFFFFFFFF, 1);
    OwnedImage dst(1, 1, 0);
    canvas::drawImage(dst.image, src.image, 0, 0);
    EXPECT_EQ(rgb(dst.at(0, 0)), 0x00FEFEFEu);
}

// Every (A, S, D) triple of one channel, through every path, against the formula.
TEST(Blend, EveryPathMatchesTheFormulaForAllTriples) {
    std::vector<canvas::PixelWord> src(256), dst(256);
    for (auto [name, fn] : availablePaths()) {
        for (unsigned a = 0; a < 256; ++a)
            for (unsigned s = 0; s < 256; ++s) {
                for (unsigned d = 0; d < 256; ++d) {
                    src[d] = a << 24 | s << 16 | s << 8 | s;
                    dst[d] = d << 24 | d << 16 | d << 8 | d;
                }
                fn(dst.data(), src.data(), 256);
                for (unsigned d = 0; d < 256; ++d) {
                    const unsigned want = (d * (255 - a) + s * a) >> 8;
                    const unsigned wantAlpha = (d * (255 - a) + a * a) >> 8;
                    if (dst[d] != (want * 0x010101u | wantAlpha << 24))
                        FAIL() << name << " a=" << a << " s=" << s << " d=" << d;
                }
            }
    }
}

// Row lengths that end in every loop tail, with guard words on both sides.
TEST(Blend, EveryPathHandlesEveryTailAndStaysInside) {
    std::mt19937 rng(7);
    for (auto [name, fn] : availablePaths()) {
        for (int n = 0; n <= 70; ++n) {
            std::vector<canvas::PixelWord> src(n + 2), dst(n + 2), want;
            for (auto& w : src) w = rng();
            for (auto& w : dst) w = rng();
            want = dst;
            for (int j = 1; j <= n; ++j) want[j] = canvas::blendPixel(dst[j], src[j]);
            fn(dst.data() + 1, src.data() + 1, n);
            ASSERT_EQ(dst, want) << name << " n=" << n;
        }
    }
}

} // namespace
