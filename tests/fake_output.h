// fake_output.h -- a scripted output layer for the display tests: records every
// call, refuses what it is told to, and delivers queued window messages.
#pragma once

#include "display/output.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace fake {

class FakeOutput final : public display::OutputLayer {
  public:
    // The script, set before openDisplay.
    std::set<std::string> failing;        // operation names that fail
    std::set<std::int32_t> refusedDepths; // bits per pixel setDisplayMode refuses
    std::set<display::Arrangement> refusedArrangements;
    display::PixelFormat format{display::kPixelFormatRgb, 32, 0xFF0000, 0xFF00, 0xFF};
    std::int32_t pitch = 0;     // 0: width x bytes per pixel
    std::int32_t failLocks = 0; // the next this many locks fail
    bool loseContents = false;  // the next lock reports the back buffer's contents lost
    std::intptr_t defaultResult = 0;
    std::deque<display::WindowMessage> messages;

    // What happened: one entry per call, e.g. "setDisplayMode 640x480x24".
    std::vector<std::string> calls;
    std::vector<unsigned char> memory; // the back buffer, pitch x height bytes
    std::int32_t height = 0;

    void post(display::MessageKind kind, std::uintptr_t wParam = 0);
    std::int32_t bytesPerPixel() const { return std::int32_t(format.bitCount / 8); }
    std::int32_t rowPitch() const;
    // Calls whose name starts with prefix, in order.
    std::vector<std::string> named(const std::string& prefix) const;

    const char* lastError() override { return "scripted failure"; }
    display::Handle loadLibrary() override;
    bool findCreateEntry(display::Handle library) override;
    display::Handle createDisplayObject() override;
    void registerWindowClass(const char* className, display::WindowProc proc) override;
    display::Handle createWindow(const char* className, const char* title) override;
    bool setExclusiveFullscreen(display::Handle displayObject, display::Handle window) override;
    bool setDisplayMode(display::Handle displayObject, std::int32_t width, std::int32_t height,
                        std::int32_t bitsPerPixel) override;
    display::Handle createSurfaces(display::Handle displayObject,
                                   display::Arrangement arrangement) override;
    display::Handle getBackBuffer(display::Handle primary) override;
    bool getPixelFormat(display::Handle primary, display::PixelFormat& format) override;
    void setScreenSaverActive(bool active) override;
    bool peekMessage(display::Handle window, display::WindowMessage& message) override;
    void restoreSurfaces(display::Handle primary) override;
    bool lockBackBuffer(display::Handle backBuffer, display::LockedSurface& locked) override;
    void unlockBackBuffer(display::Handle backBuffer, void* pixels) override;
    void flip(display::Handle primary) override;
    void setChangedRows(display::Handle backBuffer, std::int32_t first, std::int32_t end) override;
    void hideCursor() override;
    std::intptr_t defaultWindowProc(const display::WindowMessage& message) override;
    void releaseSurfaces(display::Handle primary) override;
    void restoreDisplayMode(display::Handle displayObject) override;
    void setNormalCooperativeLevel(display::Handle displayObject, display::Handle window) override;
    void releaseDisplayObject(display::Handle displayObject) override;
    void destroyWindow(display::Handle window) override;
    void freeLibrary(display::Handle library) override;

  private:
    bool succeeds(const std::string& operation, const std::string& detail = "");
    display::Arrangement arrangement_ = display::Arrangement::TwoBackBuffers;
    std::int32_t width_ = 0;
};

// Installs a FakeOutput as the display's layer, and a sleep handler, a
// before-exit hook ("beforeExit") and an exit handler that record into it;
// the exit handler throws ExitCalled. Restores the real handlers when it goes.
struct ExitCalled {
    int code;
};

class Installed {
  public:
    explicit Installed(FakeOutput& output);
    ~Installed();
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

} // namespace fake
