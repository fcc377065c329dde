// tune.h -- the song "elg" as a score, shared by the synthesizer (MP3) and
// the tracker module so both play the same tune.
#pragma once

#include <vector>

namespace makepack {

enum class Voice { Bass, Lead, Pad, Kick, Snare, Hat, OpenHat };

// A step is a sixteenth note: 0.125 s at 120 beats per minute, so every
// second of show time starts on a beat.
struct Note {
    int step;   // from the start of the song
    int length; // in steps
    int pitch;  // MIDI note number (drums: unused)
    Voice voice;
    float velocity; // 0..1
};

constexpr int kStepsPerBar = 16;

// Every note of the song, ordered by step; the song loops seamlessly.
std::vector<Note> composeSong();

} // namespace makepack
