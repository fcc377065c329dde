// draw.cpp -- raster blending, signed distances, noise and mask filters.
#include "makepack/draw.h"

namespace makepack {

Rgba mix(Rgba a, Rgba b, float t) {
    return {lerp(a.r, b.r, t), lerp(a.g, b.g, t), lerp(a.b, b.b, t), lerp(a.a, b.a, t)};
}

Rgba rgb(float r, float g, float b, float a) {
    return {r, g, b, a};
}

Rgba hex(std::uint32_t rrggbb, float a) {
    return {((rrggbb >> 16) & 0xff) / 255.0f, ((rrggbb >> 8) & 0xff) / 255.0f,
            (rrggbb & 0xff) / 255.0f, a};
}

Raster makeRaster(int width, int height, Rgba fill) {
    Raster r;
    r.width = width;
    r.height = height;
    r.pixels.assign(static_cast<size_t>(width) * height, fill);
    return r;
}

void blendOver(Rgba& dst, Rgba src, float cover) {
    float sa = clamp01(src.a * cover);
    if (sa <= 0) return;
    float da = dst.a * (1 - sa);
    float oa = sa + da;
    dst.r = (src.r * sa + dst.r * da) / oa;
    dst.g = (src.g * sa + dst.g * da) / oa;
    dst.b = (src.b * sa + dst.b * da) / oa;
    dst.a = oa;
}

void addLight(Rgba& dst, Rgba light, float amount) {
    dst.r = clamp01(dst.r + light.r * amount);
    dst.g = clamp01(dst.g + light.g * amount);
    dst.b = clamp01(dst.b + light.b * amount);
}

void composite(Raster& dst, const Raster& src, int ox, int oy) {
    for (int y = 0; y < src.height; ++y) {
        int dy = y + oy;
        if (dy < 0 || dy >= dst.height) continue;
        for (int x = 0; x < src.width; ++x) {
            int dx = x + ox;
            if (dx >= 0 && dx < dst.width) blendOver(dst.at(dx, dy), src.at(x, y), 1.0f);
        }
    }
}

float sdCircle(Vec2 p, Vec2 c, float radius) {
    return length(p - c) - radius;
}

// Close to the true distance near the edge, which is all the edges need.
float sdEllipse(Vec2 p, Vec2 c, Vec2 radii) {
    Vec2 q = p - c;
    float k0 = std::sqrt((q.x * q.x) / (radii.x * radii.x) + (q.y * q.y) / (radii.y * radii.y));
    float k1 = std::sqrt((q.x * q.x) / (radii.x * radii.x * radii.x * radii.x) +
                         (q.y * q.y) / (radii.y * radii.y * radii.y * radii.y));
    if (k1 < 1e-6f) return -std::min(radii.x, radii.y);
    return k0 * (k0 - 1) / k1;
}

float sdTaper(Vec2 p, Vec2 a, Vec2 b, float ra, float rb) {
    Vec2 pa = p - a, ba = b - a;
    float h = clamp01(dot(pa, ba) / std::max(dot(ba, ba), 1e-6f));
    return length(pa - ba * h) - lerp(ra, rb, h);
}

float sdPolygon(Vec2 p, const std::vector<Vec2>& v) {
    float d = dot(p - v[0], p - v[0]);
    float s = 1;
    for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
        Vec2 e = v[j] - v[i], w = p - v[i];
        Vec2 b = w - e * clamp01(dot(w, e) / dot(e, e));
        d = std::min(d, dot(b, b));
        bool c1 = p.y >= v[i].y, c2 = p.y<v[j].y, c3 = e.x * w.y> e.y * w.x;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
    }
    return s * std::sqrt(d);
}

float smoothUnion(float a, float b, float k) {
    float h = std::max(k - std::fabs(a - b), 0.0f) / k;
    return std::min(a, b) - h * h * k * 0.25f;
}

Vec2 rotate(Vec2 p, Vec2 pivot, float radians) {
    float c = std::cos(radians), s = std::sin(radians);
    Vec2 q = p - pivot;
    return {pivot.x + q.x * c - q.y * s, pivot.y + q.x * s + q.y * c};
}

