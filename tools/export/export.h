// export.h -- kva-export: the show rendered frame by frame, with its sound,
// into a video file through the ffmpeg program, or one frame into a PNG.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"
#include "show/show.h"

#include <cstdint>
#include <cstdio>
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

// What a video is written as: chosen by --format, else by the output's
// extension (MP4 without one, Matroska on standard output).
enum class Container { Mp4, Mov, Mkv, WebM, Gif, PngFrames };

struct Options {
    Mode mode = Mode::Video;
    std::int32_t fps = kDefaultFps;
    bool fpsGiven = false;
    std::int32_t width = 640, height = 480; // the output's size
    double stillSeconds = 0.0;
    std::string output;          // empty: the mode's default name; "-": standard output
    std::string format;          // --format: mp4, mov, mkv, webm or gif; empty: by extension
    bool lossless = false;       // every decoded frame equals the composed one
    std::int32_t crf = -1;       // -1: the container's default
    std::string preset;          // empty: the default preset
    std::int64_t maxFrames = -1; // --frames: stop after this many frames (-1: all)
    bool noClobber = false;      // -n: never overwrite an existing output
    bool sound = false;          // --sound: a PNG sequence also gets sound.wav
};

// error is empty on success, else one line without the program name.
struct ParsedArgs {
    Options options;
    std::string error;
};
ParsedArgs parseArgs(int argc, const char* const* argv);
const char* helpText();
std::string defaultOutput(Mode mode);

// ---- formats and encoder settings (formats.cpp) ----

// The frame placed in an output of width x height: enlarged by the largest
// whole factor that fits, centred, the border black.
struct Framing {
    std::int32_t width = 640, height = 480; // the output
    std::int32_t scale = 1;
    std::int32_t left = 0, top = 0; // where the enlarged frame starts
};
Framing framingFor(std::int32_t width, std::int32_t height);

// Whether path names a PNG sequence: a .png name whose last part holds one
// number directive (%d or %0Nd, N at most 9) and otherwise only %%.
bool isFramePattern(const std::string& path);

// Offset of the extension's dot in path, or npos: a dot inside the last
// name and not at its start (".mp4" alone is a hidden file's name).
std::size_t extensionDot(const std::string& path);

// The extension without its dot, in lower case; empty when there is none.
std::string lowerExtension(const std::string& path);

// The pattern with frame number filled in.
std::string frameName(const std::string& pattern, std::int64_t number);

// The container for o's output; false with reason when there is none.
bool containerFor(const Options& o, Container& container, std::string& reason);

// Checks --lossless, --crf, --preset and --fps against the container;
// returns an empty string or one line saying what does not fit.
std::string checkQuality(const Options& o, Container container);

// The preset and quality used when none is asked for: the whole show at
// 640x480 in about 20 s on two cores (over 9x real time), the 20 s frame
// 37.7 dB PSNR over R, G, B from the composed one as a player shows it,
// within 0.4 dB of what 4:2:0 allows; medium at CRF 23 took twice as long
// and was 1.6 dB worse (bench/export_quality.sh).
inline constexpr const char* kDefaultPreset = "ultrafast";
inline constexpr std::int32_t kDefaultCrf = 18;

// ffmpeg's output options for the video and the sound (codecs, quality,
// pixel format), and the muxer. seekable false: the muxer writes a stream
// that needs no seeking back (standard output, a FIFO, a device).
std::vector<std::string> codecArguments(const Options& o, Container container);
std::vector<std::string> muxerArguments(Container container, bool seekable);

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

// Places src into dst (framing.width x framing.height words) as framing
// says: every pixel repeated scale times each way, the border black.
void place(canvas::Image src, const Framing& framing, canvas::PixelWord* dst);

// The frame as BT.709 limited-range 4:2:0 planes, Y then Cb then Cr, into
// out (width * height * 3 / 2 bytes; width and height even); each chroma
// sample is taken from the mean colour of its 2x2 block.
void toYuv420(const canvas::PixelWord* frame, std::int32_t width, std::int32_t height,
              std::uint8_t* out);

// Writes image as an 8-bit RGB PNG into file. Returns an empty string, or
// the reason it failed.
std::string writePng(std::FILE* file, canvas::Image image);

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

// Writes samples (interleaved stereo at 44100 Hz) as a 16-bit PCM WAV file.
// Returns an empty string, or the reason it failed.
std::string writeWav(std::FILE* file, const std::vector<float>& samples);

// ---- where the output goes (output.cpp) ----

// What the output's name leads to, its symbolic links followed.
enum class TargetKind { NewFile, File, Fifo, CharDevice, Stdout };

struct OutputTarget {
    std::string typed; // as the user typed it, for messages
    std::string path;  // what is written: the end of any chain of links
    TargetKind kind = TargetKind::NewFile;
    std::string partial; // files: where the output is written until complete
    int fd = -1;         // FIFOs, devices, standard output: written directly
    bool direct() const { return kind != TargetKind::NewFile && kind != TargetKind::File; }
};

// Finds what typed leads to. Returns an empty string, or why it cannot be
// written: a folder, another kind of special file, a missing folder, too
// many links, or (noClobber) an output that exists.
std::string resolveOutput(const std::string& typed, bool noClobber, OutputTarget& target);

// Gets the target ready: a file gets its partial file beside it (tag in
// its name), which proves the folder writable; a FIFO or device is opened
// for writing. Returns an empty string, or the reason.
std::string openOutput(OutputTarget& target, const std::string& tag);

// A file: the finished partial file takes the target's name (with
// noClobber, only while nothing has that name). A direct target is closed.
std::string publishOutput(OutputTarget& target, bool noClobber);

// Removes the partial file, or closes the direct target.
void abandonOutput(OutputTarget& target);

// Where a file is written until it is complete: beside path, with the
// same extension, and tag in the name (the process id), so two exports
// never share one.
std::string partialName(const std::string& path, const std::string& tag);

// Writes what write puts into a stdio stream to target (opened): the
// partial file, or the direct descriptor.
std::string writeTarget(OutputTarget& target, const std::function<std::string(std::FILE*)>& write);

// ---- the encoder process (encoder.cpp) ----

// Looks name up on PATH (or takes it as a path when it holds a slash).
// Returns the full path, or empty when there is no such executable.
std::string findProgram(const std::string& name);

struct EncoderSettings {
    std::string ffmpeg;                  // full path
    std::vector<std::string> frames;     // options and -i of input 0, the frames
    std::vector<std::string> second;     // options and -i of input 1, if any
    std::vector<std::string> outputArgs; // codecs, filters, muxer
    std::string output;                  // a path, or pipe:1
    int outputFd = -1;                   // given to ffmpeg as its standard output
    int soundFd = -1;                    // given to ffmpeg as descriptor 3
};

// Input 0 as raw frames of width x height at fps on standard input: BGRX
// words, or with yuv the planes toYuv420 makes.
std::vector<std::string> rawFrameInput(std::int32_t width, std::int32_t height, std::int32_t fps,
                                       bool yuv);

// Input 1 as raw stereo float at 44100 Hz from descriptor 3.
std::vector<std::string> rawSoundInput();

// The ffmpeg command line for settings (program name first).
std::vector<std::string> encoderCommand(const EncoderSettings& settings);

// Runs ffmpeg on one black frame (and a moment of silence) with the same
// output options, into a stream thrown away: proves the codecs, options
// and muxer usable before any frame is composed. Returns an empty string,
// or ffmpeg's first line of complaint.
std::string probeEncoder(const EncoderSettings& settings, std::int32_t width, std::int32_t height,
                         std::int32_t fps, bool withSound);

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
