// display.cpp -- the fullscreen display over an output layer: set-up with its
// fallbacks, the activation gate, lock-convert-unlock-flip, the window
// procedure and the order of shutdown.
#include "display/display.h"

#include "display/convert.h"
#include "platform/platform.h"
#include "platform/sdl_output.h"

#include <algorithm>
#include <cstdio>

namespace display {
namespace {

constexpr std::int32_t kDepths[] = {32, 24, 16};
constexpr Arrangement kArrangements[] = {Arrangement::TwoBackBuffers, Arrangement::OneBackBuffer,
                                         Arrangement::LonePrimary};

struct Display {
    Handle window = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    const char* windowClass = nullptr;
    Handle backBuffer = 0;     // belongs to the chain: never released on its own
    std::uintptr_t active = 0; // the raw value of the last activation message
    Handle displayLibrary = 0;
    Handle directDraw = 0;
    Handle primarySurface = 0;
    RowConverter rowConverter = nullptr;
    bool wholeDue = true; // the back buffer may not hold the last frame presented
};

struct State {
    Display display;
    OutputLayer* layer = nullptr;
};

State& state() {
    static State s;
    return s;
}

OutputLayer& out() {
    State& s = state();
    if (!s.layer) s.layer = &platform::sdlOutputLayer();
    return *s.layer;
}

// Where no display can be reached at all, the user is told of the exporter,
// which renders the same show to a file without one.
constexpr const char* kNoDisplayHint =
    "; without a display, kva-export writes the show as a video file";

// Set-up ends at the first failing step and leaves earlier steps in place.
std::int32_t fail(const char* step, const char* reason, const char* hint = "") {
    std::fprintf(stderr, "kva: cannot set up the display: %s: %s%s\n", step, reason, hint);
    return 0;
}
std::int32_t fail(const char* step) {
    return fail(step, out().lastError());
}
std::int32_t failWithoutDisplay(const char* step) {
    return fail(step, out().lastError(), kNoDisplayHint);
}

bool setFirstDepth(Display& d) {
    for (std::int32_t depth : kDepths) {
        if (out().setDisplayMode(d.directDraw, d.width, d.height, depth)) return true;
    }
    return false;
}

bool createFirstArrangement(Display& d) {
    for (Arrangement arrangement : kArrangements) {
        d.primarySurface = out().createSurfaces(d.directDraw, arrangement);
        if (d.primarySurface) return true;
    }
    return false;
}

std::int32_t chooseConverter(Display& d) {
    PixelFormat format;
    if (!out().getPixelFormat(d.primarySurface, format)) return fail("reading the pixel format");
    if ((format.flags & kPixelFormatRgb) == 0)
        return fail("reading the pixel format", "the pixels are not direct RGB");
    d.rowConverter =
        selectRowConverter(format.bitCount, format.redMask, format.greenMask, format.blueMask);
    if (!d.rowConverter) {
        char reason[128];
        std::snprintf(reason, sizeof reason, "no converter for %u-bit pixels with masks %x/%x/%x",
                      format.bitCount, format.redMask, format.greenMask, format.blueMask);
        return fail("choosing a pixel converter", reason);
    }
    return 1;
}

void pumpMessages(const Display& d) {
    WindowMessage message;
    while (out().peekMessage(d.window, message)) displayWindowProc(message);
}

void convertRows(const Display& d, const canvas::PixelWord* frameBuffer,
                 const LockedSurface& locked, std::int32_t first, std::int32_t end) {
    const canvas::PixelWord* source = frameBuffer + std::ptrdiff_t(first) * d.width;
    auto* destination =
        static_cast<unsigned char*>(locked.pixels) + std::ptrdiff_t(first) * locked.pitch;
    for (std::int32_t row = first; row < end; ++row) {
        d.rowConverter(source, destination, d.width);
        source += d.width;
        destination += locked.pitch;
    }
}

[[noreturn]] void closeAndExit() {
    closeDisplay();
    platform::exitProcess(0);
}

} // namespace

void OutputLayer::waitWhileInactive() {
    platform::sleepMs(1);
}

OutputLayer* setOutputLayer(OutputLayer* layer) {
    State& s = state();
    OutputLayer* old = s.layer;
    s.layer = layer;
    s.display = Display{};
    return old;
}

std::int32_t openDisplay(const char* className, std::int32_t width, std::int32_t height) {
    Display& d = state().display;
    d.width = width;
    d.height = height;
    OutputLayer& o = out();

    d.displayLibrary = o.loadLibrary();
    if (!d.displayLibrary) return failWithoutDisplay("starting the video system");
    if (!o.findCreateEntry(d.displayLibrary)) return failWithoutDisplay("finding a display driver");
    d.directDraw = o.createDisplayObject();
    if (!d.directDraw) return failWithoutDisplay("opening the display");

    d.windowClass = className;
    o.registerWindowClass(className, displayWindowProc);
    d.window = o.createWindow(className, className);

    if (!o.setExclusiveFullscreen(d.directDraw, d.window)) return fail("taking the whole screen");
    if (!setFirstDepth(d)) return fail("setting a display mode at 32, 24 or 16 bits per pixel");
    if (!createFirstArrangement(d)) return fail("creating the surfaces");
    d.backBuffer = o.getBackBuffer(d.primarySurface);
    if (!d.backBuffer) return fail("finding the back buffer");
    if (!chooseConverter(d)) return 0;

    o.setScreenSaverActive(false);
    return 1;
}

void pumpMessages() {
    pumpMessages(state().display);
}

namespace {

// rowsKnown: the caller named the changed rows, and the output layer is told.
std::int32_t present(const canvas::PixelWord* frameBuffer, std::int32_t first, std::int32_t end,
                     bool rowsKnown) {
    Display& d = state().display;
    pumpMessages(d);
    if (d.active == 0) {
        d.wholeDue = true;
        out().waitWhileInactive();
        return 1;
    }
    if (!d.rowConverter) return 0; // never set up: there is nothing to lock
    OutputLayer& o = out();
    o.restoreSurfaces(d.primarySurface);
    LockedSurface locked;
    if (!o.lockBackBuffer(d.backBuffer, locked)) {
        d.wholeDue = true; // the rows of this frame are lost
        return 0;
    }
    if (d.wholeDue || locked.contentsLost) {
        first = 0;
        end = d.height;
    }
    first = std::clamp(first, 0, d.height);
    end = std::clamp(end, first, d.height);
    convertRows(d, frameBuffer, locked, first, end);
    o.unlockBackBuffer(d.backBuffer, locked.pixels);
    if (rowsKnown) o.setChangedRows(d.backBuffer, first, end);
    o.flip(d.primarySurface);
    d.wholeDue = false;
    platform::sleepMs(0);
    return 1;
}

} // namespace

std::int32_t presentFrame(const canvas::PixelWord* frameBuffer) {
    return present(frameBuffer, 0, state().display.height, false);
}

std::int32_t presentRows(const canvas::PixelWord* frameBuffer, std::int32_t first,
                         std::int32_t end) {
    return present(frameBuffer, first, end, true);
}

// The screen saver goes back on before the video system is let go of: the
// output layer cannot reach it afterwards. The window handle is cleared once
// destroyed, so a second close never touches a dead window.
void closeDisplay() {
    Display& d = state().display;
    OutputLayer& o = out();
    if (d.primarySurface) {
        o.releaseSurfaces(d.primarySurface);
        d.primarySurface = 0;
        d.backBuffer = 0;
    }
    if (d.directDraw) {
        o.restoreDisplayMode(d.directDraw);
        o.setNormalCooperativeLevel(d.directDraw, d.window);
        o.releaseDisplayObject(d.directDraw);
        d.directDraw = 0;
    }
    o.destroyWindow(d.window);
    d.window = 0;
    o.setScreenSaverActive(true);
    if (d.displayLibrary) {
        o.freeLibrary(d.displayLibrary);
        d.displayLibrary = 0;
    }
}

std::intptr_t displayWindowProc(const WindowMessage& message) {
    switch (message.kind) {
    case MessageKind::Activate:
        state().display.active = message.wParam;
        state().display.wholeDue = true; // the screen may have changed hands meanwhile
        return 0;
    case MessageKind::SetCursor:
        out().hideCursor();
        return 0;
    case MessageKind::KeyDown:
        if ((message.wParam & 0xFF) == kKeyEscape) closeAndExit();
        return 0; // other keys are not passed on
    case MessageKind::Close:
        closeAndExit();
    default:
        return out().defaultWindowProc(message);
    }
}

} // namespace display