std::uint32_t Rng::next() {
    // splitmix64: simple, fast and the same everywhere.
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

float Rng::uniform() {
    return (next() >> 8) * (1.0f / 16777216.0f);
}

namespace {
std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}
float unit(std::uint32_t h) {
    return (h >> 8) * (1.0f / 16777216.0f);
}
float fade(float t) {
    return t * t * (3 - 2 * t);
}
} // namespace

float hashNoise(int x, std::uint32_t seed) {
    return unit(hash32(static_cast<std::uint32_t>(x) * 0x9e3779b1u ^ hash32(seed)));
}

float noise1(float x, std::uint32_t seed) {
    float f = std::floor(x);
    int i = static_cast<int>(f);
    return lerp(hashNoise(i, seed), hashNoise(i + 1, seed), fade(x - f));
}

float noise2(float x, float y, std::uint32_t seed) {
    float fx = std::floor(x), fy = std::floor(y);
    int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    auto corner = [&](int dx, int dy) {
        return unit(hash32(static_cast<std::uint32_t>(ix + dx) * 0x9e3779b1u ^
                           hash32(static_cast<std::uint32_t>(iy + dy) * 0x85ebca6bu ^ seed)));
    };
    float tx = fade(x - fx), ty = fade(y - fy);
    return lerp(lerp(corner(0, 0), corner(1, 0), tx), lerp(corner(0, 1), corner(1, 1), tx), ty);
}

float fractal1(float x, std::uint32_t seed, int octaves) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o, x *= 2.03f, amp *= 0.5f) {
        sum += noise1(x, seed + o * 101u) * amp;
        norm += amp;
    }
    return sum / norm;
}

float fractal2(float x, float y, std::uint32_t seed, int octaves) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o, x *= 2.03f, y *= 2.03f, amp *= 0.5f) {
        sum += noise2(x, y, seed + o * 101u) * amp;
        norm += amp;
    }
    return sum / norm;
}

Mask makeMask(int width, int height) {
    Mask m;
    m.width = width;
    m.height = height;
    m.values.assign(static_cast<size_t>(width) * height, 0.0f);
    return m;
}

namespace {
// One running-sum box pass along rows (step 1) or columns (step width).
void boxPass(std::vector<float>& v, int count, int lines, int step, int lineStep, int radius) {
    std::vector<float> line(count);
    float scale = 1.0f / (2 * radius + 1);
    for (int l = 0; l < lines; ++l) {
        float* base = v.data() + static_cast<size_t>(l) * lineStep;
        for (int i = 0; i < count; ++i) line[i] = base[static_cast<size_t>(i) * step];
        float sum = 0;
        for (int i = -radius; i <= radius; ++i) sum += (i >= 0 && i < count) ? line[i] : 0;
        for (int i = 0; i < count; ++i) {
            base[static_cast<size_t>(i) * step] = sum * scale;
            int out = i - radius, in = i + radius + 1;
            if (out >= 0) sum -= line[out];
            if (in < count) sum += line[in];
        }
    }
}
} // namespace

void boxBlur(Mask& m, int radius, int passes) {
    for (int p = 0; p < passes; ++p) {
        boxPass(m.values, m.width, m.height, 1, m.width, radius);
        boxPass(m.values, m.height, m.width, m.width, 1, radius);
    }
}

Mask dilate(const Mask& m, int radius) {
    Mask out = makeMask(m.width, m.height);
    for (int y = 0; y < m.height; ++y) {
        for (int x = 0; x < m.width; ++x) {
            float best = 0;
            for (int dy = -radius; dy <= radius && best < 1; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    float reach = radius + 0.5f - std::sqrt(float(dx * dx + dy * dy));
                    if (reach <= 0) continue;
                    best = std::max(best, m.sample(x + dx, y + dy) * std::min(reach, 1.0f));
                }
            }
            out.at(x, y) = best;
        }
    }
    return out;
}

} // namespace makepack
