// synth.cpp -- renders the score to 44.1 kHz stereo: band-limited saws and
// pulses through resonant filters, synthesized drums, a ping-pong echo.
// Everything is written modulo the song's length so the loop has no seam.
#include "makepack/makepack.h"
#include "makepack/tune.h"

#include <cmath>

namespace makepack {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStepSeconds = 60.0 / kTempo / 4;

double frequency(int midi) {
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// Polynomial band-limited step: removes the worst aliasing of naive saws.
double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1;
    }
    if (t > 1 - dt) {
        t = (t - 1) / dt;
        return t * t + t + t + 1;
    }
    return 0;
}

struct Saw {
    double phase = 0;
    double next(double hz) {
        double dt = hz / kSampleRate;
        double v = 2 * phase - 1 - polyBlep(phase, dt);
        phase += dt;
        if (phase >= 1) phase -= 1;
        return v;
    }
};

// Chamberlin state-variable low-pass with resonance.
struct LowPass {
    double low = 0, band = 0;
    double next(double in, double cutoffHz, double resonance) {
        double f = 2 * std::sin(kPi * std::min(cutoffHz, 8000.0) / kSampleRate);
        double q = 1 - resonance;
        low += f * band;
        double high = in - low - q * band;
        band += f * high;
        return low;
    }
};

struct Mix {
    std::vector<float> left, right; // one song's length, written circularly
    long frames;
    void add(long frame, double l, double r) {
        long i = ((frame % frames) + frames) % frames;
        left[i] += static_cast<float>(l);
        right[i] += static_cast<float>(r);
    }
};

long startFrame(int step) {
    return std::lround(step * kStepSeconds * kSampleRate);
}

double envelope(double t, double gate, double attack, double decay, double sustain,
                double release) {
    double level =
        t < attack ? t / attack : sustain + (1 - sustain) * std::exp(-(t - attack) / decay);
    if (t > gate) level *= std::exp(-(t - gate) / release);
    return level;
}

void bass(Mix& m, const Note& n) {
    double gate = n.length * kStepSeconds * 0.8, hz = frequency(n.pitch);
    Saw saw;
    LowPass lp;
    double sub = 0;
    long count = std::lround((gate + 0.15) * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        double cutoff = 220 + 1400 * std::exp(-t / 0.07) * n.velocity;
        double v = lp.next(saw.next(hz), cutoff, 0.55) * 0.8 + std::sin(sub) * 0.45;
        sub += 2 * kPi * hz / kSampleRate;
        v *= envelope(t, gate, 0.004, 0.2, 0.75, 0.03) * n.velocity * 0.42;
        m.add(startFrame(n.step) + i, v, v);
    }
}

void lead(Mix& m, const Note& n, std::vector<float>& echoSend) {
    double gate = n.length * kStepSeconds * 0.9, hz = frequency(n.pitch);
    Saw a, b;
    b.phase = 0.37;
    LowPass lp;
    long count = std::lround((gate + 0.25) * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        // Vibrato eases in on held notes.
        double vib =
            1 + 0.006 * std::sin(2 * kPi * 5.5 * t) * std::min(1.0, std::max(0.0, t - 0.15) * 4);
        // Two saws a little apart make a pulse whose width breathes.
        double pulse = a.next(hz * vib) - b.next(hz * vib * 1.002);
        double v = lp.next(pulse, 1800 + 3000 * std::exp(-t / 0.18), 0.3);
        v *= envelope(t, gate, 0.006, 0.25, 0.65, 0.07) * n.velocity * 0.2;
        long f = startFrame(n.step) + i;
        m.add(f, v * 0.9, v * 1.1);
        echoSend[((f % m.frames) + m.frames) % m.frames] += static_cast<float>(v);
    }
}

void pad(Mix& m, const Note& n) {
    double gate = n.length * kStepSeconds, hz = frequency(n.pitch);
    Saw l1, l2, r1, r2;
    l2.phase = 0.25, r1.phase = 0.5, r2.phase = 0.75;
    LowPass fl, fr;
    long count = std::lround((gate + 0.5) * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        double cutoff =
            900 + 500 * std::sin(2 * kPi * 0.25 * (startFrame(n.step) + i) / kSampleRate);
        double l = fl.next(l1.next(hz * 0.997) + l2.next(hz * 1.004), cutoff, 0.2);
        double r = fr.next(r1.next(hz * 1.003) + r2.next(hz * 0.996), cutoff, 0.2);
        double e = envelope(t, gate, 0.25, 1.0, 0.9, 0.35) * n.velocity * 0.055;
        m.add(startFrame(n.step) + i, l * e, r * e);
    }
}

