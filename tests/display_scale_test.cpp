// display_scale_test.cpp -- whole-number enlargement: the factor chosen for
// a screen, and every byte of an enlarged frame against a plain reference,
// with the bytes around it untouched; and when the X server's fixed-point
// scaling may stand in for it.
#include "display/scale.h"
#include "platform/x11_scaler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

TEST(WholeScaleFactor, LargestFactorThatFitsBothWays) {
    EXPECT_EQ(display::wholeScaleFactor(640, 480, 640, 480), 1);
    EXPECT_EQ(display::wholeScaleFactor(1279, 960, 640, 480), 1);
    EXPECT_EQ(display::wholeScaleFactor(1280, 960, 640, 480), 2);
    EXPECT_EQ(display::wholeScaleFactor(1920, 1080, 640, 480), 2); // height decides
    EXPECT_EQ(display::wholeScaleFactor(2560, 1440, 640, 480), 3);
    EXPECT_EQ(display::wholeScaleFactor(3840, 2160, 640, 480), 4);
    EXPECT_EQ(display::wholeScaleFactor(1600, 1200, 640, 480), 2); // width decides
    EXPECT_EQ(display::wholeScaleFactor(7680, 4320, 640, 480), 9);
    EXPECT_EQ(display::wholeScaleFactor(639, 4000, 640, 480), 0);
    EXPECT_EQ(display::wholeScaleFactor(4000, 479, 640, 480), 0);
    EXPECT_EQ(display::wholeScaleFactor(640, 480, 0, 480), 0);
}

// Each source pixel becomes a factor x factor block; the destination's
// bytes before, after and between the enlarged rows keep their guard value.
void checkScale(int width, int height, int bytes, int factor, int offset) {
    SCOPED_TRACE(::testing::Message()
                 << width << "x" << height << ", " << bytes << " bytes a pixel, factor " << factor
                 << ", offset " << offset);
    const int srcPitch = width * bytes + 5;
    // The last row ends the allocation, so a read past it is caught.
    std::vector<unsigned char> src(std::size_t(srcPitch) * (height - 1) + width * bytes);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<unsigned char>(i * 7 + i / 251);
    const int rowBytes = width * bytes * factor;
    const int dstPitch = rowBytes + 3 + offset;
    std::vector<unsigned char> dst(std::size_t(dstPitch) * height * factor + 64, 0xEE);
    display::scaleFrame(src.data(), srcPitch, width, height, bytes, factor, dst.data() + offset,
                        dstPitch);
    long wrong = 0;
    for (std::size_t i = 0; i < dst.size(); ++i) {
        const long at = long(i) - offset;
        const long y = at >= 0 ? at / dstPitch : -1, column = at >= 0 ? at % dstPitch : -1;
        unsigned char want = 0xEE;
        if (y >= 0 && y < height * factor && column < rowBytes) {
            const long x = column / bytes / factor, byte = column % bytes;
            want = src[std::size_t(y / factor) * srcPitch + std::size_t(x) * bytes + byte];
        }
        if (dst[i] != want && wrong++ < 3) ADD_FAILURE() << "byte " << i << " of the destination";
    }
    EXPECT_EQ(wrong, 0);
}

TEST(ScaleFrame, EveryLayoutAndFactorByteForByte) {
    for (int bytes : {2, 3, 4})
        for (int factor = 1; factor <= 5; ++factor) checkScale(37, 5, bytes, factor, 0);
}

// Odd widths leave partial vector stores at the ends of rows; destinations
// at every offset within a vector's alignment start them mid-vector.
TEST(ScaleFrame, RowEndsAndUnalignedDestinations) {
    for (int width : {1, 2, 3, 7, 640})
        for (int offset : {0, 1, 3, 8, 15}) {
            checkScale(width, 2, 3, 2, offset);
            checkScale(width, 2, 4, 3, offset);
            checkScale(width, 2, 2, 4, offset);
        }
}

// The band of rows two frames differ in: a difference in any byte of a row
// counts, a difference in the padding past rowBytes does not.
TEST(ChangedRows, SmallestBandHoldingEveryDifference) {
    const int pitch = 12, rowBytes = 10, height = 6;
    std::vector<unsigned char> before(pitch * height, 0x55);
    const auto span = [&](std::vector<unsigned char> now) {
        const display::RowSpan s =
            display::changedRows(now.data(), before.data(), pitch, rowBytes, height);
        return std::make_pair(s.first, s.end);
    };
    const auto with = [&](std::initializer_list<int> bytes) {
        std::vector<unsigned char> now = before;
        for (int at : bytes) now[std::size_t(at)] ^= 1;
        return now;
    };
    const auto equal = span(before);
    EXPECT_EQ(equal.first, equal.second);
    EXPECT_EQ(span(with({0})), std::make_pair(0, 1));
    EXPECT_EQ(span(with({5 * pitch + rowBytes - 1})), std::make_pair(5, 6)); // last byte used
    EXPECT_EQ(span(with({2 * pitch + 4})), std::make_pair(2, 3));
    EXPECT_EQ(span(with({1 * pitch + 9, 4 * pitch})), std::make_pair(1, 5));
    EXPECT_EQ(span(with({0, 5 * pitch})), std::make_pair(0, 6));
    const auto padding = span(with({2 * pitch + rowBytes, 3 * pitch + pitch - 1}));
    EXPECT_EQ(padding.first, padding.second);
}

// Where the server enlarges, its 16.16 transform of 1/factor must put every
// screen pixel on the frame pixel a whole-number enlargement would; the
// error of 1/factor grows along a row, so some factors fail on a long row.
TEST(ServerScaling, AcceptedFactorsSampleEveryPixelRight) {
    int refused = 0;
    for (std::int32_t k = 1; k <= 16; ++k) {
        if (!platform::serverScalingExact(k, 640, 480)) {
            ++refused;
            continue;
        }
        for (std::int32_t d = 0; d < 640 * k; ++d)
            ASSERT_EQ(platform::serverSample(k, d), d / k) << "factor " << k << " pixel " << d;
    }
    EXPECT_GT(refused, 0);
    for (std::int32_t k : {2, 3, 4}) EXPECT_TRUE(platform::serverScalingExact(k, 640, 480)) << k;
    EXPECT_FALSE(
        platform::serverScalingExact(9, 640, 480)); // screen pixel 4680 would show 519, not 520
    EXPECT_FALSE(platform::serverScalingExact(64, 640, 480)); // beyond 16-bit coordinates
    EXPECT_FALSE(platform::serverScalingExact(0, 640, 480));
}

} // namespace
