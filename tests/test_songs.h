// test_songs.h -- songs made in code for the music tests and benchmarks (an
// MP3 tone through LAME, a one-note "M.K." module) and measurements on
// rendered audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsongs {

// A sine of hz at amplitude, seconds long, encoded at 128 kbit/s with a LAME
// tag (so decoders trim the encoder's delay and padding: gapless). A
// free-format stream (bitrate index 0 in every header) has no tag.
std::vector<std::uint8_t> mp3Tone(double hz, double seconds, int sampleRate = 44100,
                                  int channels = 2, float amplitude = 0.5f,
                                  bool freeFormat = false);

// A minimal 4-channel ProTracker module: one pattern whose first row plays
// sample 1 (one looped cycle of a 32-byte sine) at the Amiga period given.
std::vector<std::uint8_t> modTone(int period = 428);

// The pitch of a stretch of interleaved stereo audio (channel 0 or 1), from
// the times of its rising zero crossings; 0 when fewer than two are found.
double pitchHz(const float* stereo, std::size_t frames, double rate, int channel = 0);

// The largest magnitude of either channel over frames [begin, end).
float peak(const std::vector<float>& stereo, std::size_t begin, std::size_t end);

// The largest change between neighbouring samples over frames [begin, end).
float largestStep(const std::vector<float>& stereo, std::size_t begin, std::size_t end);

} // namespace testsongs
