// stop.h -- a clean stop on Ctrl+C, SIGTERM or a hang-up.
#pragma once

namespace exporter {

// Set by SIGINT / SIGTERM / SIGHUP; every loop checks it.
bool stopRequested();

// Installs the handlers without restart, so a blocked write or wait
// returns and sees the request; a closed pipe is an error, not a signal.
void installStopHandlers();

} // namespace exporter
