// module.cpp -- the same tune as a four-channel "M.K." tracker module: bass,
// lead, kick/snare and hats, with small synthesized 8-bit samples.
#include "makepack/makepack.h"
#include "makepack/tune.h"

#include <array>
#include <cmath>
#include <cstring>

namespace makepack {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRows = 64, kChannels = 4;
constexpr int kPatterns = kSongBars * kStepsPerBar / kRows;
constexpr double kPalClock = 7093789.2;

// Periods of octaves 1 to 3, C to B.
constexpr std::array<int, 36> kPeriods = {
    856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
    302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

enum Sample { kBass = 1, kLead, kKick, kSnare, kHat, kOpenHat, kSampleCount = kOpenHat };

struct SampleData {
    const char* name;
    std::vector<std::int8_t> data;
    bool looped;
};

std::int8_t to8(double v) {
    return static_cast<std::int8_t>(std::lround(std::clamp(v, -1.0, 1.0) * 127));
}

// One cycle built from harmonics; at period 856 the bass cycle sounds as C2
// and the lead's as C4.
std::vector<std::int8_t> cycle(int length, int harmonics, double (*amplitude)(int)) {
    std::vector<std::int8_t> out(length);
    for (int i = 0; i < length; ++i) {
        double v = 0;
        for (int k = 1; k <= harmonics; ++k) v += amplitude(k) * std::sin(2 * kPi * k * i / length);
        out[i] = to8(v * 0.6);
    }
    return out;
}

template <typename Voice>
std::vector<std::int8_t> oneShot(double seconds, double rate, Voice voice) {
    std::vector<std::int8_t> out(static_cast<size_t>(seconds * rate) & ~size_t(1));
    Rng rng{0x30dull};
    for (size_t i = 2; i < out.size(); ++i)
        out[i] = to8(voice(double(i) / rate, rng)); // starts silent
    return out;
}

std::vector<SampleData> samples() {
    const double low = kPalClock / (2 * 428), high = kPalClock / (2 * 214);
    return {
        {"elg bass", cycle(64, 12, [](int k) { return 1.0 / k * std::exp(-k / 6.0); }), true},
        {"elg lead", cycle(16, 7, [](int k) { return (k % 2 ? 1.0 : 0.45) / k; }), true},
        {"elg kick",
         oneShot(0.3, low,
                 [](double t, Rng&) {
                     double phase = 2 * kPi * (45 * t + 110 * 0.04 * (1 - std::exp(-t / 0.04)));
                     return std::sin(phase) * std::exp(-t / 0.12);
                 }),
         false},
        {"elg snare",
         oneShot(0.2, low,
                 [](double t, Rng& r) {
                     double tone = std::sin(2 * kPi * 185 * t) * std::exp(-t / 0.04);
                     return 0.55 * tone + 0.6 * (r.uniform() * 2 - 1) * std::exp(-t / 0.06);
                 }),
         false},
        {"elg hat",
         oneShot(
             0.06, high,
             [](double t, Rng& r) { return (r.uniform() * 2 - 1) * std::exp(-t / 0.015) * 0.7; }),
         false},
        {"elg open hat",
         oneShot(
             0.3, high,
             [](double t, Rng& r) { return (r.uniform() * 2 - 1) * std::exp(-t / 0.07) * 0.6; }),
         false},
    };
}

struct Cell {
    int sample = 0, period = 0, effect = 0, param = 0;
};

using Grid = std::vector<std::array<Cell, kChannels>>; // one row a step

int periodFor(int midi, int lowest) {
    return kPeriods[std::clamp(midi - lowest, 0, 35)];
}

int volumeOf(float velocity) {
    return std::clamp(static_cast<int>(std::lround(velocity * 64)), 0, 64);
}

void place(Grid& g, int step, int channel, int sample, int period, float velocity) {
    Cell& c = g[step % g.size()][channel];
    c = {sample, period, 0xC, volumeOf(velocity)};
}

// A note that ends before the next one begins is cut with volume 0.
void cutAt(Grid& g, int step, int channel) {
    Cell& c = g[step % g.size()][channel];
    if (c.sample == 0 && c.effect == 0) c.effect = 0xC, c.param = 0;
}

Grid arrange() {
    Grid g(static_cast<size_t>(kSongBars) * kStepsPerBar);
    std::vector<int> kickSteps;
    for (const Note& n : composeSong()) {
        switch (n.voice) {
        case Voice::Bass:
            place(g, n.step, 0, kBass, periodFor(n.pitch, 36), n.velocity);
            break;
        case Voice::Lead:
            place(g, n.step, 1, kLead, periodFor(n.pitch, 60), n.velocity * 0.8f);
            break;
        case Voice::Kick:
            place(g, n.step, 2, kKick, kPeriods[12], n.velocity);
            break;
        case Voice::Snare: {
            // The kick keeps its channel; a snare on the same step takes the hats'.
            bool kickThere = g[n.step % g.size()][2].sample == kKick;
            place(g, n.step, kickThere ? 3 : 2, kSnare, kPeriods[12], n.velocity);
            break;
        }
        case Voice::Hat:
        case Voice::OpenHat:
            if (g[n.step % g.size()][3].sample != kSnare)
                place(g, n.step, 3, n.voice == Voice::Hat ? kHat : kOpenHat, kPeriods[24],
                      n.velocity * 0.7f);
            break;
        case Voice::Pad:
            break; // four channels leave no room for the chords
        }
    }
    for (const Note& n : composeSong()) {
        if (n.voice == Voice::Bass && n.length > 2) cutAt(g, n.step + n.length, 0);
        if (n.voice == Voice::Lead && n.length > 1) cutAt(g, n.step + n.length, 1);
    }
    // Speed 6 and 120 beats a minute: a row lasts a sixteenth, 0.125 s. The
    // lead is silent in the first bar, so its cell carries the speed.
    g[0][1] = {0, 0, 0xF, 6};
    g[0][3].effect = 0xF, g[0][3].param = static_cast<int>(kTempo);
    return g;
}

void put16be(Bytes& out, int v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void putText(Bytes& out, const char* text, size_t width) {
    size_t n = std::min(std::strlen(text), width);
    out.insert(out.end(), text, text + n);
    out.insert(out.end(), width - n, 0);
}

void putSampleHeader(Bytes& out, const SampleData* s) {
    putText(out, s ? s->name : "", 22);
    int words = s ? static_cast<int>(s->data.size() / 2) : 0;
    put16be(out, words);
    out.push_back(0);                         // finetune
    out.push_back(s ? 64 : 0);                // volume
    put16be(out, 0);                          // loop start
    put16be(out, s && s->looped ? words : 1); // loop length; 1 word means none
}

void putCell(Bytes& out, const Cell& c) {
    out.push_back(static_cast<std::uint8_t>((c.sample & 0xF0) | ((c.period >> 8) & 0x0F)));
    out.push_back(static_cast<std::uint8_t>(c.period & 0xFF));
    out.push_back(static_cast<std::uint8_t>(((c.sample & 0x0F) << 4) | (c.effect & 0x0F)));
    out.push_back(static_cast<std::uint8_t>(c.param));
}

} // namespace

Bytes makeModule() {
    std::vector<SampleData> all = samples();
    Bytes out;
    putText(out, "elg - kva", 20);
    for (int i = 0; i < 31; ++i) putSampleHeader(out, i < kSampleCount ? &all[i] : nullptr);
    out.push_back(static_cast<std::uint8_t>(kPatterns));
    out.push_back(127);
    for (int i = 0; i < 128; ++i) out.push_back(static_cast<std::uint8_t>(i < kPatterns ? i : 0));
    putText(out, "M.K.", 4);
    Grid g = arrange();
    for (const auto& row : g)
        for (const Cell& c : row) putCell(out, c);
    for (const SampleData& s : all)
        for (std::int8_t v : s.data) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

static_assert(kSongBars * kStepsPerBar % kRows == 0, "the song fills whole patterns");

} // namespace makepack
