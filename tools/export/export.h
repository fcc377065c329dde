// export.h -- kva-export: the show rendered frame by frame, with its sound,
// into a video file through the ffmpeg program, or one frame into a PNG.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"
#include "show/show.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace exporter {

inline constexpr const char* kVersion = "kva-export 0.1";
inline constexpr std::int32_t kDefaultFps = 60;
inline constexpr std::int32_t kMaxFps = 240;
inline constexpr std::int32_t kStillFps = 60; // a still is reached in 1/60 s steps
inline constexpr std::int32_t kSampleRate = 44100;
inline constexpr std::int32_t kChannels = 2;

// ---- command line (args.cpp) ----

enum class Mode { Video, Still, Help, Version };

struct Options {
    Mode mode = Mode::Video;
    std::int32_t fps = kDefaultFps;
    std::int32_t scale = 1; // 1, 2 or 3: 640x480, 1280x960, 1920x1440
    double stillSeconds = 0.0;
    std::string output; // empty: the mode's default name
};

// error is empty on success, else one line without the program name.
struct ParsedArgs {
    Options options;
    std::string error;
};
ParsedArgs parseArgs(int argc, const char* const* argv);
const char* helpText();
std::string defaultOutput(Mode mode);

// ---- composition (compose.cpp) ----

// The eleven pictures and the song as the show loads them: archive, then
// the pictures in load order, then the song.
struct ShowAssets {
    canvas::Image loaded[11];
    show::Pictures pictures;
    assets::FileBlob song;
};
void loadShowAssets(ShowAssets& assets);
void releaseShowAssets(ShowAssets& assets);

// Number of 1/60 s steps a still at seconds is composed after: the nearest
// whole number, at least one.
std::int32_t stillSteps(double seconds);

// Runs the step steps times at 1/60 s on target (cleared first); target then
// holds the frame composed by the last step.
void composeStill(const show::Pictures& pictures, std::int32_t steps, canvas::Image target);

// Runs the show at a fixed delta of 1/fps on target, calling onFrame with
// each frame the show presents (frame i shows ShowTime (i + 1) / fps). Stops
// early when onFrame returns false. Returns the number of frames handed over.
using FrameFn = std::function<bool(canvas::Image frame)>;
std::int64_t composeShow(const show::Pictures& pictures, std::int32_t fps, canvas::Image target,
                         const FrameFn& onFrame);

// Nearest-neighbour integer upscale of src into dst (src.width * scale by
// src.height * scale words).
void upscale(canvas::Image src, std::int32_t scale, canvas::PixelWord* dst);

// Writes image, upscaled, as an 8-bit PNG: RGB, or RGBA when withAlpha.
// Returns an empty string, or the reason it failed (the file is removed).
std::string writePng(const std::string& path, canvas::Image image, std::int32_t scale,
                     bool withAlpha);

// ---- the sound track (sound.cpp) ----

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

// ---- the encoder process (encoder.cpp) ----

// Looks name up on PATH (or takes it as a path when it holds a slash).
// Returns the full path, or empty when there is no such executable.
std::string findProgram(const std::string& name);

struct EncoderSettings {
    std::string ffmpeg; // full path
    std::string output;
    std::string format; // ffmpeg's muxer name; empty: chosen by the output's extension
    int soundFd = -1;   // raw f32le stereo at 44100 Hz, read from its start
    std::int32_t width = 0, height = 0, fps = kDefaultFps;
};

// The ffmpeg command line for settings (program name first).
std::vector<std::string> encoderCommand(const EncoderSettings& settings);

// The muxer for a video file named path: "mp4" when its name has no
// extension (ffmpeg could not choose one), else empty (ffmpeg's choice).
std::string formatFor(const std::string& path);

// Where a video is written until it is complete: beside path, with the
// same extension, so ffmpeg picks the same container, and tag in the name
// (the process id), so two exports never share one.
std::string partialName(const std::string& path, const std::string& tag);

struct Encoder {
    int pid = -1;
    int input = -1; // raw BGRX frames go here
};

// Starts ffmpeg in a process group of its own, so a Ctrl+C at the terminal
// reaches only this program, which then ends the encoder itself.
std::string startEncoder(Encoder& encoder, const EncoderSettings& settings);

// Writes all of bytes; false when the encoder has gone or a stop was asked for.
bool writeAll(int fd, const void* bytes, std::size_t count);

// Closes the input and waits. Returns the exit status (-1 on a signal).
int finishEncoder(Encoder& encoder);

// Ends the encoder at once and reaps it.
void killEncoder(Encoder& encoder);

// ---- stopping (run.cpp) ----

// Set by SIGINT / SIGTERM; every loop checks it.
bool stopRequested();
void installStopHandlers();

// ---- progress (run.cpp) ----

// "kva-export:  42%  4838/11520 frames  612 fps  11 s left"
std::string progressLine(std::int64_t done, std::int64_t total, double elapsedSeconds);

// ---- the program (run.cpp) ----

// Runs the whole program; returns the exit status. Messages go to stderr.
int runExport(int argc, const char* const* argv);

} // namespace exporter
