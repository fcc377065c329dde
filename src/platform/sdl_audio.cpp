// sdl_audio.cpp -- the audio library over SDL2: output device or offline
// rendering, the channel table, the mixer with its slides, and the clock.
#include "platform/sdl_audio.h"
#include "music/audio.h"
#include "platform/platform.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace audio {
namespace detail {
namespace {

// Value now, then one output frame further along the slide.
bool stepSlide(Slide& s, double& value) {
    if (!s.active) return false;
    ++s.done;
    if (s.done >= s.total) {
        value = s.to;
        s.active = false;
        return true; // finished at this frame
    }
    value = s.from + (s.to - s.from) * static_cast<double>(s.done) / static_cast<double>(s.total);
    return false;
}

void stopChannel(Channel& c) {
    c.playing = false;
    c.rateSlide.active = c.volumeSlide.active = c.panSlide.active = false;
    c.stopWhenFaded = false;
}

void refill(Channel& c) {
    const auto whole = static_cast<std::int32_t>(c.position);
    const std::int32_t dropped = std::min(whole, c.bufferFrames);
    const std::int32_t kept = c.bufferFrames - dropped;
    float* buf = c.buffer.get();
    std::memmove(buf, buf + 2 * dropped, sizeof(float) * 2 * static_cast<std::size_t>(kept));
    c.position -= dropped;
    c.bufferFrames = kept;
    std::int32_t n = c.source->read(buf + 2 * kept, kChannelBufferFrames - kept);
    if (n == 0 && c.loop && !c.source->loopsItself() && c.source->rewind())
        n = c.source->read(buf + 2 * kept, kChannelBufferFrames - kept);
    if (n <= 0) c.exhausted = true;
    c.bufferFrames += std::max(n, 0);
}

// Makes the frames around the read position available; false at the end.
bool haveFrames(Channel& c) {
    while (static_cast<std::int32_t>(c.position) + 1 >= c.bufferFrames && !c.exhausted) refill(c);
    return static_cast<std::int32_t>(c.position) < c.bufferFrames;
}

void mixFrame(Channel& c, float* out, double step) {
    if (!haveFrames(c)) {
        stopChannel(c);
        return;
    }
    const auto i = static_cast<std::int32_t>(c.position);
    const auto f = static_cast<float>(c.position - i);
    const float* a = c.buffer.get() + 2 * i;
    const float zero[2] = {0.0f, 0.0f};
    const float* b = i + 1 < c.bufferFrames ? a + 2 : zero;
    const auto gain = static_cast<float>(c.volume);
    const float left = c.pan > 0.0 ? gain * static_cast<float>(1.0 - c.pan) : gain;
    const float right = c.pan < 0.0 ? gain * static_cast<float>(1.0 + c.pan) : gain;
    out[0] += (a[0] + (b[0] - a[0]) * f) * left;
    out[1] += (a[1] + (b[1] - a[1]) * f) * right;
    c.position += step;
}

void stepSlides(Channel& c) {
    stepSlide(c.rateSlide, c.rate);
    stepSlide(c.panSlide, c.pan);
    if (stepSlide(c.volumeSlide, c.volume) && c.stopWhenFaded) stopChannel(c);
}

} // namespace

void startSlide(Slide& slide, double& value, double target, std::int64_t frames) {
    if (frames <= 0) {
        value = target;
        slide.active = false;
        return;
    }
    slide = Slide{true, value, target, frames, 0};
}

void skipFrames(Channel& c, std::int64_t frames, std::uint32_t outputRate) {
    double left = c.rate * static_cast<double>(frames) / static_cast<double>(outputRate);
    while (left > 0.0 && haveFrames(c)) {
        const double step = std::min(left, static_cast<double>(c.bufferFrames - 1) - c.position);
        if (step <= 0.0) break;
        c.position += step;
        left -= step;
    }
}

void mixChannel(Channel& c, float* out, std::int32_t frames, std::uint32_t outputRate) {
    const double perOutputFrame = 1.0 / static_cast<double>(outputRate);
    for (std::int32_t i = 0; i < frames; ++i) {
        if (c.playing) mixFrame(c, out + 2 * i, c.rate * perOutputFrame);
        stepSlides(c);
    }
}

} // namespace detail

