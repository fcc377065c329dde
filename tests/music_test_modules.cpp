// music_test_modules.cpp -- module files written byte by byte from the
// formats' own layouts.
#include "music_test_modules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace testmodules {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& m, std::size_t at, std::string_view text) {
    std::memcpy(m.data() + at, text.data(), text.size());
}
void put16le(Bytes& m, std::size_t at, std::uint32_t v) {
    m[at] = std::uint8_t(v);
    m[at + 1] = std::uint8_t(v >> 8);
}
void put32le(Bytes& m, std::size_t at, std::uint32_t v) {
    put16le(m, at, v & 0xFFFF);
    put16le(m, at + 2, v >> 16);
}
void put16be(Bytes& m, std::size_t at, std::uint32_t v) {
    m[at] = std::uint8_t(v >> 8);
    m[at + 1] = std::uint8_t(v);
}
void append(Bytes& m, const std::vector<std::int8_t>& sample, int add = 0) {
    for (std::int8_t s : sample) m.push_back(std::uint8_t(s + add));
}
// Byte by byte: GCC 12 warns falsely about inserting a list at the end.
void add(Bytes& m, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) m.push_back(b);
}
std::size_t padTo16(Bytes& m) {
    m.resize((m.size() + 15) / 16 * 16, 0);
    return m.size();
}

// ProTracker: 31 sample headers, one order, "M.K.", 64 rows of 4 cells.
Bytes mod(const std::vector<std::int8_t>& sample) {
    constexpr std::size_t kHeader = 1084;
    Bytes m(kHeader + 64 * 4 * 4, 0);
    put(m, 0, "kva mod");
    for (int s = 0; s < 31; ++s) put16be(m, 20 + 30 * std::size_t(s) + 28, 1);
    const std::uint32_t words = std::uint32_t(sample.size() / 2);
    put16be(m, 20 + 22, words);
    m[20 + 25] = 64;
    put16be(m, 20 + 28, words); // loop the whole sample
    m[950] = 1;
    m[951] = 127;
    put(m, 1080, "M.K.");
    m[kHeader + 0] = 0x01; // sample 1, period 428 (C-3)
    m[kHeader + 1] = 0xAC;
    m[kHeader + 2] = 0x10;
    append(m, sample);
    return m;
}

// Scream Tracker 3: header, orders, parapointers, one sample, one pattern,
// played orders times; a looping pattern plays its 64 rows 16 times over.
Bytes s3m(const std::vector<std::int8_t>& sample, std::uint32_t orders = 1, bool loop = false) {
    Bytes m(96, 0);
    put(m, 0, "kva s3m");
    m[28] = 0x1A;
    m[29] = 16;
    // 0..., end, padded to even: as many as the count holds.
    const std::uint32_t listed = std::min<std::uint32_t>((orders + 2) / 2 * 2, 0xFFFE);
    put16le(m, 32, listed);
    put16le(m, 34, 1);
    put16le(m, 36, 1);
    put16le(m, 40, 0x1320);
    put16le(m, 42, 2); // unsigned samples
    put(m, 44, "SCRM");
    m[48] = 64, m[49] = 6, m[50] = 125, m[51] = 0xB0;
    std::memset(m.data() + 64, 255, 32);
    m[64] = 0; // channel 1: left 1
    for (std::uint32_t o = 0; o < listed; ++o) m.push_back(o < orders ? 0 : 255);
    const std::size_t pointers = m.size();
    m.resize(pointers + 4, 0);
    const std::size_t instrument = padTo16(m);
    m.resize(instrument + 80, 0);
    m[instrument] = 1;
    put32le(m, instrument + 16, std::uint32_t(sample.size()));
    put32le(m, instrument + 24, std::uint32_t(sample.size()));
    m[instrument + 28] = 64;
    m[instrument + 31] = 1; // looped
    put32le(m, instrument + 32, 8363);
    put(m, instrument + 76, "SCRS");
    const std::size_t pattern = padTo16(m);
    Bytes rows = {0, 0, 0x20, 0x40, 1, 0};               // C-4, sample 1, end of row 0
    if (loop) rows = {0, 0, 0xA0, 0x40, 1, 19, 0xB0, 0}; // and SB0: the loop's start
    rows.resize(rows.size() + 62, 0);
    if (loop) add(rows, {0x80, 19, 0xBF}); // SBF: back to it 15 times
    rows.push_back(0);
    put16le(rows, 0, std::uint32_t(rows.size()));
    m.insert(m.end(), rows.begin(), rows.end());
    const std::size_t data = padTo16(m);
    append(m, sample, 128);
    put16le(m, pointers, std::uint32_t(instrument / 16));
    put16le(m, pointers + 2, std::uint32_t(pattern / 16));
    m[instrument + 13] = std::uint8_t(data >> 20);
    put16le(m, instrument + 14, std::uint32_t(data >> 4) & 0xFFFF);
    return m;
}

