// sound.h -- the sound track of an export: the song as the show plays it,
// then its ending; and as a WAV file.
#pragma once

#include "assets/store.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace exporter {

inline constexpr std::int32_t kSampleRate = 44100;
inline constexpr std::int32_t kChannels = 2;

// Interleaved stereo float at 44100 Hz: the song up to the end of the last
// presented frame, then the ending (rate slide and fade).
struct SoundTrack {
    std::vector<float> samples;
    std::int64_t songFrames = 0;   // sample frames before the ending
    std::int64_t endingFrames = 0; // sample frames of the ending
};
SoundTrack renderSoundTrack(const assets::FileBlob& song, std::int64_t songFrames);

// Sample frames of sound behind videoFrames frames at fps.
std::int64_t soundFramesFor(std::int64_t videoFrames, std::int32_t fps);

// Video frames that cover soundFrames sample frames at fps (rounded up).
std::int64_t videoFramesFor(std::int64_t soundFrames, std::int32_t fps);

// Writes samples (interleaved stereo at 44100 Hz) as a 16-bit PCM WAV file.
// Returns an empty string, or the reason it failed.
std::string writeWav(std::FILE* file, const std::vector<float>& samples);

} // namespace exporter
