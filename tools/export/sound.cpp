// sound.cpp -- the sound track of an export: the song as the show plays it,
// rendered by the audio layer with no output device, then its ending.
#include "export/export.h"

#include "music/audio.h"
#include "music/music.h"

#include <algorithm>

namespace exporter {

std::int64_t soundFramesFor(std::int64_t videoFrames, std::int32_t fps) {
    return (videoFrames * kSampleRate + fps / 2) / fps;
}

std::int64_t videoFramesFor(std::int64_t soundFrames, std::int32_t fps) {
    return (soundFrames * fps + kSampleRate - 1) / kSampleRate;
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
