// sdl_output.h -- the SDL2 output layer: SDL's native window surface stands in
// for the display's front surface and its one back buffer.
#pragma once

#include "display/output.h"

namespace platform {

// The one instance; the display uses it unless a test installs another layer.
display::OutputLayer& sdlOutputLayer();

} // namespace platform
