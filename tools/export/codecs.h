// codecs.h -- ffmpeg's output options for each container: codecs, quality,
// pixel format, tags and the muxer.
#pragma once

#include "export/formats.h"

#include <string>
#include <vector>

namespace exporter {

// The preset and quality used when none is asked for (see the README's
// table, made with bench/export_quality.sh).
inline constexpr const char* kDefaultPreset = "ultrafast";
inline constexpr std::int32_t kDefaultCrf = 20;

// Options for the video (input 0) and the sound (input 1) streams.
std::vector<std::string> codecArguments(const Options& o, Container container);

// The title and the encoder tag, for the containers that keep them.
std::vector<std::string> tagArguments(Container container);

// The muxer. seekable false: a stream that needs no seeking back
// (standard output, a FIFO, a device).
std::vector<std::string> muxerArguments(Container container, bool seekable);

// Whether the container keeps chapters (MP4, MOV, Matroska).
bool hasChapters(Container container);

} // namespace exporter
