// options.h -- the command line of kva-export.
#pragma once

#include <cstdint>
#include <string>

namespace exporter {

inline constexpr const char* kVersion = "kva-export 0.1";
inline constexpr std::int32_t kDefaultFps = 60;
inline constexpr std::int32_t kMaxFps = 240;

enum class Mode { Video, Still, Help, Version };

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

} // namespace exporter
