// moose.cpp -- the dancing moose, seen from the front, in its three poses:
// one set of body parts, sheared and bent by the pose.
#include "makepack/makepack.h"

namespace makepack {
namespace {

constexpr int kWidth = 340, kHeight = 336;
constexpr float kCx = 170, kFeet = 320;

enum Part { Body, Leg, Hoof, Head, Muzzle, Ear, Antler };

struct PoseShape {
    float lean;     // -1 left, 0 middle, 1 right
    float shear;    // pixels of sideways shift a pixel of height
    float headTilt; // radians
    Vec2 neck;      // pivot of the head
};

PoseShape shapeOf(Pose pose) {
    float lean = pose == Pose::Right ? 1.0f : pose == Pose::Left ? -1.0f : 0.0f;
    return {lean, 0.1f * lean, 0.16f * lean, {kCx, 150}};
}

// Into the upright moose's frame: undo the lean above the hooves and the
// head's tilt.
Vec2 unlean(const PoseShape& s, Vec2 p) {
    return {p.x - s.shear * (kFeet - p.y), p.y};
}
Vec2 untilt(const PoseShape& s, Vec2 p) {
    return rotate(p, s.neck, -s.headTilt);
}

struct LegShape {
    float leg, hoof;
};

// One leg from hip to hoof; the front leg on the side the moose leans away
// from lifts its hoof and bends at the knee.
LegShape leg(const PoseShape& s, Vec2 p, float side, float x, float top, float r0, bool front) {
    Vec2 hip{kCx + side * x, top};
    Vec2 hoof{kCx + side * (x - 3), kFeet - 5};
    float lift = (s.lean != 0 && side == -s.lean && front) ? 1.0f : 0.0f;
    hoof = hoof + Vec2{side * 10 * lift, -22 * lift};
    Vec2 knee = (hip + hoof) * 0.5f + Vec2{side * (2 + 10 * lift), 8 - 6 * lift};
    // The hips follow the lean; the hooves stay on the ground.
    Vec2 hipLean{hip.x + s.shear * (kFeet - hip.y), hip.y};
    Vec2 kneeLean{knee.x + s.shear * (kFeet - knee.y) * 0.5f, knee.y};
    float upper = sdTaper(p, hipLean, kneeLean, r0, r0 * 0.62f);
    float lower = sdTaper(p, kneeLean, hoof, r0 * 0.62f, r0 * 0.5f);
    float knob = sdCircle(p, kneeLean, r0 * 0.66f);
    return {smoothUnion(smoothUnion(upper, lower, 4), knob, 3),
            sdEllipse(p, hoof + Vec2{0, 2}, {r0 * 0.75f, r0 * 0.45f})};
}

LegShape legPair(const PoseShape& s, Vec2 p, bool front) {
    LegShape a = front ? leg(s, p, -1, 30, 236, 14, true) : leg(s, p, -1, 62, 206, 13, false);
    LegShape b = front ? leg(s, p, 1, 30, 236, 14, true) : leg(s, p, 1, 62, 206, 13, false);
    return {std::min(a.leg, b.leg), std::min(a.hoof, b.hoof)};
}

float body(const PoseShape& s, Vec2 p) {
    Vec2 q = unlean(s, p);
    float shoulders = sdEllipse(q, {kCx, 182}, {98, 40});
    float hump = sdEllipse(q, {kCx, 154}, {60, 30});
    float chest = sdEllipse(q, {kCx, 224}, {54, 40});
    float bell = sdTaper(untilt(s, q), {kCx + 1, 206}, {kCx + 5, 250}, 8, 5);
    return smoothUnion(smoothUnion(smoothUnion(shoulders, hump, 24), chest, 22), bell, 8);
}

// A palmate antler: a beam out from the skull, a broad palm, tines on its rim.
float antler(Vec2 q, float side) {
    Vec2 base{kCx + side * 20, 86};
    float beam = sdTaper(q, base, {kCx + side * 56, 72}, 6, 8);
    Vec2 palmCentre{kCx + side * 92, 56};
    Vec2 pr = rotate(q, palmCentre, side * 0.38f);
    float palm = sdEllipse(pr, palmCentre, {44, 19});
    float d = smoothUnion(beam, palm, 12);
    const float tineAngles[] = {-1.9f, -1.55f, -1.25f, -0.95f, -0.62f, -0.3f};
    for (int i = 0; i < 6; ++i) {
        float a = tineAngles[i];
        Vec2 dir{std::cos(a) * side, std::sin(a)};
        if (side < 0) dir.x = -std::cos(a);
        Vec2 root = palmCentre + Vec2{side * (-30 + 13 * i), -10 + std::fabs(i - 3.0f) * 1.5f};
        float len = 17 + 5 * std::sin(i * 1.7f);
        d = smoothUnion(d, sdTaper(q, root, root + dir * len, 5, 1.6f), 5);
    }
    // The brow tine points forward and out over the eye.
    Vec2 brow{kCx + side * 40, 78};
    d = smoothUnion(d, sdTaper(q, brow, brow + Vec2{side * 14, -12}, 4, 1.5f), 4);
    return d;
}

Vec2 headFrame(const PoseShape& s, Vec2 p) {
    return untilt(s, unlean(s, p));
}

float skull(const PoseShape& s, Vec2 p) {
    Vec2 q = headFrame(s, p);
    float top = sdTaper(q, {kCx, 96}, {kCx, 176}, 25, 18);
    return smoothUnion(top, sdEllipse(q, {kCx, 190}, {27, 22}), 16);
}

float muzzle(const PoseShape& s, Vec2 p) {
    return sdEllipse(headFrame(s, p), {kCx, 199}, {23, 13});
}

float ears(const PoseShape& s, Vec2 p) {
    Vec2 q = headFrame(s, p);
    float d = 1e9f;
    for (float side : {-1.0f, 1.0f}) {
        Vec2 ear{kCx + side * 40, 100};
        d = std::min(d, sdEllipse(rotate(q, ear, side * 0.42f), ear, {19, 8}));
    }
    return d;
}

float antlers(const PoseShape& s, Vec2 p) {
    Vec2 q = headFrame(s, p);
    return std::min(antler(q, -1), antler(q, 1));
}

float layerDistance(const PoseShape& s, Part part, bool front, Vec2 p) {
    switch (part) {
    case Leg:
        return legPair(s, p, front).leg;
    case Hoof:
        return legPair(s, p, front).hoof;
    case Body:
        return body(s, p);
    case Antler:
        return antlers(s, p);
    case Ear:
        return ears(s, p);
    case Head:
        return skull(s, p);
    case Muzzle:
        return muzzle(s, p);
    }
    return 1e9f;
}

struct Layer {
    Part part;
    bool front;
};

// Back to front.
constexpr Layer kLayers[] = {{Leg, false}, {Hoof, false}, {Body, false},
                             {Leg, true},  {Hoof, true},  {Antler, false},
                             {Ear, false}, {Head, false}, {Muzzle, false}};

float silhouette(const PoseShape& s, Vec2 p) {
    float d = 1e9f;
    for (const Layer& l : kLayers) d = std::min(d, layerDistance(s, l.part, l.front, p));
    return d;
}

Rgba partColour(const PoseShape& s, Part part, Vec2 p) {
    Vec2 q = headFrame(s, p);
    float fur = fractal2(p.x / 7, p.y / 5, 333, 3) - 0.5f;
    switch (part) {
    case Body: {
        float t = clamp01((q.y - 130) / 120);
        Rgba c = mix(hex(0x4a2e1c), hex(0x20130b), t);
        return mix(c, hex(0x1e120a), fur * 0.5f + 0.1f);
    }
    case Leg: {
        // Moose legs pale towards the hoof.
        float t = smoothstep(235, 300, p.y);
        return mix(mix(hex(0x3a2416), hex(0x9a8a78), t), hex(0x201410), fur * 0.3f);
    }
    case Hoof:
        return hex(0x1a120e);
    case Head: {
        float t = clamp01((q.y - 90) / 110);
        float cheek = clamp01(std::fabs(q.x - kCx) / 26); // the long face is lit down its middle
        Rgba c = mix(mix(hex(0x8a6242), hex(0x4e3220), t), hex(0x3a2416), cheek * 0.6f);
        return mix(c, hex(0x24160c), fur * 0.4f);
    }
    case Muzzle:
        return mix(hex(0x3c281c), hex(0x24160e), clamp01((q.y - 188) / 20));
    case Ear:
        return mix(hex(0x4c3020), hex(0x2a1a10), fur + 0.3f);
    case Antler: {
        float shade = fractal2(p.x / 9, p.y / 9, 81, 3);
        return mix(hex(0xe4d4ac), hex(0x9c8258), shade * 0.9f);
    }
    }
    return hex(0);
}

// Eyes, nostrils and the pale inner ears painted over the head; `scale`
// raster pixels to a unit of the moose keeps their edges one pixel soft.
void paintFace(Rgba& px, const PoseShape& s, Vec2 p, float scale) {
    Vec2 q = untilt(s, unlean(s, p));
    for (float side : {-1.0f, 1.0f}) {
        Vec2 ear{kCx + side * 42, 100};
        float inner = sdEllipse(rotate(q, ear, side * 0.42f), ear, {12, 4});
        blendOver(px, hex(0x8c6a56), coverage(inner * scale, 2) * 0.8f);
        float eye = sdEllipse(q, {kCx + side * 19, 124}, {5, 4});
        blendOver(px, hex(0x0a0604), coverage(eye * scale, 1.2f));
        float glint = sdCircle(q, {kCx + side * 19 - 1.5f, 122.5f}, 1.3f);
        blendOver(px, hex(0xfff0d8), coverage(glint * scale, 1.2f) * 0.9f);
        float nostril = sdEllipse(rotate(q, {kCx + side * 11, 202}, side * 0.5f),
                                  {kCx + side * 11, 202}, {5, 3});
        blendOver(px, hex(0x0c0806), coverage(nostril * scale, 1.5f));
    }
}

// Calls paint(pixel, q, d) for every raster pixel whose point q of the moose
// lies within `reach` moose units of the shape; d is in moose units.
template <typename Sdf, typename Paint>
void fillView(Raster& r, const MooseView& view, float reach, Sdf sdf, Paint paint) {
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            Vec2 q{view.origin.x + (x + 0.5f) / view.scale,
                   view.origin.y + (y + 0.5f) / view.scale};
            float d = sdf(q);
            if (d < reach) paint(r.at(x, y), q, d);
        }
    }
}

