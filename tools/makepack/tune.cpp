// tune.cpp -- the composition: a folk-dance tune in A minor, 20 bars of two
// seconds: intro, verse, chorus, turnaround.
#include "makepack/tune.h"
#include "makepack/makepack.h"

#include <algorithm>

namespace makepack {
namespace {

// MIDI pitches.
enum : int {
    E2 = 40,
    F2 = 41,
    G2 = 43,
    A2 = 45,
    C3 = 48,
    E4 = 64,
    F4 = 65,
    G4 = 67,
    Gs4 = 68,
    A4 = 69,
    B4 = 71,
    C5 = 72,
    D5 = 74,
    E5 = 76,
    F5 = 77,
    G5 = 79,
    Gs5 = 80,
    A5 = 81,
    B5 = 83,
    C6 = 84,
};

struct Chord {
    int root;   // bass root
    int pad[3]; // voicing around middle C
};

constexpr Chord kAm{A2, {57, 60, 64}}, kF{F2, {57, 60, 65}}, kC{C3, {55, 60, 64}},
    kG{G2, {55, 59, 62}}, kE{E2, {56, 59, 64}};

enum class Section { Intro, Verse, Chorus, Outro };

struct Bar {
    Section section;
    Chord chord;
    std::vector<std::pair<int, int>> melody; // (pitch, length in steps), back to back
    bool fill;                               // a snare fill ends the bar
};

const std::vector<Bar>& bars() {
    static const std::vector<Bar> song = {
        {Section::Intro, kAm, {}, false},
        {Section::Intro, kAm, {}, true},
        // Verse.
        {Section::Verse, kAm, {{A4, 4}, {C5, 2}, {E5, 2}, {D5, 4}, {C5, 4}}, false},
        {Section::Verse, kF, {{A4, 4}, {F4, 4}, {A4, 2}, {C5, 2}, {A4, 4}}, false},
        {Section::Verse, kC, {{G4, 4}, {E4, 2}, {G4, 2}, {C5, 4}, {E5, 4}}, false},
        {Section::Verse, kG, {{D5, 6}, {B4, 2}, {G4, 4}, {B4, 4}}, false},
        {Section::Verse,
         kAm,
         {{A4, 2}, {B4, 2}, {C5, 2}, {E5, 2}, {A5, 4}, {G5, 2}, {E5, 2}},
         false},
        {Section::Verse, kF, {{F5, 4}, {E5, 2}, {D5, 2}, {C5, 4}, {A4, 4}}, false},
        {Section::Verse, kG, {{B4, 4}, {D5, 4}, {G5, 4}, {F5, 2}, {D5, 2}}, false},
        {Section::Verse, kE, {{E5, 8}, {Gs4, 4}, {B4, 4}}, true},
        // Chorus: the melody lands on the beats the moose steps to.
        {Section::Chorus, kF, {{C5, 2}, {C5, 2}, {A4, 2}, {C5, 2}, {F5, 4}, {E5, 4}}, false},
        {Section::Chorus, kG, {{D5, 2}, {D5, 2}, {B4, 2}, {D5, 2}, {G5, 4}, {F5, 4}}, false},
        {Section::Chorus,
         kAm,
         {{E5, 3}, {D5, 1}, {C5, 2}, {B4, 2}, {A4, 2}, {C5, 2}, {E5, 4}},
         false},
        {Section::Chorus, kAm, {{A5, 8}, {G5, 2}, {E5, 2}, {C5, 4}}, false},
        {Section::Chorus, kF, {{C5, 2}, {C5, 2}, {A4, 2}, {C5, 2}, {F5, 4}, {A5, 4}}, false},
        {Section::Chorus, kG, {{G5, 2}, {F5, 2}, {D5, 2}, {B4, 2}, {G5, 4}, {D5, 4}}, false},
        {Section::Chorus, kC, {{E5, 4}, {G5, 4}, {C6, 4}, {G5, 4}}, false},
        {Section::Chorus, kE, {{B5, 4}, {Gs5, 4}, {E5, 4}, {D5, 2}, {B4, 2}}, true},
        // Turnaround into the intro.
        {Section::Outro, kAm, {{A5, 4}, {E5, 4}, {C5, 4}, {A4, 4}}, false},
        {Section::Outro, kG, {{B4, 4}, {D5, 4}, {G4, 8}}, true},
    };
    return song;
}

void addMelody(std::vector<Note>& out, const Bar& bar, int start) {
    int at = start;
    for (auto [pitch, length] : bar.melody) {
        // Notes on the beat are played a little harder.
        float accent = (at - start) % 4 == 0 ? 0.9f : 0.72f;
        out.push_back({at, length, pitch, Voice::Lead, accent});
        at += length;
    }
}

void addBass(std::vector<Note>& out, const Bar& bar, int start) {
    if (bar.section == Section::Intro) {
        for (int beat = 0; beat < 4; ++beat)
            out.push_back({start + beat * 4, 3, bar.chord.root, Voice::Bass, 0.85f});
        return;
    }
    // Root, octave and fifth in a bouncing eighth-note figure.
    const int figure[8] = {0, 0, 12, 0, 7, 0, 12, 7};
    for (int i = 0; i < 8; ++i)
        out.push_back(
            {start + i * 2, 2, bar.chord.root + figure[i], Voice::Bass, i % 2 ? 0.7f : 0.9f});
}

void addPad(std::vector<Note>& out, const Bar& bar, int start) {
    if (bar.section == Section::Intro) return;
    for (int pitch : bar.chord.pad) out.push_back({start, kStepsPerBar, pitch, Voice::Pad, 0.5f});
}

void addDrums(std::vector<Note>& out, const Bar& bar, int start, int index) {
    auto hit = [&](int step, Voice v, float vel) { out.push_back({start + step, 1, 0, v, vel}); };
    bool chorus = bar.section == Section::Chorus;
    for (int s : chorus ? std::vector<int>{0, 4, 8, 12} : std::vector<int>{0, 8, 10})
        hit(s, Voice::Kick, 1.0f);
    if (index > 0) hit(4, Voice::Snare, 0.9f), hit(12, Voice::Snare, 0.9f);
    for (int s = 0; s < kStepsPerBar; s += 2) {
        bool open = chorus && s % 4 == 2;
        if (bar.fill && s >= 12) continue;
        hit(s, open ? Voice::OpenHat : Voice::Hat, s % 4 == 0 ? 0.8f : 0.6f);
        if (!open && bar.section != Section::Intro) hit(s + 1, Voice::Hat, 0.35f);
    }
    if (bar.fill) {
        const float rising[4] = {0.55f, 0.65f, 0.8f, 1.0f};
        for (int i = 1; i < 4; ++i) hit(12 + i, Voice::Snare, rising[i]); // 12 has its backbeat
    }
}

} // namespace

std::vector<Note> composeSong() {
    std::vector<Note> notes;
    const auto& song = bars();
    for (int i = 0; i < static_cast<int>(song.size()); ++i) {
        int start = i * kStepsPerBar;
        addMelody(notes, song[i], start);
        addBass(notes, song[i], start);
        addPad(notes, song[i], start);
        addDrums(notes, song[i], start, i);
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.step < b.step; });
    return notes;
}

static_assert(kSongBars == 20, "the score has 20 bars");

} // namespace makepack
