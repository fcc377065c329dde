// assets_png_test.cpp -- PNG decoding: every colour type and depth, library
// errors, size limits and out-of-memory handling.
#include "assets/png.h"
#include "platform/platform.h"
#include "test_assets.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using canvas::Image;
using canvas::PixelWord;
using testassets::Bytes;
using testassets::PngPicture;

assets::FileBlob blobOf(const Bytes& bytes, const char* name = "picture.png") {
    assets::FileBlob blob;
    std::strncpy(blob.name, name, sizeof blob.name - 1);
    if (bytes.empty()) return blob;
    blob.data = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(blob.data, bytes.data(), bytes.size());
    blob.size = std::int32_t(bytes.size());
    return blob;
}

// Decodes and copies the words out so every test releases its Image.
struct Decoded {
    std::int32_t width = 0, height = 0, hasAlpha = 0;
    bool hasPixels = false;
    std::vector<PixelWord> words;
};

Decoded decode(const Bytes& bytes, const char* name = "picture.png") {
    Image image = assets::decodePng(blobOf(bytes, name));
    Decoded d{image.width, image.height, image.hasAlpha, image.pixels != nullptr, {}};
    if (image.pixels) d.words.assign(image.pixels, image.pixels + image.width * image.height);
    canvas::releaseImage(image);
    return d;
}

Bytes png(PngPicture p) {
    Bytes bytes = testassets::writePng(p);
    EXPECT_FALSE(bytes.empty());
    return bytes;
}

PngPicture picture(int width, int height, int colorType, int bitDepth,
                   std::vector<std::uint16_t> samples) {
    PngPicture p;
    p.width = width;
    p.height = height;
    p.colorType = colorType;
    p.bitDepth = bitDepth;
    p.samples = std::move(samples);
    return p;
}

int boxes = 0;
std::string boxText, boxCaption;
void recordBox(const char* text, const char* caption) {
    ++boxes;
    boxText = text;
    boxCaption = caption;
}

class Png : public ::testing::Test {
  protected:
    void SetUp() override {
        boxes = 0;
        previousBox = platform::setMessageBoxHandler(recordBox);
    }
    void TearDown() override {
        platform::setMessageBoxHandler(previousBox);
        assets::setAllocator(nullptr);
        EXPECT_EQ(boxes, expectedBoxes);
    }
    platform::MessageBoxHandler previousBox = nullptr;
    int expectedBoxes = 0;
};

TEST_F(Png, TruecolourIsOpaqueAtBothDepths) {
    Decoded d8 = decode(png(picture(2, 1, 2, 8, {0x12, 0x34, 0x56, 0xff, 0x00, 0x80})));
    EXPECT_EQ(d8.hasAlpha, 0);
    EXPECT_EQ(d8.words, (std::vector<PixelWord>{0xff123456, 0xffff0080}));

    Decoded d16 = decode(png(picture(1, 1, 2, 16, {0x12ff, 0x3400, 0x5680})));
    EXPECT_EQ(d16.hasAlpha, 0);
    EXPECT_EQ(d16.words, std::vector<PixelWord>{0xff123456});

    PngPicture keyed = picture(2, 1, 2, 8, {1, 2, 3, 4, 5, 6});
    keyed.transparent = {1, 2, 3}; // tRNS has no effect on truecolour
    Decoded dk = decode(png(keyed));
    EXPECT_EQ(dk.hasAlpha, 0);
    EXPECT_EQ(dk.words, (std::vector<PixelWord>{0xff010203, 0xff040506}));
}

TEST_F(Png, TruecolourWithAlphaKeepsItsAlpha) {
    Decoded d8 = decode(png(picture(2, 1, 6, 8, {1, 2, 3, 0x40, 4, 5, 6, 0xff})));
    EXPECT_EQ(d8.hasAlpha, 1); // set by the colour type even where pixels are opaque
    EXPECT_EQ(d8.words, (std::vector<PixelWord>{0x40010203, 0xff040506}));

    Decoded d16 = decode(png(picture(1, 1, 6, 16, {0xabcd, 0x0102, 0xfe00, 0x7f7f})));
    EXPECT_EQ(d16.hasAlpha, 1);
    EXPECT_EQ(d16.words, std::vector<PixelWord>{0x7fab01fe});
}

PngPicture palettePicture(int bitDepth) {
    const int entries = 1 << bitDepth;
    PngPicture p = picture(5, 2, 3, bitDepth, {});
    for (int i = 0; i < entries; ++i) {
        p.palette.push_back(std::uint8_t(i));
        p.palette.push_back(std::uint8_t(255 - i));
        p.palette.push_back(std::uint8_t(i * 3));
    }
    for (int i = 0; i < 10; ++i) p.samples.push_back(std::uint16_t((i * 7) % entries));
    return p;
}

