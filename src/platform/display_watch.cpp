// display_watch.cpp -- X error handlers that report in one line and end the
// program with status 1 at once (they make no X calls: the X library may be
// inside a request, holding its lock, when it calls them); and the check
// that tells a lost Wayland compositor from a quit request.
#include "platform/display_watch.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <dlfcn.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace platform {

// What the show wrote to standard output before the loss (the names of
// pictures not found, say) still reaches a redirected log. The stream's lock
// is never waited for: an X error handler runs with the X library's lock
// held, and a thread caught writing must not hold the exit up.
void endWithLostDisplay(const char* reason) {
    if (ftrylockfile(stdout) == 0) {
        fflush_unlocked(stdout);
        funlockfile(stdout);
    }
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

std::vector<MonitorArea> x11Monitors() {
    std::vector<MonitorArea> areas;
    void* library = dlopen("libXrandr.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!library) return areas;
    using Get = XRRMonitorInfo* (*)(Display*, Window, Bool, int*);
    using Free = void (*)(XRRMonitorInfo*);
    const auto get = reinterpret_cast<Get>(dlsym(library, "XRRGetMonitors"));
    const auto release = reinterpret_cast<Free>(dlsym(library, "XRRFreeMonitors"));
    Display* display = get && release ? XOpenDisplay(nullptr) : nullptr;
    if (display) {
        int count = 0;
        XRRMonitorInfo* monitors = get(display, DefaultRootWindow(display), True, &count);
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            MonitorArea area{m.x, m.y, m.width, m.height, m.primary != 0, ""};
            if (char* name = m.name ? XGetAtomName(display, m.name) : nullptr) {
                area.name = name;
                XFree(name);
            }
            areas.push_back(area);
        }
        if (monitors) release(monitors);
        XCloseDisplay(display);
    }
    dlclose(library);
    // An output's own monitor stays listed beside those the user split it
    // into; one that holds another whole would put the show on a seam.
    const auto holdsAnother = [&areas](const MonitorArea& a) {
        return std::any_of(areas.begin(), areas.end(), [&a](const MonitorArea& b) {
            return &a != &b && b.x >= a.x && b.y >= a.y && b.x + b.width <= a.x + a.width &&
                   b.y + b.height <= a.y + a.height && (b.width < a.width || b.height < a.height);
        });
    };
    std::vector<MonitorArea> kept;
    for (const MonitorArea& a : areas)
        if (!holdsAnother(a)) kept.push_back(a);
    areas = kept;
    std::stable_partition(areas.begin(), areas.end(),
                          [](const MonitorArea& a) { return a.primary; });
    return areas;
}

} // namespace platform
