// convert_test.cpp -- every row converter path against the per-pixel
// layouts, byte for byte, with fenced buffers; and the selection table.
#include "display/convert.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using canvas::PixelWord;
using display::RowConverter;

// The display bytes of one pixel, written out from the layout definitions.
std::vector<unsigned char> expectedBytes(int layout, PixelWord p) {
    const unsigned a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    auto word16 = [](unsigned v) {
        return std::vector<unsigned char>{static_cast<unsigned char>(v & 0xFF),
                                          static_cast<unsigned char>(v >> 8)};
    };
    switch (layout) {
    case 0:
        return {(unsigned char)b, (unsigned char)g, (unsigned char)r, (unsigned char)a};
    case 1:
        return {(unsigned char)r, (unsigned char)g, (unsigned char)b, 0};
    case 2:
        return {(unsigned char)b, (unsigned char)g, (unsigned char)r};
    case 3:
        return {(unsigned char)r, (unsigned char)g, (unsigned char)b};
    case 4:
        return word16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    case 5:
        return word16(((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3));
    case 6:
        return word16(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
    default:
        return word16(((b >> 3) << 10) | ((g >> 3) << 5) | (r >> 3));
    }
}

struct Layout {
    const char* name;
    RowConverter convert;
    int bytes;
};
const Layout kLayouts[] = {
    {"rgb32", display::convertRgb32, 4},   {"bgr32", display::convertBgr32, 4},
    {"rgb24", display::convertRgb24, 3},   {"bgr24", display::convertBgr24, 3},
    {"rgb565", display::convertRgb565, 2}, {"bgr565", display::convertBgr565, 2},
    {"rgb555", display::convertRgb555, 2}, {"bgr555", display::convertBgr555, 2},
};

// Every way a layout can be converted here: the chosen one and each path.
std::vector<std::pair<std::string, RowConverter>> pathsOf(const Layout& layout) {
    const display::ConvertPaths p = display::convertPaths(layout.convert);
    std::vector<std::pair<std::string, RowConverter>> out{{"chosen", layout.convert}};
    if (p.scalar) out.push_back({"scalar", p.scalar});
    if (p.avx2) out.push_back({"avx2", p.avx2});
    if (p.avx512) out.push_back({"avx512", p.avx512});
    return out;
}

// Source words between two inaccessible pages, flush against one of them,
// so a read of one word too many or too few faults at once.
class FencedWords {
  public:
    FencedWords(std::size_t count, bool flushEnd) {
        const std::size_t page = sysconf(_SC_PAGESIZE);
        const std::size_t data = (count * 4 + page - 1) / page * page + page;
        size_ = data + 2 * page;
        auto* base = static_cast<unsigned char*>(
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        base_ = base;
        mprotect(base, page, PROT_NONE);
        mprotect(base + page + data, page, PROT_NONE);
        words_ =
            reinterpret_cast<PixelWord*>(flushEnd ? base + page + data - count * 4 : base + page);
    }
    ~FencedWords() { munmap(base_, size_); }
    FencedWords(const FencedWords&) = delete;
    FencedWords& operator=(const FencedWords&) = delete;
    PixelWord* words() { return words_; }

  private:
    void* base_;
    std::size_t size_;
    PixelWord* words_;
};

constexpr unsigned char kGuard = 0xA5;
constexpr int kGuardBytes = 64;

// Converts src (count words) at dst offset `shift` and checks every byte
// of the row and the guard bytes on either side.
void checkRow(const Layout& layout, RowConverter convert, const PixelWord* src, int count,
              int shift) {
    const int rowBytes = count * layout.bytes;
    std::vector<unsigned char> dst(kGuardBytes * 2 + shift + rowBytes, kGuard);
    const std::vector<PixelWord> before(src, src + count);
    convert(src, dst.data() + kGuardBytes + shift, count);

    for (int i = 0; i < kGuardBytes + shift; ++i) ASSERT_EQ(dst[i], kGuard) << "before, byte " << i;
    for (int i = kGuardBytes + shift + rowBytes; i < int(dst.size()); ++i)
        ASSERT_EQ(dst[i], kGuard) << "after, byte " << i;
    for (int px = 0; px < count; ++px) {
        const auto want = expectedBytes(int(&layout - kLayouts), src[px]);
        const unsigned char* got = dst.data() + kGuardBytes + shift + px * layout.bytes;
        ASSERT_EQ(std::memcmp(got, want.data(), want.size()), 0)
            << "pixel " << px << " of " << count << ", word " << std::hex << src[px];
    }
    if (count > 0) {
        ASSERT_EQ(std::memcmp(before.data(), src, count * 4u), 0) << "source changed";
    }
}

std::vector<int> rowLengths() {
    std::vector<int> lengths;
    for (int n = 0; n <= 70; ++n) lengths.push_back(n);
    for (int n : {127, 128, 129, 640, 641}) lengths.push_back(n);
    return lengths;
}

TEST(RowConverters, EveryPathMatchesThePixelFormulaAtEveryLength) {
    std::mt19937 rng(7);
    for (const Layout& layout : kLayouts) {
        for (const auto& [path, convert] : pathsOf(layout)) {
            SCOPED_TRACE(std::string(layout.name) + " " + path);
            for (int count : rowLengths()) {
                for (bool flushEnd : {true, false}) {
                    FencedWords src(count, flushEnd);
                    for (int i = 0; i < count; ++i) src.words()[i] = rng();
                    checkRow(layout, convert, src.words(), count, count % 4);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// Where a row starts decides how the vector paths split it: every source
// alignment within a 32-byte block, with rows just around the group sizes.
TEST(RowConverters, EverySourceAlignment) {
    std::mt19937 rng(11);
    for (const Layout& layout : kLayouts) {
        for (const auto& [path, convert] : pathsOf(layout)) {
            SCOPED_TRACE(std::string(layout.name) + " " + path);
            for (int count : {8, 9, 15, 16, 39, 40, 41, 42, 47, 48, 49, 50, 640}) {
                for (int skip = 0; skip < 8; ++skip) {
                    FencedWords src(count + skip, false);
                    for (int i = 0; i < count + skip; ++i) src.words()[i] = rng();
                    checkRow(layout, convert, src.words() + skip, count, skip % 4);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// The listed colours in every position of a row, so each lands in the wide
// groups, the narrow groups and the tail.
TEST(RowConverters, ListedColoursInEveryPosition) {
    const PixelWord colours[] = {0x80123456, 0xFFFFFFFF, 0xFF0000FF, 0x00070707, 0, 0x00FFFFFF};
    for (const Layout& layout : kLayouts) {
        for (const auto& [path, convert] : pathsOf(layout)) {
            SCOPED_TRACE(std::string(layout.name) + " " + path);
            for (int count : {1, 3, 7, 15, 17, 33, 41}) {
                FencedWords src(count, true);
                for (int i = 0; i < count; ++i) src.words()[i] = colours[i % 6];
                checkRow(layout, convert, src.words(), count, 1);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Independent of the formula above: the values worked out by hand.
TEST(RowConverters, KnownValues) {
    auto bytesOf = [](RowConverter convert, PixelWord p, int n) {
        unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        convert(&p, out, 1);
        return std::vector<unsigned char>(out, out + n);
    };
    auto value16 = [&](RowConverter convert, PixelWord p) {
        const auto b = bytesOf(convert, p, 2);
        return unsigned(b[0] | (b[1] << 8));
    };
    using V = std::vector<unsigned char>;
    EXPECT_EQ(bytesOf(display::convertRgb32, 0x80123456, 4), (V{0x56, 0x34, 0x12, 0x80}));
    EXPECT_EQ(bytesOf(display::convertBgr32, 0x80123456, 4), (V{0x12, 0x34, 0x56, 0x00}));
    EXPECT_EQ(bytesOf(display::convertRgb24, 0x80123456, 4), (V{0x56, 0x34, 0x12, 0xEE}));
    EXPECT_EQ(bytesOf(display::convertBgr24, 0x80123456, 4), (V{0x12, 0x34, 0x56, 0xEE}));
    EXPECT_EQ(value16(display::convertRgb565, 0x80123456), 0x11AAu);
    EXPECT_EQ(value16(display::convertBgr565, 0x80123456), 0x51A2u);
    EXPECT_EQ(value16(display::convertRgb555, 0x80123456), 0x08CAu);
    EXPECT_EQ(value16(display::convertBgr555, 0x80123456), 0x28C2u);

    EXPECT_EQ(bytesOf(display::convertRgb32, 0xFFFFFFFF, 4), (V{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytesOf(display::convertBgr32, 0xFFFFFFFF, 4), (V{0xFF, 0xFF, 0xFF, 0x00}));
    for (RowConverter c : {display::convertRgb565, display::convertBgr565}) {
        EXPECT_EQ(value16(c, 0xFFFFFFFF), 0xFFFFu);
        EXPECT_EQ(value16(c, 0x00070707), 0x0020u);
    }
    for (RowConverter c : {display::convertRgb555, display::convertBgr555}) {
        EXPECT_EQ(value16(c, 0xFFFFFFFF), 0x7FFFu);
        EXPECT_EQ(value16(c, 0x00070707), 0x0000u);
    }
    EXPECT_EQ(value16(display::convertRgb565, 0xFF0000FF), 0x001Fu);
    EXPECT_EQ(value16(display::convertRgb555, 0xFF0000FF), 0x001Fu);
    EXPECT_EQ(value16(display::convertBgr565, 0xFF0000FF), 0xF800u);
    EXPECT_EQ(value16(display::convertBgr555, 0xFF0000FF), 0x7C00u);
}

TEST(RowConverters, PathsAreThereWhereTheProcessorHasThem) {
    for (const Layout& layout : kLayouts) {
        const display::ConvertPaths p = display::convertPaths(layout.convert);
        EXPECT_NE(p.scalar, nullptr) << layout.name;
#if defined(__x86_64__)
        EXPECT_EQ(p.avx2 != nullptr, __builtin_cpu_supports("avx2") != 0) << layout.name;
        const bool avx512 =
            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
        EXPECT_EQ(p.avx512 != nullptr, avx512 && layout.bytes == 2) << layout.name;
#endif
    }
    const display::ConvertPaths none = display::convertPaths(nullptr);
    EXPECT_EQ(none.scalar, nullptr);
    EXPECT_EQ(none.avx2, nullptr);
    EXPECT_EQ(none.avx512, nullptr);
}

TEST(SelectRowConverter, EachRowOfTheTable) {
    EXPECT_EQ(display::selectRowConverter(32, 0xFF0000, 0xFF00, 0xFF), display::convertRgb32);
    EXPECT_EQ(display::selectRowConverter(32, 0xFF, 0xFF00, 0xFF0000), display::convertBgr32);
    EXPECT_EQ(display::selectRowConverter(24, 0xFF0000, 0xFF00, 0xFF), display::convertRgb24);
    EXPECT_EQ(display::selectRowConverter(24, 0xFF, 0xFF00, 0xFF0000), display::convertBgr24);
    EXPECT_EQ(display::selectRowConverter(16, 0xF800, 0x07E0, 0x001F), display::convertRgb565);
    EXPECT_EQ(display::selectRowConverter(16, 0x001F, 0x07E0, 0xF800), display::convertBgr565);
    EXPECT_EQ(display::selectRowConverter(16, 0x7C00, 0x03E0, 0x001F), display::convertRgb555);
    EXPECT_EQ(display::selectRowConverter(16, 0x001F, 0x03E0, 0x7C00), display::convertBgr555);
}

TEST(SelectRowConverter, NearMissesGiveNone) {
    struct Format {
        std::uint32_t bits, r, g, b;
    };
    const Format misses[] = {
        {32, 0xF800, 0x07E0, 0x001F},            // right masks, wrong bit count
        {24, 0xF800, 0x07E0, 0x001F},            //
        {16, 0xFF0000, 0xFF00, 0xFF},            //
        {15, 0x7C00, 0x03E0, 0x001F},            // 5-5-5 reported as 15 bits
        {8, 0xE0, 0x1C, 0x03},                   //
        {0, 0, 0, 0},                            //
        {16, 0x7C00, 0x07E0, 0x001F},            // 5-5-5 red with 5-6-5 green
        {16, 0xF800, 0x03E0, 0x001F},            //
        {16, 0x07E0, 0xF800, 0x001F},            // masks in another order
        {32, 0xFF00, 0xFF0000, 0xFF},            //
        {32, 0xFF000000, 0xFF0000, 0xFF00},      // colour in the top three bytes
        {24, 0xFF0000, 0xFF00, 0xFF | 1u << 24}, //
    };
    for (const Format& f : misses)
        EXPECT_EQ(display::selectRowConverter(f.bits, f.r, f.g, f.b), nullptr)
            << f.bits << " " << std::hex << f.r << " " << f.g << " " << f.b;
}

} // namespace