void kick(Mix& m, const Note& n) {
    double phase = 0;
    long count = std::lround(0.4 * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        double hz = 45 + 110 * std::exp(-t / 0.04);
        phase += 2 * kPi * hz / kSampleRate;
        double v = std::sin(phase) * std::exp(-t / 0.22) + 0.3 * std::exp(-t / 0.003);
        v = std::tanh(v * 1.5) * n.velocity * 0.55;
        m.add(startFrame(n.step) + i, v, v);
    }
}

void snare(Mix& m, const Note& n, Rng& rng) {
    LowPass lp;
    double phase = 0;
    long count = std::lround(0.25 * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        double noise = rng.uniform() * 2 - 1;
        double band = noise - lp.next(noise, 1500, 0.1); // the noise above 1.5 kHz
        phase += 2 * kPi * (185 + 60 * std::exp(-t / 0.01)) / kSampleRate;
        double v = band * std::exp(-t / 0.07) * 0.5 + std::sin(phase) * std::exp(-t / 0.05) * 0.45;
        v *= n.velocity * 0.42;
        m.add(startFrame(n.step) + i, v * 0.95, v * 1.05);
    }
}

void hat(Mix& m, const Note& n, Rng& rng, bool open) {
    LowPass lp;
    double decay = open ? 0.12 : 0.025;
    long count = std::lround(decay * 6 * kSampleRate);
    for (long i = 0; i < count; ++i) {
        double t = double(i) / kSampleRate;
        double noise = rng.uniform() * 2 - 1;
        double high = noise - lp.next(noise, 7000, 0.0);
        double v = high * std::exp(-t / decay) * n.velocity * 0.16;
        m.add(startFrame(n.step) + i, v * 0.75, v * 1.25);
    }
}

// A ping-pong echo of the lead, three sixteenths late. It runs over the song
// twice so that the echo tail from the end is heard at the start.
void echo(Mix& m, const std::vector<float>& send) {
    long delay = std::lround(3 * kStepSeconds * kSampleRate);
    std::vector<float> lineL(delay, 0), lineR(delay, 0);
    long pos = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (long i = 0; i < m.frames; ++i) {
            float outL = lineL[pos], outR = lineR[pos];
            lineL[pos] = send[i] + outR * 0.45f; // left feeds right and back
            lineR[pos] = outL;
            pos = (pos + 1) % delay;
            if (pass == 1) m.add(i, outL * 0.35, outR * 0.35);
        }
    }
}

} // namespace

std::vector<float> renderSong() {
    Mix m{std::vector<float>(kSongFrames, 0), std::vector<float>(kSongFrames, 0), kSongFrames};
    std::vector<float> echoSend(kSongFrames, 0);
    Rng rng{0xe16ull};
    for (const Note& n : composeSong()) {
        switch (n.voice) {
        case Voice::Bass:
            bass(m, n);
            break;
        case Voice::Lead:
            lead(m, n, echoSend);
            break;
        case Voice::Pad:
            pad(m, n);
            break;
        case Voice::Kick:
            kick(m, n);
            break;
        case Voice::Snare:
            snare(m, n, rng);
            break;
        case Voice::Hat:
            hat(m, n, rng, false);
            break;
        case Voice::OpenHat:
            hat(m, n, rng, true);
            break;
        }
    }
    echo(m, echoSend);
    std::vector<float> out(static_cast<size_t>(kSongFrames) * 2);
    for (long i = 0; i < kSongFrames; ++i) {
        // A gentle limiter keeps the peaks under full scale.
        out[2 * i] = static_cast<float>(std::tanh(m.left[i] * 1.1) * 0.92);
        out[2 * i + 1] = static_cast<float>(std::tanh(m.right[i] * 1.1) * 0.92);
    }
    return out;
}

} // namespace makepack
