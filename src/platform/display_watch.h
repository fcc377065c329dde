// display_watch.h -- ends the program with one line when its display fails
// under it (the window destroyed by another client, the X server or the
// Wayland compositor gone), where the libraries would otherwise print
// several lines, wait for ever, or report the loss as a quit request; and
// lists the X screen's monitors, which SDL may not see.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Replaces the X library's error handlers for the whole process. Called
// once SDL's X11 driver runs; harmless when called again.
void watchX11Connection();

// True when the Wayland connection display (a wl_display) has failed: the
// compositor went away. Looked up in the Wayland library SDL has loaded,
// so nothing is linked for it; false when that library is not loaded.
bool waylandConnectionLost(void* display);

// Flushes standard output unless another thread holds it, says "kva: lost
// the display: REASON" on standard error, then ends with status 1 at once.
[[noreturn]] void endWithLostDisplay(const char* reason);

// A monitor as RandR lists it: a rectangle of the X screen.
struct MonitorArea {
    int x = 0, y = 0, width = 0, height = 0;
    bool primary = false;
    std::string name;
};

// The monitors of the X display named by DISPLAY, those set by the user with
// `xrandr --setmonitor` included, the primary first; empty where there is
// no X display or its RandR is older than 1.5. A monitor that holds another
// whole (an output split by the user) is left out. libXrandr is looked up at
// run time, as SDL itself does.
std::vector<MonitorArea> x11Monitors();

} // namespace platform
