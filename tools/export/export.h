// export.h -- kva-export: the show rendered frame by frame, with its sound,
// into a video file through the ffmpeg program, PNG frames, or one frame
// into a PNG.
#pragma once

namespace exporter {

// Runs the whole program; returns the exit status: 0 done, 1 failed at run
// time, 2 bad arguments, 130 stopped. Messages go to standard error.
// closedStandard: openStandardDescriptors' bits for descriptors 0 to 2
// that were closed when the program started.
int runExport(int argc, const char* const* argv, int closedStandard);

} // namespace exporter
