// display_watch.h -- ends the program with one line when its display fails
// under it (the window destroyed by another client, the X server or the
// Wayland compositor gone), where the libraries would otherwise print
// several lines, wait for ever, or report the loss as a quit request.
#pragma once

namespace platform {

// Replaces the X library's error handlers for the whole process. Called
// once SDL's X11 driver runs; harmless when called again.
void watchX11Connection();

// True when the Wayland connection display (a wl_display) has failed: the
// compositor went away. Looked up in the Wayland library SDL has loaded,
// so nothing is linked for it; false when that library is not loaded.
bool waylandConnectionLost(void* display);

// "kva: lost the display: REASON" on standard error, then status 1 at once.
[[noreturn]] void endWithLostDisplay(const char* reason);

} // namespace platform