void drawShadow(Raster& r, const MooseView& view, const PoseShape& s) {
    Vec2 centre{kCx + s.lean * 10, kFeet + 4};
    fillView(
        r, view, 16,
        [&](Vec2 q) {
            return q.y < kFeet - 20 ? 1e9f : sdEllipse(q, centre, {100, 8});
        },
        [](Rgba& px, Vec2, float d) {
            blendOver(px, rgb(0.05f, 0.02f, 0.04f, 0.5f), coverage(d, 14));
        });
}

} // namespace

Raster drawMoose(Pose pose) {
    return drawMoose(pose, {kWidth, kHeight, {0, 0}, 1.0f});
}

Raster drawMoose(Pose pose, const MooseView& view) {
    PoseShape s = shapeOf(pose);
    Raster r = makeRaster(view.width, view.height, rgb(0.1f, 0.06f, 0.04f, 0));
    drawShadow(r, view, s);
    const Vec2 light{-0.35f, -0.94f}; // the sun is low behind, above the left shoulder
    for (const Layer& l : kLayers) {
        fillView(
            r, view, 6, [&](Vec2 q) { return layerDistance(s, l.part, l.front, q); },
            [&](Rgba& px, Vec2 p, float d) {
                // Parts in front cast a soft shadow on those behind.
                if (l.part != Body && l.part != Hoof)
                    blendOver(px, rgb(0.06f, 0.03f, 0.02f, 0.45f * px.a), coverage(d - 2, 6));
                Rgba c = partColour(s, l.part, p);
                if (l.part == Head || l.part == Muzzle) paintFace(c, s, p, view.scale);
                if (!l.front && l.part == Leg) c = mix(c, hex(0x140c08), 0.35f); // far side
                // Warm rim where the outline faces the sunset.
                float outside = silhouette(s, p + light * 3);
                float rim = clamp01(outside / 3) * smoothstep(-6, 0, d);
                addLight(c, hex(0xff9050), rim * (l.part == Antler ? 0.35f : 0.55f));
                // The outline stays 1.6 raster pixels soft at any scale.
                blendOver(px, c, coverage(d * view.scale, 1.6f));
            });
    }
    return r;
}

} // namespace makepack
