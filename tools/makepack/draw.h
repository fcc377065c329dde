// draw.h -- the pack maker's drawing kit: a float RGBA raster, soft-edged
// shapes from signed distances, noise, blur and FreeType text masks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace makepack {

// Straight (not premultiplied) colour, channels 0..1, as PNG stores it.
struct Rgba {
    float r = 0, g = 0, b = 0, a = 0;
};

struct Vec2 {
    float x = 0, y = 0;
};

inline Vec2 operator+(Vec2 a, Vec2 b) {
    return {a.x + b.x, a.y + b.y};
}
inline Vec2 operator-(Vec2 a, Vec2 b) {
    return {a.x - b.x, a.y - b.y};
}
inline Vec2 operator*(Vec2 a, float s) {
    return {a.x * s, a.y * s};
}
inline float dot(Vec2 a, Vec2 b) {
    return a.x * b.x + a.y * b.y;
}
inline float length(Vec2 a) {
    return std::sqrt(dot(a, a));
}

inline float clamp01(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}
inline float lerp(float a, float b, float t) {
    return a + (b - a) * t;
}
inline float smoothstep(float e0, float e1, float v) {
    float t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
Rgba mix(Rgba a, Rgba b, float t);
Rgba rgb(float r, float g, float b, float a = 1);
Rgba hex(std::uint32_t rrggbb, float a = 1);

struct Raster {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;

    Rgba& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    const Rgba& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Raster makeRaster(int width, int height, Rgba fill = {});

// Source over destination, the source's alpha scaled by coverage.
void blendOver(Rgba& dst, Rgba src, float coverage);
// Adds light: brightens the colour without touching alpha.
void addLight(Rgba& dst, Rgba light, float amount);
// Draws one raster over another at an offset.
void composite(Raster& dst, const Raster& src, int x, int y);

// Coverage of a pixel from its signed distance (negative inside), with an
// edge `soft` pixels wide: 1.0 is plain anti-aliasing, more is a soft rim.
inline float coverage(float distance, float soft = 1.0f) {
    return clamp01(0.5f - distance / soft);
}

// Signed distances (negative inside).
float sdCircle(Vec2 p, Vec2 centre, float radius);
float sdEllipse(Vec2 p, Vec2 centre, Vec2 radii);
// A segment whose radius runs from ra at a to rb at b.
float sdTaper(Vec2 p, Vec2 a, Vec2 b, float ra, float rb);
float sdPolygon(Vec2 p, const std::vector<Vec2>& points);
// Union that melts shapes together over a band k pixels wide.
float smoothUnion(float a, float b, float k);
Vec2 rotate(Vec2 p, Vec2 pivot, float radians);

// Calls paint(p, distance) for every pixel whose centre lies within `reach`
// of the shape inside the box; paint decides the colour and coverage.
template <typename Sdf, typename Paint>
void fillShape(Raster& r, int x0, int y0, int x1, int y1, float reach, Sdf sdf, Paint paint) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0);
    x1 = std::min(x1, r.width), y1 = std::min(y1, r.height);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            Vec2 p{x + 0.5f, y + 0.5f};
            float d = sdf(p);
            if (d < reach) paint(r.at(x, y), p, d);
        }
    }
}

// Deterministic randomness: the pack is the same bytes on every run.
struct Rng {
    std::uint64_t state;
    std::uint32_t next();
    float uniform(); // [0, 1)
    float range(float lo, float hi) { return lo + (hi - lo) * uniform(); }
};

float hashNoise(int x, std::uint32_t seed); // [0, 1)
float noise1(float x, std::uint32_t seed);  // smooth, [0, 1)
float noise2(float x, float y, std::uint32_t seed);
float fractal1(float x, std::uint32_t seed, int octaves);
float fractal2(float x, float y, std::uint32_t seed, int octaves);

// A single-channel picture: text coverage, glow and shadow masks.
struct Mask {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    float& at(int x, int y) { return values[static_cast<size_t>(y) * width + x]; }
    float at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
    float sample(int x, int y) const {
        return (x < 0 || y < 0 || x >= width || y >= height) ? 0.0f : at(x, y);
    }
};

Mask makeMask(int width, int height);
void boxBlur(Mask& m, int radius, int passes);
// Grows the mask by radius pixels with a round pen (for outlines).
Mask dilate(const Mask& m, int radius);

// A FreeType face at one pixel size. Loads from Debian's DejaVu fonts.
class Font {
  public:
    Font(const std::string& path, int pixelSize);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    bool ok() const { return face_ != nullptr; }
    int ascent() const;
    int lineHeight() const;
    // Width in pixels of a UTF-8 line.
    int measure(std::string_view utf8) const;
    // Adds the line's coverage into the mask with its left end at x and its
    // baseline at y.
    void draw(Mask& m, std::string_view utf8, int x, int baseline) const;

  private:
    struct Library;
    std::unique_ptr<Library> library_;
    void* face_ = nullptr;
};

// How a text mask is painted: a vertical fill gradient, an outline grown
// around the letters and a soft, offset shadow or glow under everything.
struct TextStyle {
    Rgba top, bottom; // fill at the mask's first and last row of ink
    Rgba outline;     // alpha 0: none
    int outlineRadius = 0;
    Rgba shadow; // alpha 0: none
    int shadowBlur = 0;
    int shadowDx = 0, shadowDy = 0;
};

// Paints the mask (the raster's size) over the raster; inkTop and inkBottom
// are the rows the fill gradient spans.
void paintText(Raster& r, const Mask& mask, const TextStyle& style, int inkTop, int inkBottom);

std::string fontPath(std::string_view file);
extern const char* const kFontDirectory;

} // namespace makepack
