// stop.cpp -- the stop request set by the terminal's signals.
#include "export/stop.h"

#include <signal.h>

namespace exporter {
namespace {

volatile sig_atomic_t stopFlag = 0;

void onStopSignal(int) {
    stopFlag = 1;
}

} // namespace

bool stopRequested() {
    return stopFlag != 0;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocked write returns and sees the flag
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

} // namespace exporter
