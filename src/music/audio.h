// audio.h -- the audio library the music player is written against: one
// output, songs from memory (MP3 streams and tracker modules), attribute
// slides, and an offline mode that renders the mix into memory.
//
// Implemented under src/platform/ over SDL2 audio, libmpg123 and libopenmpt.
// Every call comes from one thread (the show's main thread); with a device
// the mixing runs on SDL's audio thread, offline it runs inside the calls
// that render (renderOffline and wait).
//
// Offline use (tests, the video exporter), all on one thread:
//
//   audio::setOfflineOutput(true);          // before anything is opened
//   music::open(blob);                      // init succeeds without a device
//   music::play();
//   std::vector<float> frames(2 * n);
//   audio::renderOffline(frames.data(), n); // as often as needed: the show
//   ...                                     // runs for as many frames
//   music::end();                           // its waits render the ending
//   std::vector<float> ending = audio::takeOfflineCapture();
//   audio::setOfflineOutput(false);         // back to the device, if wanted
//
// Frames are interleaved stereo float (left, right) at the output rate
// (kOutputRate). The offline clock is the count of frames rendered since
// init, by renderOffline and by wait together; slides started at frame F run
// over the next time * rate / 1000 frames from F. wait(ms) renders exactly
// the frames that ms adds to the clock (300 ms = 13230 frames at 44100 Hz;
// 1 ms waits alternate 44 and 45 frames, carrying the remainder) into the
// capture buffer, so end() renders the whole ending (about 22050 frames plus
// up to one poll) and takeOfflineCapture() hands it over. When the song was
// not opened (init never ran or failed) offline waits still count and
// capture silence, so the ending keeps its length.
#pragma once

#include <cstdint>
#include <vector>

namespace audio {

using Handle = std::uint32_t; // 0 is never a valid channel

inline constexpr std::int32_t kDefaultDevice = -1;
inline constexpr std::uint32_t kOutputRate = 44100;

// Stream creation flag: scan the whole stream at creation for an exact
// length and exact seeking.
inline constexpr std::uint32_t kStreamPrescan = 0x20000;
// Stream play flag: start again from the beginning at the end.
inline constexpr std::uint32_t kStreamLoop = 4;
// Module load flags: loop for ever, sensitive volume ramping (libopenmpt
// always ramps volume changes: no clicks whatever this flag says), and
// calculate the length at load (accepted, not done: following a module's
// loops at load is what a hostile module makes take minutes, and nothing
// here needs the length). A module over the song budgets of
// assets/store.h is refused with one line on standard error.
inline constexpr std::uint32_t kModuleRampSensitive = 0x2;
inline constexpr std::uint32_t kModuleLoop = 0x4;
inline constexpr std::uint32_t kModuleCalcLength = 0x2000;

// Attribute values that leave an attribute as it is, and the volume that
// fades to silence and then stops the channel.
inline constexpr std::int32_t kLeaveFrequency = -1;
inline constexpr std::int32_t kLeaveVolume = -1;
inline constexpr std::int32_t kFadeAndStop = -2;
inline constexpr std::int32_t kLeavePan = -101;

// Chooses the output for the next init: false (the default) is the real
// device, true renders into memory with no device at all. Ignored while
// initialised (returns false then).
bool setOfflineOutput(bool offline);
bool offlineOutput();

// Opens the output (device kDefaultDevice, the system's default) and starts
// mixing at frequency frames per second (silence until a channel plays).
// Fails when already initialised or when no output device can be opened.
// The first init also hangs stopNow on the platform's before-exit hooks.
bool init(std::int32_t device, std::uint32_t frequency);

// An MP3 stream decoding straight from data, which must stay valid until
// free(). 0 when not initialised, when libopenmpt takes the data for a
// tracker module, or when libmpg123 finds no consistent run of frames in it.
Handle streamFromMemory(const void* data, std::uint32_t length, std::uint32_t flags);

// A tracker module (MOD, S3M, XM, IT, ...) loaded from data (copied, so data
// may go away afterwards). 0 when libopenmpt refuses it or not initialised.
Handle moduleFromMemory(const void* data, std::uint32_t length, std::uint32_t flags);

// Resumes the output. False when not initialised.
bool start();

// Plays a stream from where it is (flush: from its start), looping when
// flags hold kStreamLoop; plays a module with its load flags. False for a
// handle that is not a stream (resp. module) of this library, 0 included.
bool playStream(Handle stream, bool flush, std::uint32_t flags);
bool playModule(Handle module);

// Slides, linear in time counted in output frames, from the current values
// to frequency (playback rate in frames per second of the song's own rate:
// pitch and tempo change together; 100 to 100000, kLeaveFrequency leaves
// it), volume (0 to 100, kLeaveVolume leaves it, kFadeAndStop slides to 0
// and stops the channel) and pan (-100 left to 100 right, kLeavePan leaves
// it) over milliseconds (0: at once). A new slide of an attribute replaces
// the one running. Values out of range are clamped. False for an unknown
// handle.
bool slideAttributes(Handle channel, std::int32_t frequency, std::int32_t volume, std::int32_t pan,
                     std::uint32_t milliseconds);

// True while any slide of the channel is still running.
bool isSliding(Handle channel);

// Waits on the audio clock: wall time with a device, rendered frames offline
// (see the top of this file).
void wait(std::uint32_t milliseconds);

// Closes the output, then frees every channel. Safe when not initialised.
void free();

// The immediate stop for leaving the process from the middle of the show:
// closes the device, which waits for the audio thread, so that nothing
// touches song or decoder state while the process tears down.
void stopNow();

// Offline only: mixes frames frames into out (2 * frames floats) and
// advances the clock; silence when no song is open. Returns frames, or 0
// (out untouched) when the output is the device or frames <= 0.
std::int32_t renderOffline(float* out, std::int32_t frames);

// Offline only: the frames rendered by wait() since the last call, handed
// over and cleared.
std::vector<float> takeOfflineCapture();

// Frames mixed since init or since the output was last chosen, whichever
// came later (the offline clock; with a device, what the device took).
std::int64_t framesRendered();

// How long a frame mixed now takes to be heard: the device's buffer, which
// the mixer fills ahead of the sound. 0 offline and when not initialised.
std::uint32_t latencyMs();

// Called between the pieces of a song's loading and checking (the MP3
// frame search, the module's checks and load), so that the caller can
// answer its window meanwhile. nullptr: none. Returns the previous one.
using Progress = void (*)();
Progress setProgress(Progress progress);

} // namespace audio
