// screens.cpp -- the closing screens: "greets.png" at dusk with the new
// moon, "credits.png" under the northern lights. Their text keeps to the left
// and the bottom, where the moose walking right does not cover it.
#include "makepack/makepack.h"

namespace makepack {
namespace {

constexpr int kWidth = 640, kHeight = 480;
// The greetings' column: the moose's antlers never reach further left than
// x = 219 while the greetings show, its body never further than 261.
constexpr int kColumnX = 26, kTitleWidth = 185, kColumnWidth = 225;

struct Line {
    const char* font;
    int size;
    const char* text;
    int x, baseline; // x < 0: centred
};

// The line's own size, or a smaller one that keeps it within maxWidth
// (0: no limit).
int fittingSize(const Line& l, int maxWidth) {
    int size = l.size;
    while (maxWidth > 0 && size > 8) {
        Font font(fontPath(l.font), size);
        if (!font.ok() || font.measure(l.text) <= maxWidth) break;
        --size;
    }
    return size;
}

// Draws lines that share one style into one mask and paints it once.
void writeLines(Raster& r, const std::vector<Line>& lines, const TextStyle& style,
                int maxWidth = 0) {
    Mask mask = makeMask(r.width, r.height);
    int top = r.height, bottom = 0;
    // Lines that are shrunk to fit all take the smallest size, so that a
    // list keeps one size.
    int shrink = 0;
    for (const Line& l : lines) shrink = std::max(shrink, l.size - fittingSize(l, maxWidth));
    for (const Line& l : lines) {
        Font font(fontPath(l.font), l.size - shrink);
        if (!font.ok()) continue;
        int x = l.x >= 0 ? l.x : (r.width - font.measure(l.text)) / 2;
        font.draw(mask, l.text, x, l.baseline);
        top = std::min(top, l.baseline - font.ascent());
        bottom = std::max(bottom, l.baseline);
    }
    paintText(r, mask, style, top, bottom);
}

void verticalGradient(Raster& r, Rgba top, Rgba middle, Rgba bottom, float middleAt) {
    for (int y = 0; y < r.height; ++y) {
        float t = (y + 0.5f) / r.height;
        Rgba c = t < middleAt ? mix(top, middle, smoothstep(0, middleAt, t))
                              : mix(middle, bottom, smoothstep(middleAt, 1, t));
        for (int x = 0; x < r.width; ++x) r.at(x, y) = c;
    }
}

void starField(Raster& r, std::uint64_t seed, int count, float maxY) {
    Rng rng{seed};
    for (int i = 0; i < count; ++i) {
        Vec2 c{rng.range(0, kWidth), rng.range(0, maxY)};
        float size = 0.4f + rng.uniform() * rng.uniform() * 1.2f;
        float bright = rng.range(0.35f, 1.0f);
        fillShape(
            r, int(c.x) - 3, int(c.y) - 3, int(c.x) + 4, int(c.y) + 4, 2,
            [&](Vec2 p) { return sdCircle(p, c, size); },
            [&](Rgba& px, Vec2, float d) {
                addLight(px, hex(0xf0f4ff), bright * coverage(d, 1.5f));
            });
    }
}

// Rolling ground the moose stands on, from about y = 400 down.
void ground(Raster& r, std::uint32_t seed, Rgba near, Rgba far, Rgba rim) {
    for (int x = 0; x < kWidth; ++x) {
        float top = 398 + (fractal1(x / 120.0f, seed, 4) - 0.5f) * 26;
        for (int y = int(top) - 1; y < kHeight; ++y) {
            Rgba c = mix(far, near, clamp01((y - top) / 80));
            addLight(c, rim, std::exp(-(y + 0.5f - top) / 3) * 0.35f);
            blendOver(r.at(x, y), c, clamp01(y + 0.5f - top + 0.5f));
        }
    }
}

void crescentMoon(Raster& r, Vec2 c, float radius) {
    fillShape(
        r, int(c.x - radius * 4), int(c.y - radius * 4), int(c.x + radius * 4),
        int(c.y + radius * 4), radius * 3, [&](Vec2 p) { return sdCircle(p, c, radius); },
        [&](Rgba& px, Vec2 p, float d) {
            addLight(px, hex(0x6070a0), 0.5f * std::exp(-std::max(d, 0.0f) / (radius * 0.8f)));
            float shade = sdCircle(p, c + Vec2{radius * 0.45f, -radius * 0.2f}, radius * 0.95f);
            float lit = coverage(d, 1.5f) * clamp01(shade / 2);
            blendOver(px, hex(0xfff6d8), lit);
        });
}

// Curtains of light: bright along a wavy lower hem, fading upwards, in rays.
void aurora(Raster& r) {
    for (int x = 0; x < kWidth; ++x) {
        float hem =
            210 + 45 * std::sin(x / 95.0f + 0.6f) + (fractal1(x / 60.0f, 41, 4) - 0.5f) * 60;
        float rays = 0.45f + 0.55f * fractal1(x / 5.0f, 43, 3);
        float strength = 0.55f + 0.45f * std::sin(x / 150.0f);
        for (int y = 0; y < 380; ++y) {
            float above = hem - (y + 0.5f);
            float v = above > 0 ? std::exp(-above / 70) : std::exp(-(above * above) / 60);
            Rgba tint = mix(hex(0x3cffa0), hex(0xa050ff), smoothstep(30, 170, above));
            addLight(r.at(x, y), tint, v * rays * strength * 0.5f);
        }
    }
}

TextStyle glowing(Rgba top, Rgba bottom, Rgba shadow) {
    TextStyle st;
    st.top = top;
    st.bottom = bottom;
    st.outline = rgb(0.02f, 0.02f, 0.08f, 0.85f);
    st.outlineRadius = 2;
    st.shadow = shadow;
    st.shadowBlur = 4;
    st.shadowDx = 3, st.shadowDy = 4;
    return st;
}

} // namespace

Raster drawGreets() {
    Raster r = makeRaster(kWidth, kHeight);
    verticalGradient(r, hex(0x090c2a), hex(0x242a66), hex(0x7a4a82), 0.55f);
    starField(r, 0x6e3e75ull, 150, 300);
    crescentMoon(r, {540, 92}, 26);
    ground(r, 71, hex(0x0a0c1e), hex(0x1e2044), hex(0xb080c0));
    // While this screen shows, the moose dances between x = 190 and 610 and
    // the last lyric scrolls along the top: the words keep to a narrow
    // column on the left and the strip under the moose's hooves.
    writeLines(r, {{"DejaVuSerif-Bold.ttf", 46, "Hilsener", kColumnX, 138}},
               glowing(hex(0xfff0c0), hex(0xff9a50), rgb(0, 0, 0, 0.7f)), kTitleWidth);
    writeLines(r,
               {{"DejaVuSans-Oblique.ttf", 18, "the moose sends", kColumnX, 170},
                {"DejaVuSans-Oblique.ttf", 18, "its greetings to", kColumnX, 192}},
               glowing(hex(0xffd8a8), hex(0xffb070), rgb(0, 0, 0, 0.6f)), kTitleWidth);
    std::vector<Line> names;
    const char* const greeted[] = {
        "every moose in Trøndelag", "the spruce trees",     "the lake, for its mirror",
        "the midnight sun",         "SDL, libpng and zlib", "FreeType and LAME",
        "mpg123 and OpenMPT",       "the Debian people",    "and you, who typed"};
    int baseline = 228;
    for (const char* name : greeted)
        names.push_back({"DejaVuSans.ttf", 18, name, kColumnX, baseline}), baseline += 22;
    names.push_back({"DejaVuSansMono-Bold.ttf", 18, "make run", kColumnX, baseline});
    writeLines(r, names, glowing(hex(0xe8ecff), hex(0xb8c4ff), rgb(0, 0, 0, 0.6f)), kColumnWidth);
    writeLines(r, {{"DejaVuSans-Bold.ttf", 24, "Skål!", -1, 458}},
               glowing(hex(0xe8ecff), hex(0xb8c4ff), rgb(0, 0, 0, 0.6f)));
    return r;
}

Raster drawCredits() {
    Raster r = makeRaster(kWidth, kHeight);
    verticalGradient(r, hex(0x03050f), hex(0x0a1430), hex(0x163a56), 0.7f);
    starField(r, 0xc4ed175ull, 190, 380);
    aurora(r);
    ground(r, 97, hex(0x8fa6c8), hex(0xd6e2f4), hex(0xffffff));
    writeLines(r, {{"DejaVuSans-Bold.ttf", 96, "KVA", 30, 182}},
               glowing(hex(0xfff4c0), hex(0xff8a3a), rgb(0.1f, 1.0f, 0.6f, 0.45f)));
    TextStyle small = glowing(hex(0xf4f8ff), hex(0xc8d8ff), rgb(0, 0, 0, 0.7f));
    writeLines(r,
               {{"DejaVuSans-Oblique.ttf", 19, "a self-running moose show", 36, 214},
                {"DejaVuSans.ttf", 17, "code, pictures and music:", 36, 252},
                {"DejaVuSans-Bold.ttf", 19, "the KVA project", 36, 276},
                {"DejaVuSans.ttf", 17, "built with", 36, 312},
                {"DejaVuSans-Bold.ttf", 17, "SDL2 · libpng · zlib/minizip", 36, 336},
                {"DejaVuSans-Bold.ttf", 17, "libmpg123 · libopenmpt", 36, 358},
                {"DejaVuSans-Bold.ttf", 17, "FreeType · LAME · DejaVu fonts", 36, 380}},
               small);
    writeLines(r, {{"DejaVuSerif-Bold.ttf", 26, "Takk for nå!", -1, 458}},
               glowing(hex(0x203050), hex(0x0c1428), rgb(1, 1, 1, 0.6f)));
    return r;
}

} // namespace makepack
