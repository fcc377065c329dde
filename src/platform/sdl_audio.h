// sdl_audio.h -- inside the audio library: the decoders behind its channels
// (libmpg123 streams, libopenmpt modules), which data goes to which, and the
// mixer that turns channels into output frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace audio::detail {

// libopenmpt's header probe: true for data it would load as a module.
// Module sample data often holds MPEG sync words, and libmpg123 plays those
// as noise, so such data never goes down the stream path.
bool looksLikeModule(const std::uint8_t* data, std::size_t size);

// libmpg123 finds a first frame anywhere in data (after tags, padding,
// junk or a RIFF header) and decodes a consistent run of frames from it.
bool decodesAsMp3(const std::uint8_t* data, std::size_t size);

// Decoded song data: interleaved stereo float at its own rate.
class Source {
  public:
    virtual ~Source() = default;
    // Up to frames frames into out; 0 at the end of the song.
    virtual std::int32_t read(float* out, std::int32_t frames) = 0;
    // Back to the first frame; false when that is impossible.
    virtual bool rewind() = 0;
    virtual std::uint32_t rate() const = 0;
    // Whether the song starts again by itself at its end (modules).
    virtual bool loopsItself() const { return false; }
};

// nullptr when the data is a module or not a decodable MP3. data must outlive the source.
std::unique_ptr<Source> openMp3(const std::uint8_t* data, std::size_t size, bool prescan);

// nullptr when libopenmpt refuses the data; the module renders at
// outputRate and repeats for ever when loop is set.
std::unique_ptr<Source> openModule(const std::uint8_t* data, std::size_t size,
                                   std::uint32_t outputRate, bool loop);

// One linear slide of an attribute, counted in output frames.
struct Slide {
    bool active = false;
    double from = 0.0, to = 0.0;
    std::int64_t total = 0, done = 0;
};

// A playing song as the mixer sees it.
struct Channel {
    std::uint32_t handle = 0;
    bool isStream = false;
    std::unique_ptr<Source> source;
    bool playing = false;
    bool loop = false;
    double rate = 0.0;   // playback rate, frames of the source per second
    double volume = 1.0; // 0 to 1
    double pan = 0.0;    // -1 to 1
    Slide rateSlide, volumeSlide, panSlide;
    bool stopWhenFaded = false;
    // Decoded frames not yet consumed, and the read position among them.
    std::unique_ptr<float[]> buffer;
    std::int32_t bufferFrames = 0;
    double position = 0.0;
    bool exhausted = false;
};

inline constexpr std::int32_t kChannelBufferFrames = 4096;

// Adds frames output frames of the channel into out (interleaved stereo) at
// outputRate, advancing its slides even when it does not play.
void mixChannel(Channel& channel, float* out, std::int32_t frames, std::uint32_t outputRate);

// Starts a slide of value toward target over frames output frames.
void startSlide(Slide& slide, double& value, double target, std::int64_t frames);

// Moves the channel's read position frames output frames on (at its
// playback rate) without mixing them.
void skipFrames(Channel& channel, std::int64_t frames, std::uint32_t outputRate);

// Runs the caller's progress hook (audio::setProgress), if any.
void reportProgress();

} // namespace audio::detail
