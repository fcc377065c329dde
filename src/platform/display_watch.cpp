// display_watch.cpp -- X error handlers that report in one line and end the
// program with status 1 at once (they make no X calls: the X library may be
// inside a request, holding its lock, when it calls them); and the check
// that tells a lost Wayland compositor from a quit request.
#include "platform/display_watch.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace platform {

void endWithLostDisplay(const char* reason) {
    char line[320];
    const int n = std::snprintf(line, sizeof line, "kva: lost the display: %s\n", reason);
    if (n > 0)
        (void)!write(STDERR_FILENO, line, std::size_t(n) < sizeof line ? n : sizeof line - 1);
    _exit(1);
}

namespace {

// Any error the program did not ask to hear about means its window or its
// connection is no longer what it drew into.
int onError(Display* display, XErrorEvent* event) {
    char text[160] = "";
    XGetErrorText(display, event->error_code, text, sizeof text);
    char reason[256];
    std::snprintf(reason, sizeof reason, "X error %d (%s) on request %d", event->error_code,
                  text[0] ? text : "unknown", event->request_code);
    endWithLostDisplay(reason);
}

int onConnectionLost(Display*) {
    endWithLostDisplay("the connection to the X server is gone");
}

} // namespace

void watchX11Connection() {
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onConnectionLost);
}

bool waylandConnectionLost(void* display) {
    if (!display) return false;
    void* library = dlopen("libwayland-client.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return false;
    using GetError = int (*)(void*);
    const auto getError = reinterpret_cast<GetError>(dlsym(library, "wl_display_get_error"));
    const bool lost = getError && getError(display) != 0;
    dlclose(library); // only drops the reference RTLD_NOLOAD took
    return lost;
}

} // namespace platform
