// sound.cpp -- the sound track of an export: the song as the show plays it,
// rendered by the audio layer with no output device, then its ending.
#include "export/sound.h"

#include "music/audio.h"
#include "music/music.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

namespace exporter {

std::int64_t soundFramesFor(std::int64_t videoFrames, std::int32_t fps) {
    return (videoFrames * kSampleRate + fps / 2) / fps;
}

std::int64_t videoFramesFor(std::int64_t soundFrames, std::int32_t fps) {
    return (soundFrames * fps + kSampleRate - 1) / kSampleRate;
}

namespace {

void put16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

std::string writeWav(std::FILE* file, const std::vector<float>& samples) {
    constexpr std::uint32_t kBytesPerFrame = kChannels * 2;
    if (samples.size() * 2 > 0xFFFFFF00u) return "too long for a WAV file";
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + dataBytes);
    for (char c : std::string_view("RIFF")) bytes.push_back(static_cast<unsigned char>(c));
    put32(bytes, 36 + dataBytes);
    for (char c : std::string_view("WAVEfmt ")) bytes.push_back(static_cast<unsigned char>(c));
    put32(bytes, 16);
    put16(bytes, 1); // integer PCM
    put16(bytes, kChannels);
    put32(bytes, kSampleRate);
    put32(bytes, kSampleRate * kBytesPerFrame);
    put16(bytes, kBytesPerFrame);
    put16(bytes, 16);
    for (char c : std::string_view("data")) bytes.push_back(static_cast<unsigned char>(c));
    put32(bytes, dataBytes);
    for (float s : samples) {
        const float clamped = std::clamp(s, -1.0f, 1.0f);
        put16(bytes, static_cast<std::uint16_t>(std::int16_t(std::lrint(clamped * 32767.0f))));
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        return std::strerror(errno);
    return {};
}

SoundTrack renderSoundTrack(const assets::FileBlob& song, std::int64_t songFrames) {
    SoundTrack track;
    track.songFrames = songFrames;
    track.samples.assign(std::size_t(songFrames) * kChannels, 0.0f);

    // The show's own calls, in its order; the offline waits inside end()
    // render the slide and the fade into the capture.
    audio::setOfflineOutput(true);
    music::open(song);
    music::play();
    constexpr std::int64_t kChunk = 1 << 15;
    for (std::int64_t done = 0; done < songFrames; done += kChunk) {
        const auto n = static_cast<std::int32_t>(std::min(kChunk, songFrames - done));
        audio::renderOffline(track.samples.data() + done * kChannels, n);
    }
    music::end();
    const std::vector<float> ending = audio::takeOfflineCapture();
    audio::setOfflineOutput(false);

    track.endingFrames = std::int64_t(ending.size() / kChannels);
    track.samples.insert(track.samples.end(), ending.begin(),
                         ending.begin() + track.endingFrames * kChannels);
    return track;
}

} // namespace exporter
