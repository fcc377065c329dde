// sdl_output.cpp -- the output layer over SDL2: a fullscreen window whose
// native surface (display memory in the display's own layout) is the back
// buffer, presented with SDL_UpdateWindowSurface at most once per refresh.
#include "platform/sdl_output.h"

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

namespace platform {
namespace {

using display::Arrangement;
using display::Handle;
using display::MessageKind;
using display::WindowMessage;

constexpr Handle kLibrary = 1;
constexpr Handle kPrimary = 1;
constexpr Handle kBackBuffer = 2;
constexpr int kDefaultRefreshHz = 60;

std::uint32_t bitCountOf(std::uint32_t format) {
    return SDL_BYTESPERPIXEL(format) * 8u;
}

// SDL's stand-in drivers draw nowhere; with no X11 or Wayland display SDL
// picks one silently, so they are used only when asked for by name.
bool namedInEnvironment(const char* driver) {
    const char* wanted = std::getenv("SDL_VIDEODRIVER");
    if (!wanted) return false;
    const std::size_t length = std::strlen(driver);
    for (const char* p = wanted; *p;) {
        const char* end = std::strchr(p, ',');
        const std::size_t n = end ? std::size_t(end - p) : std::strlen(p);
        if (n == length && SDL_strncasecmp(p, driver, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

bool isStandInDriver(const char* driver) {
    return SDL_strcasecmp(driver, "dummy") == 0 || SDL_strcasecmp(driver, "offscreen") == 0;
}

// SDL's own code for a key, except that only Escape may read as 27 in its
// low byte (the display looks at the low byte alone).
std::uintptr_t keyCode(SDL_Keycode key) {
    if (key == SDLK_ESCAPE) return display::kKeyEscape;
    const auto code = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(key));
    return (code & 0xFF) == display::kKeyEscape ? 0 : code;
}

class SdlOutput final : public display::OutputLayer {
  public:
    const char* lastError() override { return error_.c_str(); }

    Handle loadLibrary() override {
        // The display's own layout, not a texture that is always 32-bit.
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_OVERRIDE);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return failed(SDL_GetError());
        videoUp_ = true;
        return kLibrary;
    }

    bool findCreateEntry(Handle library) override {
        const char* driver = library == kLibrary ? SDL_GetCurrentVideoDriver() : nullptr;
        if (!driver) return refused("no video driver is running");
        if (isStandInDriver(driver) && !namedInEnvironment(driver)) {
            error_ = std::string("no X11 or Wayland display found (SDL offers only its \"") +
                     driver + "\" driver)";
            return false;
        }
        return true;
    }

    Handle createDisplayObject() override {
        if (SDL_GetNumVideoDisplays() < 1) return failed(SDL_GetError());
        return Handle(kDisplayIndex + 1);
    }

    // SDL names the window's class after the program unless these say
    // otherwise, and reads them when its video system starts, before the
    // class is known here: so it starts again, once, with the class in place.
    void registerWindowClass(const char* className, display::WindowProc) override {
        const char* current = std::getenv("SDL_VIDEO_X11_WMCLASS");
        if (current && std::strcmp(current, className) == 0) return;
        setenv("SDL_VIDEO_X11_WMCLASS", className, 1);
        setenv("SDL_VIDEO_WAYLAND_WMCLASS", className, 1);
        if (!videoUp_) return;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        videoUp_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (!videoUp_) failed(SDL_GetError());
    }

    // Hidden and windowed until the mode is known and the surfaces are made.
    Handle createWindow(const char*, const char* title) override {
        window_ = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                   SDL_WINDOW_HIDDEN);
        if (!window_) return failed(SDL_GetError());
        pending_.push_back(WindowMessage{windowHandle(), MessageKind::SetCursor, 0, 0});
        return windowHandle();
    }

    bool setExclusiveFullscreen(Handle displayObject, Handle window) override {
        if (!displayObject || !window || window != windowHandle())
            return refused("the window was not created");
        return true; // the window goes fullscreen when it is shown, in the chosen mode
    }

    bool setDisplayMode(Handle, std::int32_t width, std::int32_t height,
                        std::int32_t bitsPerPixel) override;
    Handle createSurfaces(Handle displayObject, Arrangement arrangement) override;

    Handle getBackBuffer(Handle primary) override {
        if (primary != kPrimary || !surface_) return failed("there is no surface");
        if (lonePrimary_) return failed("the surface has no back buffer");
        return kBackBuffer;
    }

    bool getPixelFormat(Handle primary, display::PixelFormat& format) override {
        if (primary != kPrimary || !surface_) return refused("there is no surface");
        const SDL_PixelFormat* f = surface_->format;
        const bool direct = f->format != SDL_PIXELFORMAT_UNKNOWN &&
                            !SDL_ISPIXELFORMAT_INDEXED(f->format) &&
                            !SDL_ISPIXELFORMAT_FOURCC(f->format);
        format.flags = direct ? display::kPixelFormatRgb : 0;
        format.bitCount = f->BytesPerPixel * 8u;
        format.redMask = f->Rmask;
        format.greenMask = f->Gmask;
        format.blueMask = f->Bmask;
        return true;
    }

    void setScreenSaverActive(bool active) override {
        if (!videoUp_) return;
        if (active)
            SDL_EnableScreenSaver();
        else
            SDL_DisableScreenSaver();
    }

    bool peekMessage(Handle window, WindowMessage& message) override;

    void restoreSurfaces(Handle primary) override {
        if (primary != kPrimary || !window_ || !stale_) return;
        stale_ = false;
        acquireSurface();
    }

    bool lockBackBuffer(Handle backBuffer, display::LockedSurface& locked) override;

    void unlockBackBuffer(Handle backBuffer, void*) override {
        if (backBuffer == kBackBuffer && surface_ && SDL_MUSTLOCK(surface_))
            SDL_UnlockSurface(surface_);
    }

    void flip(Handle primary) override {
        if (primary != kPrimary || !window_) return;
        waitForRefresh();
        if (SDL_UpdateWindowSurface(window_) != 0) stale_ = true;
    }

    void hideCursor() override {
        if (videoUp_) SDL_ShowCursor(SDL_DISABLE);
    }

    std::intptr_t defaultWindowProc(const WindowMessage&) override { return 0; }

    // The window owns its surface; it goes when the window does.
    void releaseSurfaces(Handle) override {
        surface_ = nullptr;
        usable_ = false;
    }

    void restoreDisplayMode(Handle) override {
        if (window_) SDL_SetWindowFullscreen(window_, 0);
    }

    void setNormalCooperativeLevel(Handle, Handle) override {}
    void releaseDisplayObject(Handle) override {}

    void destroyWindow(Handle window) override {
        if (!window_ || window != windowHandle()) return;
        SDL_DestroyWindow(window_);
        window_ = nullptr;
        surface_ = nullptr;
        usable_ = false;
        pending_.clear();
    }

    void freeLibrary(Handle library) override {
        if (library != kLibrary || !videoUp_) return;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        videoUp_ = false;
    }

  private:
    static constexpr int kDisplayIndex = 0;

    Handle failed(const char* reason) {
        error_ = reason ? reason : "unknown error";
        return 0;
    }
    bool refused(const char* reason) {
        failed(reason);
        return false;
    }
    Handle windowHandle() const { return window_ ? Handle(SDL_GetWindowID(window_)) : 0; }

    bool findMode(std::int32_t width, std::int32_t height, std::int32_t bits,
                  SDL_DisplayMode& mode);
    std::string describeScreen();
    void acquireSurface();
    void translate(const SDL_Event& event, WindowMessage& message);
    void translateWindowEvent(const SDL_WindowEvent& event, WindowMessage& message);
    void waitForRefresh();

    std::string error_;
    bool videoUp_ = false;
    SDL_Window* window_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    SDL_Surface* surface_ = nullptr;
    std::uint32_t surfaceFormat_ = 0; // the layout the converter was chosen for
    bool lonePrimary_ = false;
    bool usable_ = false;
    bool stale_ = false;
    std::deque<WindowMessage> pending_;
    std::uint64_t period_ = 0; // counter ticks per refresh
    std::uint64_t nextFlip_ = 0;
};

// A mode of exactly the asked size and depth; failing that, the desktop's own
// mode when it is at least that large in that depth (the frame is then shown
// centred on black), since most displays no longer switch to 640 x 480.
bool SdlOutput::findMode(std::int32_t width, std::int32_t height, std::int32_t bits,
                         SDL_DisplayMode& mode) {
    const int count = SDL_GetNumDisplayModes(kDisplayIndex);
    for (int i = 0; i < count; ++i) {
        if (SDL_GetDisplayMode(kDisplayIndex, i, &mode) != 0) continue;
        if (mode.w == width && mode.h == height && bitCountOf(mode.format) == std::uint32_t(bits))
            return true;
    }
    if (SDL_GetDesktopDisplayMode(kDisplayIndex, &mode) != 0) return false;
    return mode.w >= width && mode.h >= height && bitCountOf(mode.format) == std::uint32_t(bits);
}

// What the screen is, for the reason given when no mode fits.
std::string SdlOutput::describeScreen() {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(kDisplayIndex, &mode) != 0) return SDL_GetError();
    const std::string size = std::to_string(mode.w) + "x" + std::to_string(mode.h);
    if (mode.format == SDL_PIXELFORMAT_UNKNOWN)
        return "the screen is " + size + " in a pixel layout SDL cannot draw";
    return "the screen is " + size + " at " + std::to_string(SDL_BITSPERPIXEL(mode.format)) +
           " bits per pixel";
}

bool SdlOutput::setDisplayMode(Handle, std::int32_t width, std::int32_t height,
                               std::int32_t bitsPerPixel) {
    SDL_DisplayMode mode;
    if (!window_) return refused("the window was not created");
    if (!findMode(width, height, bitsPerPixel, mode)) return refused(describeScreen().c_str());
    if (SDL_SetWindowDisplayMode(window_, &mode) != 0) return refused(SDL_GetError());
    // Without a window manager nobody else gives the window the screen's size.
    SDL_SetWindowSize(window_, mode.w, mode.h);
    SDL_SetWindowPosition(window_, 0, 0);
    width_ = width;
    height_ = height;
    const int hz = mode.refresh_rate > 0 ? mode.refresh_rate : kDefaultRefreshHz;
    period_ = SDL_GetPerformanceFrequency() / std::uint64_t(hz);
    return true;
}

// SDL's window surface is a front surface with exactly one back buffer.
Handle SdlOutput::createSurfaces(Handle displayObject, Arrangement arrangement) {
    if (!displayObject || !window_ || !width_) return failed("no display mode is set");
    if (arrangement == Arrangement::TwoBackBuffers)
        return failed("the window surface has one back buffer, not two");
    if (SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) != 0) return failed(SDL_GetError());
    SDL_ShowWindow(window_);
    surface_ = SDL_GetWindowSurface(window_);
    if (!surface_) return failed(SDL_GetError());
    surfaceFormat_ = surface_->format->format;
    lonePrimary_ = arrangement == Arrangement::LonePrimary;
    acquireSurface();
    return kPrimary;
}

// SDL replaces the window surface after a size change; a replacement in
// another layout than the converter's, or too small for the frame, is not drawn.
void SdlOutput::acquireSurface() {
    surface_ = SDL_GetWindowSurface(window_);
    usable_ = surface_ && surface_->format->format == surfaceFormat_ && surface_->w >= width_ &&
              surface_->h >= height_;
    if (surface_) SDL_FillRect(surface_, nullptr, SDL_MapRGB(surface_->format, 0, 0, 0));
}

// Hands out the centred width x height area; the border stays black.
bool SdlOutput::lockBackBuffer(Handle backBuffer, display::LockedSurface& locked) {
    if (backBuffer != kBackBuffer || !surface_ || !usable_) return false;
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return false;
    const int left = (surface_->w - width_) / 2;
    const int top = (surface_->h - height_) / 2;
    locked.pixels = static_cast<unsigned char*>(surface_->pixels) +
                    std::ptrdiff_t(top) * surface_->pitch +
                    std::ptrdiff_t(left) * surface_->format->BytesPerPixel;
    locked.pitch = surface_->pitch;
    return true;
}

// Like a flipping chain: a new frame waits for the next refresh. A caller
// that fell more than a refresh behind starts a fresh schedule.
void SdlOutput::waitForRefresh() {
    std::uint64_t now = SDL_GetPerformanceCounter();
    if (nextFlip_ != 0 && now < nextFlip_) {
        const double seconds = double(nextFlip_ - now) / double(SDL_GetPerformanceFrequency());
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        now = nextFlip_;
    }
    nextFlip_ = (nextFlip_ == 0 || now > nextFlip_ + period_) ? now + period_ : nextFlip_ + period_;
}

bool SdlOutput::peekMessage(Handle window, WindowMessage& message) {
    if (!window_ || window != windowHandle()) return false;
    if (!pending_.empty()) {
        message = pending_.front();
        pending_.pop_front();
        return true;
    }
    SDL_Event event;
    if (SDL_PollEvent(&event) == 0) return false;
    message = WindowMessage{window, MessageKind::Other, 0, 0};
    translate(event, message);
    return true;
}

void SdlOutput::translate(const SDL_Event& event, WindowMessage& message) {
    switch (event.type) {
    case SDL_QUIT: // also what SIGINT and SIGTERM become
        message.kind = MessageKind::Close;
        return;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        message.kind = event.type == SDL_KEYDOWN ? MessageKind::KeyDown : MessageKind::KeyUp;
        message.wParam = keyCode(event.key.keysym.sym);
        return;
    case SDL_WINDOWEVENT:
        translateWindowEvent(event.window, message);
        return;
    default:
        return;
    }
}

void SdlOutput::translateWindowEvent(const SDL_WindowEvent& event, WindowMessage& message) {
    switch (event.event) {
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        message.kind = MessageKind::Activate;
        message.wParam = 1;
        return;
    case SDL_WINDOWEVENT_HIDDEN:
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_FOCUS_LOST:
        message.kind = MessageKind::Activate;
        message.wParam = 0;
        return;
    case SDL_WINDOWEVENT_ENTER:
        message.kind = MessageKind::SetCursor;
        return;
    case SDL_WINDOWEVENT_CLOSE:
        message.kind = MessageKind::Close;
        return;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESIZED:
        stale_ = true;
        return;
    default:
        return;
    }
}

} // namespace

display::OutputLayer& sdlOutputLayer() {
    static SdlOutput layer;
    return layer;
}

} // namespace platform
