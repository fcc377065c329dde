// music.cpp -- the music player: the song from memory as an MP3 stream or,
// failing that, a tracker module; looped play; the slow-down-and-fade end.
#include "music/music.h"

#include "music/audio.h"

namespace music {
namespace {

constexpr std::uint32_t kStreamFlags = audio::kStreamPrescan;
constexpr std::uint32_t kModuleFlags =
    audio::kModuleCalcLength | audio::kModuleLoop | audio::kModuleRampSensitive;
constexpr std::int32_t kEndFrequency = 1000; // samples per second
constexpr std::uint32_t kSlowDownMs = 500;
constexpr std::uint32_t kFadeAfterMs = 300;
constexpr std::uint32_t kFadeMs = 200;

struct State {
    assets::FileBlob song; // the library plays straight from its data
    audio::Handle stream = 0;
    audio::Handle music = 0;
};
State player;

audio::Handle activeHandle() {
    return player.stream != 0 ? player.stream : player.music;
}

} // namespace

std::int32_t open(assets::FileBlob blob) {
    if (blob.size <= 0 || blob.data == nullptr) return 0;
    player.song = blob;
    player.stream = player.music = 0;
    if (!audio::init(audio::kDefaultDevice, audio::kOutputRate)) return 0;
    const auto length = static_cast<std::uint32_t>(blob.size);
    player.stream = audio::streamFromMemory(blob.data, length, kStreamFlags);
    if (player.stream != 0) return 1;
    // The whole blob: a module read from memory needs its true length.
    player.music = audio::moduleFromMemory(blob.data, length, kModuleFlags);
    return player.music != 0 ? 1 : 0;
}

void play() {
    audio::start();
    if (player.stream != 0)
        audio::playStream(player.stream, false, audio::kStreamLoop);
    else
        audio::playModule(player.music);
}

void end() {
    const audio::Handle h = activeHandle();
    audio::slideAttributes(h, kEndFrequency, audio::kLeaveVolume, audio::kLeavePan, kSlowDownMs);
    audio::wait(kFadeAfterMs);
    audio::slideAttributes(h, audio::kLeaveFrequency, audio::kFadeAndStop, audio::kLeavePan,
                           kFadeMs);
    while (audio::isSliding(h)) audio::wait(1);
    audio::free();
    player.stream = player.music = 0;
}

} // namespace music
