// icon.cpp -- the menu icon: the moose's head on a round sunset, 256 x 256.
#include "makepack/makepack.h"

namespace makepack {
namespace {

constexpr int kIconSize = 256;
// The head and antlers in the standing moose's raster.
constexpr float kHeadLeft = 20, kHeadTop = 10, kHeadSide = 300;

// Bilinear sample of straight colour, weighted by alpha so soft edges do not
// darken; transparent outside.
Rgba sample(const Raster& r, float x, float y) {
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - float(x0), fy = y - float(y0);
    Rgba sum{};
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
            const int sx = x0 + i, sy = y0 + j;
            if (sx < 0 || sy < 0 || sx >= r.width || sy >= r.height) continue;
            const float w = (i ? fx : 1 - fx) * (j ? fy : 1 - fy);
            const Rgba& p = r.at(sx, sy);
            sum.r += p.r * p.a * w, sum.g += p.g * p.a * w, sum.b += p.b * p.a * w;
            sum.a += p.a * w;
        }
    }
    if (sum.a <= 0) return {};
    return {sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, sum.a};
}

} // namespace

Raster drawIcon() {
    Raster icon = makeRaster(kIconSize, kIconSize);
    const Vec2 centre{kIconSize / 2.0f, kIconSize / 2.0f};
    fillShape(
        icon, 0, 0, kIconSize, kIconSize, 2, [&](Vec2 p) { return sdCircle(p, centre, 124); },
        [&](Rgba& px, Vec2 p, float d) {
            const float t = p.y / kIconSize;
            blendOver(px, mix(hex(0xf4a04a), hex(0x7a2a5a), t), coverage(d));
        });
    const Raster moose = drawMoose(Pose::Middle);
    const float scale = kHeadSide / kIconSize;
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            const Rgba c = sample(moose, kHeadLeft + (x + 0.5f) * scale - 0.5f,
                                  kHeadTop + (y + 0.5f) * scale - 0.5f);
            // Inside the disc only, so the neck ends at its rim.
            const float inside = coverage(sdCircle({x + 0.5f, y + 0.5f}, centre, 124));
            blendOver(icon.at(x, y), {c.r, c.g, c.b, 1.0f}, c.a * inside);
        }
    }
    return icon;
}

} // namespace makepack
