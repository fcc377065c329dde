// x11_watch.h -- ends the program with one line when its X display fails
// under it (the window destroyed by another client, the server gone), where
// the X library would otherwise print several lines or wait for ever.
#pragma once

namespace platform {

// Replaces the X library's error handlers for the whole process. Called
// once SDL's X11 driver runs; harmless when called again.
void watchX11Connection();

} // namespace platform
