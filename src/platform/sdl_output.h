// sdl_output.h -- the SDL2 output layer: SDL's native window surface stands in
// for the display's front surface and its one back buffer.
#pragma once

#include "display/output.h"

#include <string>

namespace platform {

// Where the show appears, chosen before the display is opened: fullscreen
// (or in a window) on display `display`, 0 being the primary one.
struct Placement {
    bool windowed = false;
    int display = 0;
};
void setPlacement(const Placement& placement);

// For a display number the user gave: empty when it names a display, or when
// no display can be reached (opening the display then says why); otherwise
// one line naming the displays there are.
std::string checkDisplayNumber(int display);

// The one instance; the display uses it unless a test installs another layer.
display::OutputLayer& sdlOutputLayer();

} // namespace platform
