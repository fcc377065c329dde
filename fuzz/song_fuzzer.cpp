// song_fuzzer.cpp -- arbitrary bytes as the song: opened by the music player,
// played and rendered offline for a second, then ended.
#include "music/audio.h"
#include "music/music.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0x7fffffff) return 0;
    constexpr std::int32_t kSecond = 44100;
    static std::vector<float> out(2 * kSecond);
    audio::setOfflineOutput(true);
    // A copy of its own, so reads past the end are caught.
    std::vector<std::uint8_t> song(data, data + size);
    assets::FileBlob blob;
    std::strcpy(blob.name, "elg.mp3");
    blob.data = song.data();
    blob.size = static_cast<std::int32_t>(size);
    music::open(blob);
    music::play();
    audio::renderOffline(out.data(), kSecond);
    music::end();
    audio::takeOfflineCapture();
    return 0;
}
