// test_songs.cpp -- the test songs and the audio measurements.
#include "test_songs.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace testsongs {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> sine(double hz, std::size_t frames, int rate, float amplitude) {
    std::vector<float> s(frames);
    for (std::size_t i = 0; i < frames; ++i)
        s[i] = amplitude * static_cast<float>(std::sin(2.0 * kPi * hz * double(i) / rate));
    return s;
}

void put16be(std::vector<std::uint8_t>& m, std::size_t at, int v) {
    m[at] = static_cast<std::uint8_t>(v >> 8);
    m[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

} // namespace

std::vector<std::uint8_t> mp3Tone(double hz, double seconds, int sampleRate, int channels,
                                  float amplitude, bool freeFormat) {
    const auto frames = static_cast<std::size_t>(seconds * sampleRate);
    const std::vector<float> pcm = sine(hz, frames, sampleRate, amplitude);
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_out_samplerate(lame, sampleRate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 5);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_free_format(lame, freeFormat ? 1 : 0);
    lame_set_bWriteVbrTag(lame, freeFormat ? 0 : 1);
    lame_init_params(lame);
    std::vector<std::uint8_t> out(frames * 5 / 4 + 7200 + 65536);
    int n = lame_encode_buffer_ieee_float(lame, pcm.data(), pcm.data(), static_cast<int>(frames),
                                          out.data(), static_cast<int>(out.size()));
    n += lame_encode_flush(lame, out.data() + n, static_cast<int>(out.size()) - n);
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    // The tag frame was left blank at the start; fill it in now.
    std::uint8_t tag[4096];
    const std::size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
    if (!freeFormat && tagSize > 0 && tagSize <= out.size()) std::memcpy(out.data(), tag, tagSize);
    lame_close(lame);
    return out;
}

std::vector<std::uint8_t> modTone(int period) {
    constexpr std::size_t kHeader = 1084, kPattern = 64 * 4 * 4, kSample = 32;
    std::vector<std::uint8_t> m(kHeader + kPattern + kSample, 0);
    std::memcpy(m.data(), "kva test tone", 13);
    for (int s = 0; s < 31; ++s) {
        const std::size_t at = 20 + 30 * static_cast<std::size_t>(s);
        put16be(m, at + 28, 1); // loop length 1 word: no loop
    }
    put16be(m, 20 + 22, kSample / 2); // sample 1: 16 words
    m[20 + 25] = 64;                  // full volume
    put16be(m, 20 + 26, 0);           // loop from the start...
    put16be(m, 20 + 28, kSample / 2); // ...over the whole sample
    m[950] = 1;                       // song length: one order
    m[951] = 127;
    std::memcpy(m.data() + 1080, "M.K.", 4);
    std::uint8_t* cell = m.data() + kHeader; // row 0, channel 0
    cell[0] = static_cast<std::uint8_t>((1 & 0xF0) | ((period >> 8) & 0x0F));
    cell[1] = static_cast<std::uint8_t>(period & 0xFF);
    cell[2] = static_cast<std::uint8_t>((1 & 0x0F) << 4);
    for (std::size_t i = 0; i < kSample; ++i)
        m[kHeader + kPattern + i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(
            std::lround(100.0 * std::sin(2.0 * kPi * double(i) / kSample))));
    return m;
}

double pitchHz(const float* stereo, std::size_t frames, double rate, int channel) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < frames; ++i) {
        const float a = stereo[2 * (i - 1) + channel], b = stereo[2 * i + channel];
        if (!(a < 0.0f && b >= 0.0f)) continue;
        const double t = double(i - 1) + double(a) / double(a - b);
        if (crossings == 0) first = t;
        last = t;
        ++crossings;
    }
    if (crossings < 2 || last <= first) return 0.0;
    return double(crossings - 1) * rate / (last - first);
}

float peak(const std::vector<float>& stereo, std::size_t begin, std::size_t end) {
    float p = 0.0f;
    for (std::size_t i = 2 * begin; i < 2 * end && i < stereo.size(); ++i)
        p = std::max(p, std::fabs(stereo[i]));
    return p;
}

float largestStep(const std::vector<float>& stereo, std::size_t begin, std::size_t end) {
    float step = 0.0f;
    for (std::size_t i = 2 * (begin + 1); i < 2 * end && i < stereo.size(); ++i)
        step = std::max(step, std::fabs(stereo[i] - stereo[i - 2]));
    return step;
}

} // namespace testsongs
