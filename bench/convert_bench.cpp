// convert_bench.cpp -- the row converters against SDL, libyuv and pixman
// doing the same bytes: one random 640x480 frame converted row by row.
#include "aligned.h"
#include "display/convert.h"

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <pixman.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using canvas::PixelWord;

constexpr int kWidth = 640, kHeight = 480;

const bench::AlignedVector<PixelWord>& randomFrame() {
    static const bench::AlignedVector<PixelWord> frame = [] {
        bench::AlignedVector<PixelWord> f(kWidth * kHeight);
        std::mt19937 rng(1);
        for (PixelWord& p : f) p = rng();
        return f;
    }();
    return frame;
}

// Converts the whole frame into out (rows at the layout's own pitch).
using FrameFn = std::function<void(const PixelWord* frame, unsigned char* out)>;
using LibyuvFn = int (*)(const std::uint8_t*, int, std::uint8_t*, int, int, int);

struct Layout {
    const char* name;
    display::RowConverter kva;
    int bytes;
    std::uint32_t sdlFormat; // 0: none
    LibyuvFn libyuv;         // null: none
    pixman_format_code_t pixman;
};

// SDL names formats by the packed value for 32/16-bit but by byte order for
// 24-bit: its BGR24 is our rgb24 (bytes B, G, R) and RGB24 our bgr24.
const Layout kLayouts[] = {
    {"rgb32", display::convertRgb32, 4, SDL_PIXELFORMAT_ARGB8888, libyuv::ARGBCopy,
     PIXMAN_a8r8g8b8},
    {"bgr32", display::convertBgr32, 4, SDL_PIXELFORMAT_XBGR8888, nullptr, PIXMAN_x8b8g8r8},
    {"rgb24", display::convertRgb24, 3, SDL_PIXELFORMAT_BGR24, libyuv::ARGBToRGB24, PIXMAN_r8g8b8},
    {"bgr24", display::convertBgr24, 3, SDL_PIXELFORMAT_RGB24, libyuv::ARGBToRAW, PIXMAN_b8g8r8},
    {"rgb565", display::convertRgb565, 2, SDL_PIXELFORMAT_RGB565, libyuv::ARGBToRGB565,
     PIXMAN_r5g6b5},
    {"bgr565", display::convertBgr565, 2, SDL_PIXELFORMAT_BGR565, nullptr, PIXMAN_b5g6r5},
    {"rgb555", display::convertRgb555, 2, SDL_PIXELFORMAT_RGB555, nullptr, PIXMAN_x1r5g5b5},
    {"bgr555", display::convertBgr555, 2, SDL_PIXELFORMAT_BGR555, nullptr, PIXMAN_x1b5g5r5},
};

FrameFn byRows(display::RowConverter convert, int bytes) {
    return [convert, bytes](const PixelWord* frame, unsigned char* out) {
        for (int y = 0; y < kHeight; ++y)
            convert(frame + y * kWidth, out + y * kWidth * bytes, kWidth);
    };
}

FrameFn sdlPeer(const Layout& l) {
    return [format = l.sdlFormat, bytes = l.bytes](const PixelWord* frame, unsigned char* out) {
        for (int y = 0; y < kHeight; ++y)
            SDL_ConvertPixels(kWidth, 1, SDL_PIXELFORMAT_ARGB8888, frame + y * kWidth, kWidth * 4,
                              format, out + y * kWidth * bytes, kWidth * bytes);
    };
}

FrameFn libyuvPeer(const Layout& l) {
    return [fn = l.libyuv, bytes = l.bytes](const PixelWord* frame, unsigned char* out) {
        for (int y = 0; y < kHeight; ++y)
            fn(reinterpret_cast<const std::uint8_t*>(frame + y * kWidth), kWidth * 4,
               out + y * kWidth * bytes, kWidth * bytes, kWidth, 1);
    };
}

// Whole-frame images made once per run of the benchmark; composited a row
// at a time. The images only wrap the caller's memory.
struct PixmanImages {
    pixman_image_t* src = nullptr;
    pixman_image_t* dst = nullptr;
    ~PixmanImages() {
        if (src) pixman_image_unref(src);
        if (dst) pixman_image_unref(dst);
    }
};

FrameFn pixmanPeer(const Layout& l, const PixelWord* frame, unsigned char* out,
                   std::shared_ptr<PixmanImages> images) {
    images->src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight,
                                           const_cast<PixelWord*>(frame), kWidth * 4);
    images->dst = pixman_image_create_bits(l.pixman, kWidth, kHeight,
                                           reinterpret_cast<std::uint32_t*>(out), kWidth * l.bytes);
    return [images](const PixelWord*, unsigned char*) {
        for (int y = 0; y < kHeight; ++y)
            pixman_image_composite32(PIXMAN_OP_SRC, images->src, nullptr, images->dst, 0, y, 0, 0,
                                     0, y, kWidth, 1);
    };
}

enum class Peer { kva, scalar, avx2, sdl, libyuv, pixman };

// The peer's bytes must equal the plain converter's, into a destination
// full of junk so that bytes a peer leaves unwritten count as different.
bool sameBytes(const Layout& l, const FrameFn& fn, const PixelWord* frame, unsigned char* out,
               std::size_t size) {
    std::vector<unsigned char> want(size);
    byRows(display::convertPaths(l.kva).scalar, l.bytes)(frame, want.data());
    std::memset(out, 0xA5, size);
    fn(frame, out);
    return std::memcmp(out, want.data(), size) == 0;
}

void runConvert(benchmark::State& state, const Layout& l, Peer peer) {
    const bench::AlignedVector<PixelWord>& frame = randomFrame();
    const std::size_t size = std::size_t(kWidth) * kHeight * l.bytes;
    // Whole words, so pixman may treat rows as 32-bit units.
    bench::AlignedVector<std::uint32_t> storage((size + 3) / 4);
    auto* out = reinterpret_cast<unsigned char*>(storage.data());
    FrameFn fn;
    switch (peer) {
    case Peer::kva:
        fn = byRows(l.kva, l.bytes);
        break;
    case Peer::scalar:
        fn = byRows(display::convertPaths(l.kva).scalar, l.bytes);
        break;
    case Peer::avx2:
        if (!display::convertPaths(l.kva).avx2) {
            state.SkipWithError("no AVX2 path");
            return;
        }
        fn = byRows(display::convertPaths(l.kva).avx2, l.bytes);
        break;
    case Peer::sdl:
        fn = sdlPeer(l);
        break;
    case Peer::libyuv:
        fn = libyuvPeer(l);
        break;
    case Peer::pixman:
        fn = pixmanPeer(l, frame.data(), out, std::make_shared<PixmanImages>());
        break;
    }
    if (!sameBytes(l, fn, frame.data(), out, size)) {
        state.SkipWithError("output differs from the converter's");
        return;
    }
    for (auto _ : state) {
        fn(frame.data(), out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

bool registerAll() {
    for (const Layout& l : kLayouts) {
        const std::string base = std::string("convert/") + l.name + "/";
        auto add = [&](const char* peer, Peer p) {
            benchmark::RegisterBenchmark((base + peer).c_str(), runConvert, l, p);
        };
        add("kva", Peer::kva);
        add("scalar", Peer::scalar);
        // What a processor without AVX-512 runs (registered before the
        // converters know the processor; skipped when it has no AVX2).
        add("avx2", Peer::avx2);
        if (l.sdlFormat) add("sdl", Peer::sdl);
        if (l.libyuv) add("libyuv", Peer::libyuv);
        add("pixman", Peer::pixman);
    }
    return true;
}

const bool registered = registerAll();

} // namespace
