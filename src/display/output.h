// output.h -- the output layer the display logic runs on: exclusive fullscreen,
// a display mode, a surface chain with a back buffer, lock/unlock/flip, window
// messages, the cursor and the screen saver. The SDL2 layer and the tests'
// scripted fake implement it.
#pragma once

#include <cstdint>

namespace display {

// Opaque handles handed out by the layer; 0 means none.
using Handle = std::uintptr_t;

// The surface chains the display asks for, in the order it tries them.
enum class Arrangement : std::int32_t {
    TwoBackBuffers, // front surface and two back buffers
    OneBackBuffer,  // front surface and one back buffer
    LonePrimary,    // a front surface with no back buffer
};

inline constexpr std::uint32_t kPixelFormatRgb = 0x40;

// The back buffer's layout: a bit count that is bytes per pixel x 8 (so 5-5-5
// counts as 16) and the colour masks; flags carry kPixelFormatRgb when the
// pixels are direct RGB (not palettized, not unknown).
struct PixelFormat {
    std::uint32_t flags = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;
};

// What a lock hands out: the address of the top row and the bytes from one
// row's start to the next.
// contentsLost: what the display wrote into the back buffer before is gone
// (a surface made or taken anew), so every row must be written again.
struct LockedSurface {
    void* pixels = nullptr;
    std::int32_t pitch = 0;
    bool contentsLost = false;
};

enum class MessageKind : std::int32_t {
    Activate,  // wParam: non-zero when the application became active
    SetCursor, // the pointer is over the window
    KeyDown,   // wParam: key code; 27 is Escape and nothing else is
    KeyUp,     // wParam: key code
    Close,     // a close request for the window
    Other,     // anything else the layer reports
};

inline constexpr std::uintptr_t kKeyEscape = 27;

struct WindowMessage {
    Handle window = 0;
    MessageKind kind = MessageKind::Other;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

using WindowProc = std::intptr_t (*)(const WindowMessage& message);

// Operations in the order the display first uses them. bool results are
// success; Handle results are 0 on failure. The display never looks at the
// results of the void operations, so a layer reports nothing from them.
class OutputLayer {
  public:
    virtual ~OutputLayer() = default;

    // Why the last failing operation failed, for the one line on standard error.
    virtual const char* lastError() = 0;

    virtual Handle loadLibrary() = 0;
    virtual bool findCreateEntry(Handle library) = 0;
    virtual Handle createDisplayObject() = 0;
    virtual void registerWindowClass(const char* className, WindowProc proc) = 0;
    virtual Handle createWindow(const char* className, const char* title) = 0;
    virtual bool setExclusiveFullscreen(Handle displayObject, Handle window) = 0;
    virtual bool setDisplayMode(Handle displayObject, std::int32_t width, std::int32_t height,
                                std::int32_t bitsPerPixel) = 0;
    virtual Handle createSurfaces(Handle displayObject, Arrangement arrangement) = 0;
    virtual Handle getBackBuffer(Handle primary) = 0;
    virtual bool getPixelFormat(Handle primary, PixelFormat& format) = 0;
    virtual void setScreenSaverActive(bool active) = 0;

    // Takes the next message for window into message; false when there is none.
    virtual bool peekMessage(Handle window, WindowMessage& message) = 0;
    virtual void restoreSurfaces(Handle primary) = 0;
    virtual bool lockBackBuffer(Handle backBuffer, LockedSurface& locked) = 0;
    virtual void unlockBackBuffer(Handle backBuffer, void* pixels) = 0;
    virtual void flip(Handle primary) = 0;
    // Said before a flip when only rows [first, end) of the back buffer were
    // written since the last flip (first == end: none, the screen keeps its
    // picture). A layer may then send those rows alone; without it, a flip
    // stands for the whole back buffer. The flip paces all the same.
    virtual void setChangedRows(Handle /*backBuffer*/, std::int32_t /*first*/,
                                std::int32_t /*end*/) {}
    virtual void hideCursor() = 0;
    virtual std::intptr_t defaultWindowProc(const WindowMessage& message) = 0;
    // What presenting does instead of drawing while the application is not
    // active; by default it sleeps 1 ms.
    virtual void waitWhileInactive();

    virtual void releaseSurfaces(Handle primary) = 0;
    virtual void restoreDisplayMode(Handle displayObject) = 0;
    virtual void setNormalCooperativeLevel(Handle displayObject, Handle window) = 0;
    virtual void releaseDisplayObject(Handle displayObject) = 0;
    virtual void destroyWindow(Handle window) = 0;
    virtual void freeLibrary(Handle library) = 0;
};

// The layer the display uses from the next openDisplay on; nullptr puts back
// the platform's own. Returns the previous one.
OutputLayer* setOutputLayer(OutputLayer* layer);

} // namespace display