// FastTracker 2: header, one packed pattern, one instrument with one sample.
Bytes xm(const std::vector<std::int8_t>& sample) {
    Bytes m(336, 0);
    put(m, 0, "Extended Module: kva xm");
    m[37] = 0x1A;
    put16le(m, 58, 0x0104);
    put32le(m, 60, 276);
    put16le(m, 64, 1);
    put16le(m, 68, 2);
    put16le(m, 70, 1);
    put16le(m, 72, 1);
    put16le(m, 74, 1);
    put16le(m, 76, 6);
    put16le(m, 78, 125);
    Bytes rows = {0x83, 49, 1, 0x80}; // C-4, instrument 1; the second channel empty
    for (int r = 1; r < 64; ++r) add(rows, {0x80, 0x80});
    Bytes pattern(9, 0);
    put32le(pattern, 0, 9);
    put16le(pattern, 5, 64);
    put16le(pattern, 7, std::uint32_t(rows.size()));
    m.insert(m.end(), pattern.begin(), pattern.end());
    m.insert(m.end(), rows.begin(), rows.end());
    Bytes instrument(263 + 40, 0);
    put32le(instrument, 0, 263);
    put16le(instrument, 27, 1);
    put32le(instrument, 29, 40);
    Bytes::iterator header = instrument.begin() + 263;
    put32le(instrument, 263, std::uint32_t(sample.size()));
    put32le(instrument, 271, std::uint32_t(sample.size()));
    header[12] = 64;
    header[14] = 1; // forward loop
    header[15] = 128;
    m.insert(m.end(), instrument.begin(), instrument.end());
    std::int8_t last = 0; // samples are stored as differences
    for (std::int8_t s : sample) {
        m.push_back(std::uint8_t(s - last));
        last = s;
    }
    return m;
}

// Impulse Tracker, sample mode: header, orders, offsets, sample, pattern,
// played orders times; a looping pattern plays its rows 16 times over.
Bytes it(const std::vector<std::int8_t>& sample, std::uint32_t orders = 1,
         std::uint32_t rowCount = 64, bool loop = false) {
    Bytes m(192, 0);
    put(m, 0, "IMPMkva it");
    const std::uint32_t listed = std::min<std::uint32_t>(orders + 1, 0xFFFF); // 0..., end
    put16le(m, 32, listed);
    put16le(m, 36, 1);
    put16le(m, 38, 1);
    put16le(m, 40, 0x0214);
    put16le(m, 42, 0x0214);
    put16le(m, 44, 1); // stereo, samples without instruments
    m[48] = 128, m[49] = 48, m[50] = 6, m[51] = 125, m[52] = 128;
    std::memset(m.data() + 64, 32, 64);
    std::memset(m.data() + 128, 64, 64);
    for (std::uint32_t o = 0; o < listed; ++o) m.push_back(o < orders ? 0 : 255);
    const std::size_t offsets = m.size();
    m.resize(offsets + 8, 0);
    const std::size_t header = m.size();
    m.resize(header + 80, 0);
    put(m, header, "IMPS");
    m[header + 17] = 64;
    m[header + 18] = 1 | 16; // present, looped
    m[header + 19] = 64;
    m[header + 46] = 1; // signed
    put32le(m, header + 48, std::uint32_t(sample.size()));
    put32le(m, header + 56, std::uint32_t(sample.size()));
    put32le(m, header + 60, 8363);
    const std::size_t pattern = m.size();
    Bytes rows = {0x81, 0x03, 60, 1, 0};               // C-5, sample 1, end of row 0
    if (loop) rows = {0x81, 0x0B, 60, 1, 19, 0xB0, 0}; // and SB0: the loop's start
    rows.resize(rows.size() + rowCount - 2, 0);
    if (loop) add(rows, {0x81, 0x08, 19, 0xBF}); // SBF: back to it 15 times
    rows.push_back(0);
    m.resize(pattern + 8, 0);
    put16le(m, pattern, std::uint32_t(rows.size()));
    put16le(m, pattern + 2, rowCount);
    m.insert(m.end(), rows.begin(), rows.end());
    put32le(m, header + 72, std::uint32_t(m.size()));
    append(m, sample);
    put32le(m, offsets, std::uint32_t(header));
    put32le(m, offsets + 4, std::uint32_t(pattern));
    return m;
}

} // namespace

std::vector<std::uint8_t> build(Kind kind, const std::vector<std::int8_t>& sample) {
    switch (kind) {
    case Kind::Mod:
        return mod(sample);
    case Kind::S3m:
        return s3m(sample);
    case Kind::Xm:
        return xm(sample);
    case Kind::It:
        return it(sample);
    }
    return {};
}

std::vector<std::uint8_t> looping(Kind kind, std::uint32_t orders, std::uint32_t rows) {
    if (kind == Kind::S3m) return s3m(sineCycle(), orders, true);
    if (kind == Kind::It) return it(sineCycle(), orders, rows, true);
    return {};
}

std::vector<std::int8_t> sineCycle() {
    std::vector<std::int8_t> s(32);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int8_t(std::lround(100.0 * std::sin(2.0 * 3.14159265358979 * double(i) / 32)));
    return s;
}

std::vector<std::int8_t> storedAs(Kind kind, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int8_t> s(bytes.size() + bytes.size() % 2);
    std::uint8_t level = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        level = std::uint8_t(level + bytes[i]); // XM keeps differences
        const std::uint8_t stored = kind == Kind::S3m  ? std::uint8_t(bytes[i] - 128)
                                    : kind == Kind::Xm ? level
                                                       : bytes[i];
        s[i] = std::int8_t(stored);
    }
    return s;
}

} // namespace testmodules