namespace {

using detail::Channel;

constexpr std::uint32_t kMinRate = 100, kMaxRate = 100000;

// A busy machine may keep the audio thread off the processor for 200 ms;
// whatever the sound server holds of the mix must outlast that, or the song
// has a gap and falls behind the pictures for good. On PulseAudio (and
// PipeWire's PulseAudio server) the server's buffer is set apart from the
// device's, through libpulse's own setting: 600 ms of total latency, of
// which at least 300 ms lie between mixing and hearing once the stream runs
// (300 ms of total latency still left gaps of a quarter second a minute
// with the machine loaded on purpose beside the show).
// The device's buffer stays short, so that the audio thread answers a close
// within tens of milliseconds: 1024 frames there, for SDL may send one
// buffer of silence of its own ahead of the mixer's first, unseen by the
// measure of the lag. Elsewhere (ALSA, SDL's PipeWire driver) the device's
// buffer is all there is: 2048 frames, 46 ms. play() takes the latency
// back by starting the song that far in (see framesQueued).
constexpr int kDeviceFrames = 2048, kPulseDeviceFrames = 1024;
constexpr const char* kPulseLatencyMs = "600";
constexpr std::uint32_t kPulseHeardAfterMs = 300;
// Beyond this a measured lag is taken for a fault of the measure.
constexpr std::uint32_t kMostLagMs = 2000;
constexpr std::uint32_t kFillMoreMs = 50, kFillLimitMs = 500, kFillStepMs = 5;

struct State {
    bool offline = false;
    bool initialised = false;
    bool hookAdded = false;
    bool sdlAudio = false;
    SDL_AudioDeviceID device = 0;
    std::uint32_t rate = kOutputRate;
    std::uint32_t deviceFrames = 0;            // the buffer the device was given
    std::uint32_t assumedMs = 0;               // the least lag this device has
    std::uint32_t latencyMs = 0;               // from mixing to hearing
    std::atomic<std::int64_t> lastCallback{0}; // platform::counterNow()
    std::int64_t firstCallback = 0;            // since open; 0 before
    Progress progress = nullptr;
    std::vector<std::unique_ptr<Channel>> channels;
    Handle lastHandle = 0;
    std::int64_t frames = 0;
    std::uint64_t waitRemainder = 0; // thousandths of a frame
    std::vector<float> capture;

    // The device goes first: its thread reads the channels.
    ~State() { closeDevice(); }