PixelWord paletteWord(int index, int alpha) {
    return canvas::packArgb(index, 255 - index, index * 3, alpha);
}

TEST_F(Png, PaletteAtEveryDepth) {
    for (int depth : {1, 2, 4, 8}) {
        SCOPED_TRACE(depth);
        const PngPicture p = palettePicture(depth);
        Decoded d = decode(png(p));
        ASSERT_EQ(d.width, 5);
        ASSERT_EQ(d.height, 2);
        EXPECT_EQ(d.hasAlpha, 0);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(d.words[i], paletteWord(p.samples[i], 255)) << i;
    }
}

TEST_F(Png, PaletteTransparencyBecomesAlpha) {
    PngPicture p = palettePicture(4);
    p.paletteAlpha = {0, 0x80, 0x10}; // the entries after these stay opaque
    Decoded d = decode(png(p));
    EXPECT_EQ(d.hasAlpha, 1);
    for (int i = 0; i < 10; ++i) {
        const int index = p.samples[i];
        const int alpha = index < 3 ? p.paletteAlpha[index] : 255;
        EXPECT_EQ(d.words[i], paletteWord(index, alpha)) << i;
    }
}

TEST_F(Png, GreyBecomesOpaqueGreyAtEveryDepth) {
    for (int depth : {1, 2, 4, 8, 16}) {
        SCOPED_TRACE(depth);
        const std::uint32_t top = (1u << depth) - 1;
        std::vector<std::uint16_t> samples = {0, std::uint16_t(top), std::uint16_t(top / 3)};
        PngPicture p = picture(3, 1, 0, depth, samples);
        p.transparent = {0}; // still opaque: grey tRNS is not expanded
        Decoded d = decode(png(p));
        EXPECT_EQ(d.hasAlpha, 0);
        ASSERT_EQ(d.words.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            // Scaled to 8 bits: replicated bits below 8, the high byte at 16.
            const std::uint32_t g = depth == 16 ? samples[i] >> 8 : samples[i] * 255 / top;
            EXPECT_EQ(d.words[i], canvas::packArgb(g, g, g, 255)) << i;
        }
    }
}

TEST_F(Png, GreyWithAlphaKeepsItsAlpha) {
    Decoded d8 = decode(png(picture(2, 1, 4, 8, {0x33, 0x80, 0xee, 0xff})));
    EXPECT_EQ(d8.hasAlpha, 1);
    EXPECT_EQ(d8.words, (std::vector<PixelWord>{0x80333333, 0xffeeeeee}));

    Decoded d16 = decode(png(picture(1, 1, 4, 16, {0x4411, 0x2299})));
    EXPECT_EQ(d16.hasAlpha, 1);
    EXPECT_EQ(d16.words, std::vector<PixelWord>{0x22444444});
}

TEST_F(Png, SinglePixelAndInterlacedPicture) {
    Decoded one = decode(png(picture(1, 1, 6, 8, {9, 8, 7, 6})));
    EXPECT_EQ(one.words, std::vector<PixelWord>{0x06090807});

    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < 11 * 9; ++i) words.push_back(0xff000000 | (i * 0x010203));
    PngPicture p = testassets::pictureFromWords(11, 9, words, false);
    p.interlaced = true;
    const Bytes bytes = png(p);
    testing::internal::CaptureStderr();
    Decoded d = decode(bytes);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // no warning on the way
    EXPECT_EQ(d.width, 11);
    EXPECT_EQ(d.words, words);
}

TEST_F(Png, EmptyBlobFailsOnTheSignature) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Decoded d = decode({}, "missing.png");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "missing.png");
    EXPECT_FALSE(err.empty()); // the library's own message
    EXPECT_EQ(d.width, 0);
    EXPECT_EQ(d.height, 0);
    EXPECT_FALSE(d.hasPixels);
}

// A picture whose data cannot all be decoded, for the late-error cases.
Bytes noisyPicture() {
    std::vector<std::uint32_t> words;
    std::uint32_t x = 12345;
    for (int i = 0; i < 64 * 32; ++i) words.push_back(x = x * 1103515245u + 12345u);
    return png(testassets::pictureFromWords(64, 32, words, true));
}

Decoded decodeQuietly(const Bytes& bytes, std::string* out = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Decoded d = decode(bytes, "late.png");
    testing::internal::GetCapturedStderr();
    const std::string printed = testing::internal::GetCapturedStdout();
    if (out) *out = printed;
    return d;
}

void expectClearedHeaderSize(const Decoded& d) {
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 32);
    EXPECT_EQ(d.hasAlpha, 0);
    ASSERT_EQ(d.words.size(), 64u * 32u);
    for (PixelWord w : d.words) ASSERT_EQ(w, 0u);
}

