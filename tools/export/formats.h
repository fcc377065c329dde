// formats.h -- what an export is written as: the container chosen by
// --format or the output's name, whether the options fit it, and where the
// frame sits in the output's size.
#pragma once

#include "export/options.h"

#include <cstdint>
#include <string>

namespace exporter {

// Chosen by --format, else by the output's extension (MP4 without one,
// Matroska on standard output).
enum class Container { Mp4, Mov, Mkv, WebM, Gif, PngFrames };

// The container for o's output; false with reason when there is none.
bool containerFor(const Options& o, Container& container, std::string& reason);

// Checks --lossless, --crf, --preset and --fps against the container;
// returns an empty string or one line saying what does not fit.
std::string checkQuality(const Options& o, Container container);

// Everything about a video's options taken together: the container, the
// quality options, --sound; a GIF without --fps gets 30. Returns an empty
// string or one line saying what does not fit (a fault of the arguments).
std::string checkVideoOptions(Options& o, Container& container);

// The frame placed in an output of width x height: enlarged by the largest
// whole factor that fits, centred, the border black.
struct Framing {
    std::int32_t width = 640, height = 480; // the output
    std::int32_t scale = 1;
    std::int32_t left = 0, top = 0; // where the enlarged frame starts
};
Framing framingFor(std::int32_t width, std::int32_t height);

} // namespace exporter
