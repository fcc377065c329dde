// png_writer.cpp -- rasters written as PNG with libpng, including a
// median-cut quantiser for the palette picture.
#include "makepack/makepack.h"

#include <png.h>

#include <array>
#include <map>

namespace makepack {
namespace {

constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// A slight ordered dither keeps the long sky gradients free of bands.
std::uint8_t to8(float v, int x, int y) {
    float d = (kBayer[y & 3][x & 3] + 0.5f) / 16.0f - 0.5f;
    return static_cast<std::uint8_t>(std::clamp(std::lround(clamp01(v) * 255.0f + d), 0L, 255L));
}

std::uint16_t to16(float v) {
    return static_cast<std::uint16_t>(std::lround(clamp01(v) * 65535.0f));
}

void putBig16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

struct Palette {
    std::vector<png_color> colours;
    std::vector<std::uint8_t> indices; // one a pixel
};

using Colour = std::uint32_t; // 0xRRGGBB

struct Box {
    std::vector<std::pair<Colour, std::uint32_t>> entries; // colour, pixel count
};

int channel(Colour c, int k) {
    return (c >> (16 - 8 * k)) & 0xff;
}

// The channel with the widest spread, and that spread.
std::pair<int, int> widest(const Box& box) {
    int best = 0, spread = -1;
    for (int k = 0; k < 3; ++k) {
        int lo = 255, hi = 0;
        for (auto& e : box.entries)
            lo = std::min(lo, channel(e.first, k)), hi = std::max(hi, channel(e.first, k));
        if (hi - lo > spread) spread = hi - lo, best = k;
    }
    return {best, spread};
}

// Splits at the pixel-weighted median along the widest channel.
Box split(Box& box) {
    int k = widest(box).first;
    std::stable_sort(box.entries.begin(), box.entries.end(),
                     [k](auto& a, auto& b) { return channel(a.first, k) < channel(b.first, k); });
    std::uint64_t total = 0, run = 0;
    for (auto& e : box.entries) total += e.second;
    // Both halves keep at least one colour.
    size_t cut = 1;
    for (; cut + 1 < box.entries.size(); ++cut) {
        run += box.entries[cut - 1].second;
        if (run * 2 >= total) break;
    }
    Box other;
    other.entries.assign(box.entries.begin() + cut, box.entries.end());
    box.entries.resize(cut);
    return other;
}

png_color average(const Box& box) {
    std::uint64_t sum[3] = {0, 0, 0}, n = 0;
    for (auto& e : box.entries) {
        for (int k = 0; k < 3; ++k) sum[k] += std::uint64_t(channel(e.first, k)) * e.second;
        n += e.second;
    }
    auto c = [&](int k) { return static_cast<png_byte>((sum[k] + n / 2) / n); };
    return {c(0), c(1), c(2)};
}

Palette quantise(const Raster& r) {
    std::vector<Colour> pixels(r.pixels.size());
    std::map<Colour, std::uint32_t> counts;
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            const Rgba& p = r.at(x, y);
            Colour c =
                (Colour(to8(p.r, x, y)) << 16) | (Colour(to8(p.g, x, y)) << 8) | to8(p.b, x, y);
            pixels[static_cast<size_t>(y) * r.width + x] = c;
            ++counts[c];
        }
    }
    std::vector<Box> boxes(1);
    boxes[0].entries.assign(counts.begin(), counts.end());
    while (boxes.size() < 256) {
        int pick = -1, spread = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            int s = boxes[i].entries.size() > 1 ? widest(boxes[i]).second : 0;
            if (s > spread) spread = s, pick = static_cast<int>(i);
        }
        if (pick < 0) break;
        Box other = split(boxes[pick]);
        boxes.push_back(std::move(other));
    }
    Palette pal;
    std::map<Colour, std::uint8_t> lookup;
    for (auto& b : boxes) pal.colours.push_back(average(b));
    for (auto& [c, n] : counts) {
        int best = 0, bestD = 1 << 30;
        for (size_t i = 0; i < pal.colours.size(); ++i) {
            int dr = channel(c, 0) - pal.colours[i].red, dg = channel(c, 1) - pal.colours[i].green,
                db = channel(c, 2) - pal.colours[i].blue;
            int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
            if (d < bestD) bestD = d, best = static_cast<int>(i);
        }
        lookup[c] = static_cast<std::uint8_t>(best);
    }
    pal.indices.reserve(pixels.size());
    for (Colour c : pixels) pal.indices.push_back(lookup[c]);
    return pal;
}

int bytesPerPixel(PngKind kind) {
    switch (kind) {
    case PngKind::Rgb8:
        return 3;
    case PngKind::Rgb16:
        return 6;
    case PngKind::Rgba8:
        return 4;
    case PngKind::Rgba16:
        return 8;
    case PngKind::Palette8:
        return 1;
    }
    return 4;
}

void packRow(const Raster& r, PngKind kind, int y, std::uint8_t* out) {
    for (int x = 0; x < r.width; ++x) {
        const Rgba& p = r.at(x, y);
        switch (kind) {
        case PngKind::Rgb8:
        case PngKind::Rgba8:
            *out++ = to8(p.r, x, y), *out++ = to8(p.g, x, y), *out++ = to8(p.b, x, y);
            if (kind == PngKind::Rgba8)
                *out++ = static_cast<std::uint8_t>(std::lround(clamp01(p.a) * 255));
            break;
        case PngKind::Rgb16:
        case PngKind::Rgba16:
            putBig16(out, to16(p.r)), putBig16(out + 2, to16(p.g)), putBig16(out + 4, to16(p.b));
            out += 6;
            if (kind == PngKind::Rgba16) putBig16(out, to16(p.a)), out += 2;
            break;
        case PngKind::Palette8:
            break;
        }
    }
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

} // namespace

Bytes encodePng(const Raster& r, PngKind kind) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    bool palette = kind == PngKind::Palette8;
    bool sixteen = kind == PngKind::Rgb16 || kind == PngKind::Rgba16;
    bool alpha = kind == PngKind::Rgba8 || kind == PngKind::Rgba16;
    int colourType = palette ? PNG_COLOR_TYPE_PALETTE
                     : alpha ? PNG_COLOR_TYPE_RGB_ALPHA
                             : PNG_COLOR_TYPE_RGB;
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, r.width, r.height, sixteen ? 16 : 8, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    Palette pal;
    if (palette) {
        pal = quantise(r);
        png_set_PLTE(png, info, pal.colours.data(), static_cast<int>(pal.colours.size()));
    }
    png_write_info(png, info);
    size_t stride = static_cast<size_t>(r.width) * bytesPerPixel(kind);
    std::vector<std::uint8_t> row(stride);
    for (int y = 0; y < r.height; ++y) {
        if (palette)
            std::copy_n(pal.indices.begin() + static_cast<long>(y) * r.width, r.width, row.begin());
        else
            packRow(r, kind, y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace makepack