TEST_F(Png, ErrorAfterTheHeaderKeepsItsSizeWithClearedWords) {
    const Bytes whole = noisyPicture();
    std::string printed;
    expectClearedHeaderSize(decodeQuietly(Bytes(whole.begin(), whole.end() - 400), &printed));
    EXPECT_EQ(printed, "late.png");

    Bytes corrupt = whole;
    corrupt[corrupt.size() / 2] ^= 0x55; // inside the image data: CRC error
    expectClearedHeaderSize(decodeQuietly(corrupt));

    // The last chunk of image data, cut before its CRC, is not taken on trust.
    expectClearedHeaderSize(decodeQuietly(Bytes(whole.begin(), whole.end() - 14)));
}

// Nothing after the last row is read: a cut or damaged end costs nothing.
TEST_F(Png, WhatFollowsTheImageDataIsNeverRead) {
    const Bytes whole = noisyPicture();
    const Decoded expected = decode(whole);
    ASSERT_EQ(expected.words.size(), 64u * 32u);
    Bytes damagedEnd = whole;
    damagedEnd[damagedEnd.size() - 2] ^= 0x55; // the end chunk's CRC
    for (const Bytes& bytes : {Bytes(whole.begin(), whole.end() - 12), damagedEnd}) {
        std::string printed;
        const Decoded d = decodeQuietly(bytes, &printed);
        EXPECT_EQ(printed, "");
        EXPECT_EQ(d.words, expected.words);
        EXPECT_EQ(d.hasAlpha, 1);
    }
}

TEST_F(Png, ErrorInTheHeaderGivesTheEmptyImage) {
    const Bytes whole = noisyPicture();
    std::string printed;
    Decoded d = decodeQuietly(Bytes(whole.begin(), whole.begin() + 20), &printed);
    EXPECT_EQ(printed, "late.png");
    EXPECT_EQ(d.width, 0);
    EXPECT_FALSE(d.hasPixels);

    Bytes badHeader = whole;
    badHeader[16 + 3] ^= 0x01; // width changed: the header's CRC no longer matches
    EXPECT_FALSE(decodeQuietly(badHeader).hasPixels);
}

// A one-bit grey picture of the given size: cheap to write at any size.
Bytes bitmap(int width, int height) {
    PngPicture p = picture(width, height, 0, 1, {});
    p.samples.assign(std::size_t(width) * std::size_t(height), 1);
    p.compressionLevel = 1;
    return png(p);
}

// The picture with its header claiming another size (and a matching header
// CRC): refusal happens on the header alone, before any image data is read.
Bytes claimingSize(Bytes bytes, std::uint32_t width, std::uint32_t height) {
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(v >> (24 - 8 * i));
    };
    put(16, width);
    put(20, height);
    put(29, std::uint32_t(crc32(0, bytes.data() + 12, 17))); // type and 13 data bytes
    return bytes;
}

TEST_F(Png, OversizedPicturesAreRefused) {
    const Bytes small = bitmap(8, 8);
    const std::uint32_t side = assets::kMaxPictureSide;
    for (auto [w, h] : {std::pair{side + 1, 1u},
                        {1u, side + 1},
                        {side, 257u},
                        {2049u, 2048u},
                        {65536u, 65536u}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        std::string printed;
        EXPECT_FALSE(decodeQuietly(claimingSize(small, w, h), &printed).hasPixels);
        EXPECT_EQ(printed, "late.png");
    }
    std::string printed;
    Decoded largest = decodeQuietly(bitmap(int(side), 256), &printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(std::int64_t(largest.width) * largest.height, assets::kMaxPicturePixels);
    ASSERT_FALSE(largest.words.empty());
    EXPECT_EQ(largest.words.back(), 0xffffffffu);
}

int allocationsLeft = 0;
void* allocatorFailingAfter(std::size_t bytes) {
    return allocationsLeft-- > 0 ? std::malloc(bytes) : nullptr;
}

TEST_F(Png, RowStorageFailureTakesTheOutOfMemoryPath) {
    const Bytes bytes = noisyPicture();
    for (int succeeding : {0, 1}) { // the row pointers fail, then the row block
        SCOPED_TRACE(succeeding);
        allocationsLeft = succeeding;
        assets::setAllocator(allocatorFailingAfter);
        Decoded d = decode(bytes);
        EXPECT_EQ(d.width, 0);
        EXPECT_FALSE(d.hasPixels);
        EXPECT_EQ(boxText, "PNG:  Out of Memory");
        EXPECT_EQ(boxCaption, " ");
    }
    expectedBoxes = 2;
    assets::setAllocator(nullptr);
    EXPECT_EQ(decode(bytes).width, 64); // a later decode is unaffected
}

} // namespace
