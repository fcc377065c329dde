// music.cpp -- the music player: the song from memory as an MP3 stream or,
// failing that, a tracker module; looped play; the slow-down-and-fade end.
#include "music/music.h"

#include "music/audio.h"
#include "platform/platform.h"

#include <algorithm>

namespace music {
namespace {

constexpr std::uint32_t kStreamFlags = audio::kStreamPrescan;
constexpr std::uint32_t kModuleFlags =
    audio::kModuleCalcLength | audio::kModuleLoop | audio::kModuleRampSensitive;
constexpr std::int32_t kEndFrequency = 1000; // samples per second
constexpr std::uint32_t kSlowDownMs = 500;
constexpr std::uint32_t kFadeAfterMs = 300;
constexpr std::uint32_t kFadeMs = 200;
// How long past its own time the fade may take before the device counts as
// gone: a device that stops calling back never finishes a slide.
constexpr std::uint32_t kFadeSlackMs = 100;
// The ending answers the window at least this often.
constexpr std::uint32_t kStepMs = 10;

struct State {
    assets::FileBlob song; // the library plays straight from its data
    audio::Handle stream = 0;
    audio::Handle music = 0;
};
State player;

audio::Handle activeHandle() {
    return player.stream != 0 ? player.stream : player.music;
}

std::uint32_t msSince(std::int64_t start) {
    const std::int64_t counts = platform::counterNow() - start;
    return static_cast<std::uint32_t>(counts * 1000 / platform::counterFrequency());
}

// Waits ms on the audio clock, or less once channel has no slide left when
// untilStill is set, answering the window between short steps. Offline the
// rendered frames are the clock; with a device the wall clock is, so a
// device that no longer calls back (its server gone) still ends the wait.
void waitFor(std::uint32_t ms, audio::Handle channel, bool untilStill) {
    const bool offline = audio::offlineOutput();
    const std::int64_t start = platform::counterNow();
    for (std::uint32_t waited = 0;;) {
        if (untilStill && !audio::isSliding(channel)) return;
        const std::uint32_t passed = offline ? waited : msSince(start);
        if (passed >= ms) return;
        const std::uint32_t step = std::min(untilStill ? 1 : kStepMs, ms - passed);
        audio::wait(step);
        waited += step;
        assets::reportProgress();
    }
}

} // namespace

std::int32_t open(assets::FileBlob blob) {
    if (blob.size <= 0 || blob.data == nullptr) return 0;
    player.song = blob;
    player.stream = player.music = 0;
    const audio::Progress previous = audio::setProgress(assets::reportProgress);
    if (!audio::init(audio::kDefaultDevice, audio::kOutputRate)) {
        audio::setProgress(previous);
        return 0;
    }
    const auto length = static_cast<std::uint32_t>(blob.size);
    player.stream = audio::streamFromMemory(blob.data, length, kStreamFlags);
    // The whole blob: a module read from memory needs its true length.
    if (player.stream == 0) player.music = audio::moduleFromMemory(blob.data, length, kModuleFlags);
    audio::setProgress(previous);
    return activeHandle() != 0 ? 1 : 0;
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
    waitFor(kFadeAfterMs, h, false);
    audio::slideAttributes(h, audio::kLeaveFrequency, audio::kFadeAndStop, audio::kLeavePan,
                           kFadeMs);
    // The mixer runs ahead of the sound by the device's latency: the fade
    // has been mixed that long before it is heard to its end.
    const std::uint32_t latency = audio::latencyMs();
    waitFor(kFadeMs + latency + kFadeSlackMs, h, true);
    waitFor(latency, h, false);
    audio::free();
    player.stream = player.music = 0;
}

} // namespace music