    void closeDevice() {
        if (device && deviceGone()) {
            // Closing a device whose server is gone waits for its thread
            // to notice, a second or more. Paused, it never calls back
            // again, so it is left to the end of the process instead.
            SDL_PauseAudioDevice(device, 1);
            sdlAudio = false;
        }
        if (device && sdlAudio) SDL_CloseAudioDevice(device);
        device = 0;
        deviceFrames = assumedMs = latencyMs = 0;
        if (sdlAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio = false;
    }

    // SDL stopped it (the server or the device went away), or it has not
    // called back for far longer than its buffer lasts.
    bool deviceGone() const {
        if (SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED) return true;
        const std::int64_t silent = platform::counterNow() - lastCallback.load();
        const std::int64_t buffers =
            std::int64_t{deviceFrames} * platform::counterFrequency() / rate;
        return silent > 4 * buffers + platform::counterFrequency();
    }
};

State& state() {
    static State s;
    return s;
}

// Holds the audio thread off the channels while the main thread changes them.
class DeviceLock {
  public:
    DeviceLock() : device_(state().device) {
        if (device_) SDL_LockAudioDevice(device_);
    }
    ~DeviceLock() {
        if (device_) SDL_UnlockAudioDevice(device_);
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

  private:
    SDL_AudioDeviceID device_;
};

void mixAll(float* out, std::int32_t frames) {
    State& s = state();
    std::fill_n(out, 2 * static_cast<std::size_t>(frames), 0.0f);
    for (auto& c : s.channels) detail::mixChannel(*c, out, frames, s.rate);
    for (std::int32_t i = 0; i < 2 * frames; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
    s.frames += frames;
}

void SDLCALL deviceCallback(void*, Uint8* stream, int length) {
    State& s = state();
    s.lastCallback = platform::counterNow();
    if (s.frames == 0) s.firstCallback = s.lastCallback;
    mixAll(reinterpret_cast<float*>(stream), length / static_cast<int>(2 * sizeof(float)));
}

void dropAlsaReport(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library reports each step of a failed device search on standard
// error: a machine with no sound card gets sixteen lines. Audio failures
// are silent here (the show plays on without sound), so its reports are
// dropped; SDL still sees every failure in ALSA's return values. The
// library stays loaded for the handler's sake, as SDL keeps it anyway.
void quietAlsa() {
    using Report = void (*)(const char*, int, const char*, int, const char*, ...);
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return; // no ALSA here: nothing will report
    auto setHandler = reinterpret_cast<int (*)(Report)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (setHandler) setHandler(dropAlsaReport);
}

// A stream that has just opened takes the server's buffer from empty to
// full before its lag is the steady one play() takes back: opening waits
// for that, as long as the lag and a little more at most.
void letServerFill(const State& s) {
    const std::int64_t full = std::int64_t{s.latencyMs + kFillMoreMs} * s.rate / 1000;
    const std::uint32_t start = SDL_GetTicks();
    while (framesRendered() < full && SDL_GetTicks() - start < s.latencyMs + kFillLimitMs) {
        SDL_Delay(kFillStepMs);
        detail::reportProgress();
    }
}

bool openDevice(State& s) {
    quietAlsa();
    setenv("PULSE_LATENCY_MSEC", kPulseLatencyMs, 0); // a value of the user's own wins
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    s.sdlAudio = true;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(s.rate);
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool pulse = driver && std::strcmp(driver, "pulseaudio") == 0;
    want.samples = pulse ? kPulseDeviceFrames : kDeviceFrames;
    want.callback = deviceCallback;
    SDL_AudioSpec have{};
    s.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!s.device) {
        s.closeDevice();
        return false;
    }
    s.deviceFrames = have.samples;
    s.assumedMs = pulse ? kPulseHeardAfterMs : (have.samples * 1000 + s.rate - 1) / s.rate;
    s.latencyMs = s.assumedMs;
    s.lastCallback = platform::counterNow();
    s.firstCallback = 0;
    SDL_PauseAudioDevice(s.device, 0);
    if (pulse) letServerFill(s);
    return true;
}

Channel* find(Handle h) {
    if (h == 0) return nullptr;
    for (auto& c : state().channels)
        if (c->handle == h) return c.get();
    return nullptr;
}

Handle addChannel(std::unique_ptr<detail::Source> source, bool isStream) {
    State& s = state();
    auto c = std::make_unique<Channel>();
    if (++s.lastHandle == 0) ++s.lastHandle; // 0 is never a handle
    c->handle = s.lastHandle;
    c->isStream = isStream;
    c->rate = source->rate();
    c->source = std::move(source);
    c->buffer = std::make_unique<float[]>(2 * detail::kChannelBufferFrames);
    const Handle h = c->handle;
    DeviceLock lock;
    s.channels.push_back(std::move(c));
    return h;
}

void restart(Channel& c) {
    c.source->rewind();
    c.bufferFrames = 0;
    c.position = 0.0;
    c.exhausted = false;
}

// Frames mixed but not yet heard, with the audio thread held off. The
// sound has run at the output's rate since the first callback, so what was
// mixed beyond that waits between the mixer and the listener: SDL's
// buffer, the sound server's, the device's. How much depends on the server
// (of the 600 ms asked of PulseAudio the stream keeps about 320; the sink
// adds from a few milliseconds to the rest, as its other clients allow), so
// it is measured. The measure reads short, never long: SDL may send silence
// of its own before the first callback, and a gap stops the sound without
// stopping the clock. The figure assumed at open is the floor.
std::int64_t framesQueued(const State& s) {
    const std::int64_t floor = std::int64_t{s.assumedMs} * s.rate / 1000;
    if (s.firstCallback == 0) return floor;
    const std::int64_t elapsed = platform::counterNow() - s.firstCallback;
    const std::int64_t hz = platform::counterFrequency();
    const std::int64_t played = elapsed / hz * s.rate + elapsed % hz * s.rate / hz;
    const std::int64_t most = std::int64_t{kMostLagMs} * s.rate / 1000;
    return std::clamp<std::int64_t>(s.frames - played, floor, std::max(floor, most));
}

// A song that starts to play is started as far in as the device lags
// behind, so that what is heard keeps time with the show's clock from its
// first frame on; the ending waits that long for its fade to be heard.
// Offline nothing lags.
void startPlaying(Channel& c) {
    State& s = state();
    if (!c.playing && s.device) {
        const std::int64_t lag = framesQueued(s);
        detail::skipFrames(c, lag, s.rate);
        s.latencyMs = static_cast<std::uint32_t>((lag * 1000 + s.rate - 1) / s.rate);
    }
    c.playing = true;
}

std::int64_t slideFrames(std::uint32_t milliseconds) {
    return (static_cast<std::int64_t>(milliseconds) * state().rate + 500) / 1000;
}

} // namespace

bool setOfflineOutput(bool offline) {
    State& s = state();
    if (s.initialised) return false;
    s.offline = offline;
    s.frames = 0;
    s.waitRemainder = 0;
    return true;
}

bool offlineOutput() {
    return state().offline;
}

bool init(std::int32_t device, std::uint32_t frequency) {
    State& s = state();
    if (!s.hookAdded) platform::addBeforeExitHook(stopNow);
    s.hookAdded = true;
    if (s.initialised || device != kDefaultDevice || frequency < 8000 || frequency > 192000)
        return false;
    s.rate = frequency;
    // The clock restarts before the device does: its thread counts from
    // the first callback on.
    s.frames = 0;
    s.waitRemainder = 0;
    if (!s.offline && !openDevice(s)) return false;
    s.initialised = true;
    return true;
}

Handle streamFromMemory(const void* data, std::uint32_t length, std::uint32_t flags) {
    if (!state().initialised) return 0;
    auto source = detail::openMp3(static_cast<const std::uint8_t*>(data), length,
                                  (flags & kStreamPrescan) != 0);
    return source ? addChannel(std::move(source), true) : 0;
}

Handle moduleFromMemory(const void* data, std::uint32_t length, std::uint32_t flags) {
    if (!state().initialised) return 0;
    auto source = detail::openModule(static_cast<const std::uint8_t*>(data), length, state().rate,
                                     (flags & kModuleLoop) != 0);
    return source ? addChannel(std::move(source), false) : 0;
}

bool start() {
    State& s = state();
    if (!s.initialised) return false;
    if (s.device) SDL_PauseAudioDevice(s.device, 0);
    return true;
}

bool playStream(Handle stream, bool flush, std::uint32_t flags) {
    Channel* c = find(stream);
    if (!c || !c->isStream) return false;
    DeviceLock lock;
    if (flush || (c->exhausted && !c->playing)) restart(*c);
    c->loop = (flags & kStreamLoop) != 0;
    startPlaying(*c);
    return true;
}

bool playModule(Handle module) {
    Channel* c = find(module);
    if (!c || c->isStream) return false;
    DeviceLock lock;
    if (c->exhausted && !c->playing) restart(*c);
    startPlaying(*c);
    return true;
}

bool slideAttributes(Handle channel, std::int32_t frequency, std::int32_t volume, std::int32_t pan,
                     std::uint32_t milliseconds) {
    Channel* c = find(channel);
    if (!c) return false;
    const std::int64_t frames = slideFrames(milliseconds);
    DeviceLock lock;
    if (frequency != kLeaveFrequency) {
        const auto hz =
            static_cast<double>(std::clamp<std::int64_t>(frequency, kMinRate, kMaxRate));
        detail::startSlide(c->rateSlide, c->rate, hz, frames);
    }
    if (volume != kLeaveVolume) {
        c->stopWhenFaded = volume == kFadeAndStop;
        const double target = c->stopWhenFaded ? 0.0 : std::clamp(volume, 0, 100) / 100.0;
        detail::startSlide(c->volumeSlide, c->volume, target, frames);
        if (c->stopWhenFaded && frames <= 0) detail::stopChannel(*c);
    }
    if (pan != kLeavePan)
        detail::startSlide(c->panSlide, c->pan, std::clamp(pan, -100, 100) / 100.0, frames);
    return true;
}

bool isSliding(Handle channel) {
    Channel* c = find(channel);
    if (!c) return false;
    DeviceLock lock;
    return c->rateSlide.active || c->volumeSlide.active || c->panSlide.active;
}

void wait(std::uint32_t milliseconds) {
    State& s = state();
    if (!s.offline) {
        platform::sleepMs(milliseconds);
        return;
    }
    const std::uint64_t thousandths = std::uint64_t{milliseconds} * s.rate + s.waitRemainder;
    const auto frames = static_cast<std::int32_t>(thousandths / 1000);
    s.waitRemainder = thousandths % 1000;
    const std::size_t old = s.capture.size();
    s.capture.resize(old + 2 * static_cast<std::size_t>(frames));
    mixAll(s.capture.data() + old, frames);
}

void free() {
    State& s = state();
    s.closeDevice();
    s.channels.clear();
    s.initialised = false;
}

void stopNow() {
    state().closeDevice();
}

std::int32_t renderOffline(float* out, std::int32_t frames) {
    if (!state().offline || frames <= 0) return 0;
    mixAll(out, frames);
    return frames;
}

std::vector<float> takeOfflineCapture() {
    std::vector<float> out;
    out.swap(state().capture);
    return out;
}

std::int64_t framesRendered() {
    DeviceLock lock;
    return state().frames;
}

std::uint32_t latencyMs() {
    const State& s = state();
    if (!s.initialised || !s.device) return 0;
    return s.latencyMs;
}

Progress setProgress(Progress progress) {
    const Progress previous = state().progress;
    state().progress = progress;
    return previous;
}

void detail::reportProgress() {
    if (state().progress) state().progress();
}

} // namespace audio
