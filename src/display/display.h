// display.h -- the fullscreen display: set-up with its fallbacks, one
// presented frame per call, and the close path.
#pragma once

#include "canvas/canvas.h"

#include <cstdint>

namespace display {

// 1 when the display is ready, 0 on any failure.
std::int32_t openDisplay(const char* className, std::int32_t width, std::int32_t height);

// Pumps window messages (Escape or a close request end the process here),
// then converts every frame-buffer row into the back buffer and flips.
// 1 when shown or skipped while inactive, 0 when the lock failed.
std::int32_t presentFrame(const canvas::PixelWord* frameBuffer);

void closeDisplay();

} // namespace display
