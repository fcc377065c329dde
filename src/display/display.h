// display.h -- the fullscreen display: set-up with its fallbacks, one
// presented frame per call, and the close path.
#pragma once

#include "canvas/canvas.h"
#include "display/output.h"

#include <cstdint>

namespace display {

// 1 when the display is ready. On a failure: 0, with one line on standard
// error naming the step and the output layer's reason; nothing set up so far
// is undone.
std::int32_t openDisplay(const char* className, std::int32_t width, std::int32_t height);

// Pumps window messages (Escape or a close request end the process here),
// then converts every frame-buffer row into the back buffer and flips.
// 1 when shown or skipped while inactive, 0 when the lock failed.
std::int32_t presentFrame(const canvas::PixelWord* frameBuffer);

// presentFrame for a frame that differs from the one presented before only in
// rows [first, end) (first >= end: in none). Only those rows are converted
// and sent, except where the screen's copy cannot be trusted (the first
// frame, after inactivity or a failed lock, a surface taken anew): then the
// whole frame. A frame with no changed rows is still paced by the flip.
std::int32_t presentRows(const canvas::PixelWord* frameBuffer, std::int32_t first,
                         std::int32_t end);

// Pumps window messages alone, for the start-up, which must answer Escape
// and a close request (both end the process here) before a frame is shown.
void pumpMessages();

// Releases what set-up created, in reverse order of dependence; safe after a
// failed or partial set-up.
void closeDisplay();

// The window procedure: activation, cursor, Escape and close requests (those
// two close the display and end the process with code 0).
std::intptr_t displayWindowProc(const WindowMessage& message);

} // namespace display
