// icon.cpp -- the menu icon: the moose's head on a round sunset, drawn at the
// size asked for, so small icons are as sharp as large ones.
#include "makepack/makepack.h"

namespace makepack {
namespace {

// The head and antlers in the standing moose's raster.
constexpr float kHeadLeft = 20, kHeadTop = 10, kHeadSide = 300;
// The disc's radius at 256 x 256, leaving a margin of four pixels.
constexpr float kDiscRadius = 124.0f / 256.0f;

} // namespace

Raster drawIcon(int size) {
    size = std::clamp(size, kIconMinSize, kIconMaxSize);
    Raster icon = makeRaster(size, size);
    const float side = float(size);
    const Vec2 centre{side / 2, side / 2};
    const float radius = kDiscRadius * side;
    fillShape(
        icon, 0, 0, size, size, 2, [&](Vec2 p) { return sdCircle(p, centre, radius); },
        [&](Rgba& px, Vec2 p, float d) {
            blendOver(px, mix(hex(0xf4a04a), hex(0x7a2a5a), p.y / side), coverage(d));
        });
    const Raster head =
        drawMoose(Pose::Middle, {size, size, {kHeadLeft, kHeadTop}, side / kHeadSide});
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Rgba& c = head.at(x, y);
            // Inside the disc only, so the neck ends at its rim.
            const float inside = coverage(sdCircle({x + 0.5f, y + 0.5f}, centre, radius));
            blendOver(icon.at(x, y), {c.r, c.g, c.b, 1.0f}, c.a * inside);
        }
    }
    return icon;
}

} // namespace makepack
