// landscape.cpp -- "solnedgang.png": sunset over a mountain lake, stars in
// the dusk above and spruce trees on the near shore.
#include "makepack/makepack.h"

namespace makepack {
namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr float kHorizon = 318; // the lake's far shore
constexpr Vec2 kSun{528, 284};  // right of the moose, which stands mid-screen most of the show
constexpr float kSunRadius = 44;

struct Stop {
    float at;
    Rgba colour;
};

Rgba gradient(const std::vector<Stop>& stops, float v) {
    if (v <= stops.front().at) return stops.front().colour;
    for (size_t i = 1; i < stops.size(); ++i) {
        if (v <= stops[i].at) {
            float t = (v - stops[i - 1].at) / (stops[i].at - stops[i - 1].at);
            return mix(stops[i - 1].colour, stops[i].colour, smoothstep(0, 1, t));
        }
    }
    return stops.back().colour;
}

Rgba skyColour(float x, float y) {
    static const std::vector<Stop> stops = {
        {0, hex(0x140c36)},   {80, hex(0x2e1656)},  {150, hex(0x6a2468)}, {205, hex(0xb53d67)},
        {250, hex(0xe8693f)}, {290, hex(0xffa64a)}, {318, hex(0xffd98a)}};
    Rgba c = gradient(stops, y);
    // The glow around the sun spreads wider along the horizon than up.
    float dx = (x - kSun.x) / 260, dy = (y - kSun.y) / 150;
    float glow = std::exp(-(dx * dx + dy * dy) * 2.2f);
    addLight(c, hex(0xff9a40), glow * 0.55f);
    return c;
}

void drawSky(Raster& r) {
    for (int y = 0; y < kHorizon + 2; ++y)
        for (int x = 0; x < kWidth; ++x) r.at(x, y) = skyColour(x + 0.5f, y + 0.5f);
}

void drawStars(Raster& r) {
    Rng rng{0x57a25ull};
    for (int i = 0; i < 170; ++i) {
        Vec2 c{rng.range(0, kWidth), rng.range(0, 175)};
        float size = 0.45f + rng.uniform() * rng.uniform() * 1.3f;
        float fadeOut = 1 - smoothstep(40, 180, c.y); // the dusk swallows the low ones
        float bright = rng.range(0.5f, 1.0f) * fadeOut;
        Rgba tint = mix(hex(0xfff4e0), hex(0xc8d8ff), rng.uniform());
        int x0 = int(c.x) - 4, y0 = int(c.y) - 4;
        fillShape(
            r, x0, y0, x0 + 9, y0 + 9, 2.5f, [&](Vec2 p) { return sdCircle(p, c, size); },
            [&](Rgba& px, Vec2, float d) { addLight(px, tint, bright * coverage(d, 1.6f)); });
        if (size > 1.2f) { // a few bright ones twinkle with a small cross
            fillShape(
                r, x0 - 3, y0, x0 + 12, y0 + 9, 1,
                [&](Vec2 p) {
                    return std::min(sdTaper(p, c - Vec2{6, 0}, c + Vec2{6, 0}, 0.35f, 0.35f),
                                    sdTaper(p, c - Vec2{0, 5}, c + Vec2{0, 5}, 0.35f, 0.35f));
                },
                [&](Rgba& px, Vec2 p, float d) {
                    addLight(px, tint, 0.5f * bright * coverage(d) * (1 - length(p - c) / 6));
                });
        }
    }
}

void drawSun(Raster& r) {
    int x0 = int(kSun.x - kSunRadius) - 3, y0 = int(kSun.y - kSunRadius) - 3;
    int side = int(2 * kSunRadius) + 6;
    fillShape(
        r, x0, y0, x0 + side, y0 + side, 2, [](Vec2 p) { return sdCircle(p, kSun, kSunRadius); },
        [](Rgba& px, Vec2 p, float d) {
            float t = (p.y - (kSun.y - kSunRadius)) / (2 * kSunRadius);
            Rgba disc = mix(hex(0xfffbe6), hex(0xffc45a), clamp01(t));
            blendOver(px, disc, coverage(d, 1.5f));
        });
}

// Long thin streaks of cloud, dark on top and lit from below by the sun.
void drawClouds(Raster& r) {
    struct Streak {
        float y, x0, x1, thick;
    };
    const Streak streaks[] = {{238, 250, 600, 4.5f}, {252, 410, 630, 2.5f}, {268, 450, 600, 3},
                              {214, 40, 330, 5},     {196, 420, 640, 3.5f}, {281, 150, 380, 2}};
    for (int i = 0; i < 6; ++i) {
        const Streak& s = streaks[i];
        std::uint32_t seed = 900u + i;
        fillShape(
            r, int(s.x0) - 10, int(s.y - 14), int(s.x1) + 10, int(s.y + 14), 3,
            [&](Vec2 p) {
                float along = (p.x - s.x0) / (s.x1 - s.x0);
                float taper = std::sin(clamp01(along) * 3.14159f);
                float wobble = (fractal1(p.x / 40, seed, 3) - 0.5f) * 6;
                float half = s.thick * taper * (0.6f + fractal1(p.x / 18, seed + 7, 3));
                return std::fabs(p.y - s.y - wobble) - half;
            },
            [&](Rgba& px, Vec2 p, float d) {
                float lit = smoothstep(s.y - 2, s.y + s.thick, p.y);
                float nearSun = std::exp(-std::pow((p.x - kSun.x) / 170, 2));
                Rgba dark = hex(0x6b2a5e), bright = mix(hex(0xff8a50), hex(0xffe2a0), nearSun);
                blendOver(px, mix(dark, bright, lit * 0.85f), 0.9f * coverage(d, 2.5f));
            });
    }
}

// One ridge line: height above the horizon at x.
float ridge(float x, std::uint32_t seed, float base, float amplitude, float scale) {
    float n = fractal1(x / scale, seed, 5);
    float peaks = std::pow(n, 1.6f);
    // A valley where the sun goes down.
    float notch = 1 - 0.75f * std::exp(-std::pow((x - kSun.x) / 110, 2));
    return base + amplitude * peaks * notch;
}

void drawMountains(Raster& r) {
    struct Layer {
        std::uint32_t seed;
        float base, amplitude, scale;
        Rgba colour;
        float haze;
    };
    const Layer layers[] = {{11, 10, 95, 150, hex(0x9a4c80), 0.55f},
                            {23, 4, 70, 95, hex(0x5e2a5a), 0.3f},
                            {37, 0, 38, 60, hex(0x361a40), 0.12f}};
    for (const Layer& l : layers) {
        for (int x = 0; x < kWidth; ++x) {
            float top = kHorizon - ridge(x + 0.5f, l.seed, l.base, l.amplitude, l.scale);
            for (int y = std::max(0, int(top) - 1); y < kHorizon; ++y) {
                float cover = clamp01(y + 0.5f - top + 0.5f);
                // Haze: the far ranges take on the colour of the sky behind them.
                Rgba c =
                    mix(l.colour, skyColour(x + 0.5f, y + 0.5f), l.haze * (1 - (y - top) / 160));
                blendOver(r.at(x, y), c, cover);
            }
        }
    }
}

// Small spruce silhouettes along the far shore.
void drawFarForest(Raster& r) {
    Rng rng{0xf0125ull};
    for (float x = -4; x < kWidth + 4; x += rng.range(3, 9)) {
        float h = rng.range(5, 15) * (0.6f + fractal1(x / 80, 5, 2));
        float w = h * 0.28f;
        for (int y = int(kHorizon - h); y < kHorizon; ++y) {
            float half = w * (y + 0.5f - (kHorizon - h)) / h;
            for (int px = int(x - w - 1); px <= int(x + w + 1); ++px) {
                if (px < 0 || px >= kWidth || y < 0) continue;
                float d = std::fabs(px + 0.5f - x) - half;
                blendOver(r.at(px, y), hex(0x24102c), coverage(d));
            }
        }
    }
}

// The lake mirrors the scene above its shore, rippled and darkened.
void drawLake(Raster& r) {
    Raster above = r;
    for (int y = int(kHorizon); y < kHeight; ++y) {
        float depth = (y - kHorizon) / (kHeight - kHorizon);
        for (int x = 0; x < kWidth; ++x) {
            float ripple = (noise2(x / 30.0f, y * 1.3f, 77) - 0.5f) * (2 + depth * 14);
            int sx = std::clamp(int(x + ripple), 0, kWidth - 1);
            int sy = std::clamp(int(2 * kHorizon - y - 1), 0, int(kHorizon) - 1);
            Rgba c = mix(above.at(sx, sy), hex(0x201038), 0.25f + depth * 0.45f);
            // Glitter: broken bright dashes in the sun's column.
            float column = std::exp(-std::pow((x - kSun.x) / (18 + depth * 60), 2));
            float dash = noise2(x / 9.0f, y * 0.8f, 91);
            addLight(c, hex(0xffd080), column * smoothstep(0.55f, 0.8f, dash) * 0.8f);
            r.at(x, y) = c;
        }
    }
}

// The near shore line, in pixels from the top, at x.
float shoreLine(float x) {
    return 392 - 16 * std::sin(x / 640 * 3.14159f) + (fractal1(x / 50, 313, 4) - 0.5f) * 14 +
           std::max(0.0f, 90 - x) * 0.55f + std::max(0.0f, x - 560) * 0.4f;
}

void drawShore(Raster& r) {
    for (int x = 0; x < kWidth; ++x) {
        float top = shoreLine(x + 0.5f);
        for (int y = std::max(0, int(top) - 8); y < kHeight; ++y) {
            // Grass blades break the edge.
            float blade = std::pow(hashNoise(x, 419), 3.0f) * 7;
            float d = top - blade - (y + 0.5f);
            Rgba ground = mix(hex(0x1c0c20), hex(0x0c0610), clamp01((y - top) / 60));
            float rim = std::exp(-(y + 0.5f - top + blade) / 2.0f) * 0.5f; // warm light on the edge
            addLight(ground, hex(0xff7a3a), rim * clamp01(1 - std::fabs(x - kSun.x) / 500));
            blendOver(r.at(x, y), ground, clamp01(0.5f - d));
        }
    }
}

// A spruce: tiers of drooping branches narrowing to the tip.
void drawSpruce(Raster& r, float cx, float baseY, float height, std::uint32_t seed) {
    float top = baseY - height, maxHalf = height * 0.21f, shore = shoreLine(cx);
    int tiers = 9 + int(height / 40);
    auto halfWidth = [&](float y) {
        float t = (y - top) / height; // 0 at the tip, 1 at the foot
        float tierPos = t * tiers;
        float saw = tierPos - std::floor(tierPos); // each tier flares out, then tucks in
        float jag = (noise1(y / 3.0f, seed) - 0.5f) * 0.25f;
        return maxHalf * t * (0.68f + 0.32f * saw + jag);
    };
    fillShape(
        r, int(cx - maxHalf - 3), int(top - 2), int(cx + maxHalf + 3), int(baseY + 4), 1.5f,
        [&](Vec2 p) {
            float crown = std::fabs(p.x - cx) - halfWidth(p.y);
            if (p.y < top) crown = std::max(crown, top - p.y);
            float trunk = std::max(std::fabs(p.x - cx) - 2.5f,
                                   std::max(p.y - baseY - 3, top + height * 0.3f - p.y));
            return std::min(p.y > baseY - height * 0.1f ? std::max(crown, p.y - baseY) : crown,
                            trunk);
        },
        [&](Rgba& px, Vec2 p, float d) {
            Rgba c = hex(0x0e0612);
            float sunSide = clamp01((kSun.x - cx) / 400) * (p.x > cx ? 1.0f : 0.0f);
            sunSide *= 1 - smoothstep(shore - 10, shore, p.y); // below the shore: in shadow
            addLight(c, hex(0xff6a30), sunSide * 0.12f * coverage(-d - 1.5f, 1.5f));
            blendOver(px, c, coverage(d, 1.2f));
        });
}

void drawTrees(Raster& r) {
    struct Tree {
        float x, height;
    };
    const Tree trees[] = {{26, 300},  {88, 210},  {128, 120}, {-10, 360},
                          {622, 260}, {590, 150}, {662, 330}};
    std::uint32_t seed = 1;
    for (const Tree& t : trees) drawSpruce(r, t.x, shoreLine(t.x) + 40, t.height + 40, seed++);
}

void drawBirds(Raster& r) {
    const Vec2 birds[] = {{180, 150}, {196, 142}, {208, 156}, {505, 120}};
    for (Vec2 b : birds) {
        fillShape(
            r, int(b.x) - 8, int(b.y) - 6, int(b.x) + 8, int(b.y) + 6, 1,
            [&](Vec2 p) {
                float left = sdTaper(p, b, b + Vec2{-6, -3}, 0.8f, 0.3f);
                float right = sdTaper(p, b, b + Vec2{6, -3}, 0.8f, 0.3f);
                return std::min(left, right);
            },
            [](Rgba& px, Vec2, float d) { blendOver(px, hex(0x2a1238), coverage(d)); });
    }
}

} // namespace

Raster drawSunset() {
    Raster r = makeRaster(kWidth, kHeight, hex(0));
    drawSky(r);
    drawStars(r);
    drawSun(r);
    drawClouds(r);
    drawBirds(r);
    drawMountains(r);
    drawFarForest(r);
    drawLake(r);
    drawShore(r);
    drawTrees(r);
    return r;
}

} // namespace makepack
