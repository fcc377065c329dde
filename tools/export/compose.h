// compose.h -- the show's frames for an export: its pictures loaded as the
// show loads them, its own step driven at a fixed delta, the frame placed
// in the output's size, and the frame as 4:2:0 planes or as a PNG.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"
#include "export/formats.h"
#include "show/show.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace exporter {

inline constexpr std::int32_t kStillFps = 60; // a still is reached in 1/60 s steps

// The eleven pictures and the song as the show loads them: archive, then
// the pictures in load order, then the song. The PNG library's own lines
// are kept from the user; the loader's other messages pass.
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

} // namespace exporter
