// sdl_output.cpp -- the output layer over SDL2. The display's mode is never
// changed: a 640 x 480 mode "set" at a bit count is the desktop itself in that
// layout, the window covers one whole display (the primary unless the user
// chose another; a monitor RandR lists where SDL sees fewer), or is a normal
// window, and each frame is shown enlarged by the largest whole factor that
// fits, centred on a black border that is drawn once. The window's
// surface holds the display's own layout (display memory through XShm on
// X11; a texture on Wayland, where SDL has no native framebuffer). On X11
// the server enlarges the frame where its RENDER extension can do so
// exactly; elsewhere this layer does. The
// emulated mode refreshes at 60 Hz whatever the monitor does: frames leave on
// the counter's 60 Hz schedule, and so does each call while the show is away.
#include "platform/sdl_output.h"

#include "display/scale.h"
#include "platform/display_watch.h"
#include "platform/x11_scaler.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using display::Arrangement;
using display::Handle;
using display::MessageKind;
using display::WindowMessage;

constexpr Handle kLibrary = 1;
constexpr Handle kPrimary = 1;
constexpr Handle kBackBuffer = 2;
constexpr std::uint64_t kModeRefreshHz = 60; // a 640 x 480 mode's refresh

Placement placement;

// A display the show can cover: SDL's, or a monitor RandR lists on SDL's
// X screen.
struct Screen {
    SDL_Rect bounds{};        // what the show covers fullscreen
    SDL_Rect usable{};        // where a window may go
    int sdlIndex = 0;         // SDL's display holding it
    bool wholeDisplay = true; // bounds are all of SDL's display
    std::string name;
};

bool isDriver(const char* name);

bool contains(const SDL_Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h;
}

// On one X screen split into monitors SDL 2.26 sees a single display; there
// the monitors count, so the show never sits on the seam.
std::vector<Screen> listScreens() {
    std::vector<Screen> screens;
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
        Screen s;
        s.sdlIndex = i;
        if (SDL_GetDisplayBounds(i, &s.bounds) != 0) continue;
        if (SDL_GetDisplayUsableBounds(i, &s.usable) != 0) s.usable = s.bounds;
        const char* name = SDL_GetDisplayName(i);
        s.name = name ? name : "";
        screens.push_back(s);
    }
    if (!isDriver("x11")) return screens;
    const std::vector<MonitorArea> monitors = x11Monitors();
    if (monitors.size() <= screens.size()) return screens;
    std::vector<Screen> split;
    for (const MonitorArea& m : monitors) {
        Screen s;
        s.bounds = SDL_Rect{m.x, m.y, m.width, m.height};
        s.name = m.name;
        for (const Screen& whole : screens) {
            if (!contains(whole.bounds, m.x + m.width / 2, m.y + m.height / 2)) continue;
            s.sdlIndex = whole.sdlIndex;
            s.wholeDisplay = SDL_RectEquals(&s.bounds, &whole.bounds);
            if (!SDL_IntersectRect(&whole.usable, &s.bounds, &s.usable)) s.usable = s.bounds;
        }
        split.push_back(s);
    }
    return split;
}

// libdecor, which SDL's Wayland driver starts where the compositor draws no
// window decorations, tells standard error each time it finds no plugins;
// there the show simply has none. Its lines are held back while the video
// system starts; every other line is passed on.
bool isDecorationNotice(const char* line) {
    return std::strncmp(line, "Couldn't open plugin directory", 30) == 0 ||
           std::strncmp(line, "No plugins found", 16) == 0;
}

int initVideo() {
    std::fflush(stderr);
    std::FILE* held = std::tmpfile();
    const int saved = held ? dup(STDERR_FILENO) : -1;
    if (saved < 0 || dup2(fileno(held), STDERR_FILENO) < 0) {
        if (saved >= 0) close(saved);
        if (held) std::fclose(held);
        return SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    const int result = SDL_InitSubSystem(SDL_INIT_VIDEO);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(held);
    char line[512];
    while (std::fgets(line, sizeof line, held))
        if (!isDecorationNotice(line)) std::fputs(line, stderr);
    std::fclose(held);
    return result;
}

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

bool isDriver(const char* name) {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && SDL_strcasecmp(driver, name) == 0;
}

// SDL's own code for a key, except that only Escape may read as 27 in its
// low byte (the display looks at the low byte alone).
std::uintptr_t keyCode(SDL_Keycode key) {
    if (key == SDLK_ESCAPE) return display::kKeyEscape;
    const auto code = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(key));
    return (code & 0xFF) == display::kKeyEscape ? 0 : code;
}

// F11, or Alt with Enter: what users of SDL programs expect to switch
// between window and fullscreen.
bool switchesMode(const SDL_Keysym& key) {
    if (key.sym == SDLK_F11) return true;
    return (key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) && (key.mod & KMOD_ALT) != 0;
}

class SdlOutput final : public display::OutputLayer {
  public:
    const char* lastError() override { return error_.c_str(); }

    Handle loadLibrary() override {
        if (!startVideo()) return failed(SDL_GetError());
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
        const std::vector<Screen> screens = listScreens();
        if (screens.empty()) return failed(SDL_GetError());
        if (placement.display < 0 || std::size_t(placement.display) >= screens.size())
            return failed("there is no such display");
        screen_ = screens[std::size_t(placement.display)];
        windowed_ = placement.windowed;
        return Handle(placement.display + 1);
    }

    // SDL names the window's class after the program unless these say
    // otherwise, and reads them when its video system starts, before the
    // class is known here: so it starts again, once, with the class in place.
    // The class is the program's name for the desktop too: sound mixers and
    // screen-saver inhibitors list it, not "SDL Application".
    void registerWindowClass(const char* className, display::WindowProc) override {
        SDL_SetHint(SDL_HINT_APP_NAME, className);
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, className);
        const char* current = std::getenv("SDL_VIDEO_X11_WMCLASS");
        if (current && std::strcmp(current, className) == 0) return;
        setenv("SDL_VIDEO_X11_WMCLASS", className, 1);
        setenv("SDL_VIDEO_WAYLAND_WMCLASS", className, 1);
        if (!videoUp_) return;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        videoUp_ = false;
        if (!startVideo()) failed(SDL_GetError());
    }

    // Hidden and windowed until the mode is known and the surfaces are made.
    Handle createWindow(const char*, const char* title) override {
        window_ = SDL_CreateWindow(title, screen_.bounds.x, screen_.bounds.y, 1, 1,
                                   SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
        if (!window_) return failed(SDL_GetError());
        pending_.push_back(WindowMessage{windowHandle(), MessageKind::SetCursor, 0, 0});
        return windowHandle();
    }

    bool setExclusiveFullscreen(Handle displayObject, Handle window) override {
        if (!displayObject || !window || window != windowHandle())
            return refused("the window was not created");
        return true; // the window covers its display when it is shown
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
        if (backBuffer == kBackBuffer && surface_ && factor_ == 1 && SDL_MUSTLOCK(surface_))
            SDL_UnlockSurface(surface_);
    }

    void flip(Handle primary) override;

    void setChangedRows(Handle backBuffer, std::int32_t first, std::int32_t end) override {
        if (backBuffer != kBackBuffer) return;
        given_ = display::RowSpan{first, end};
        rowsGiven_ = true;
    }

    void hideCursor() override {
        if (videoUp_) SDL_ShowCursor(SDL_DISABLE);
    }

    std::intptr_t defaultWindowProc(const WindowMessage&) override { return 0; }

    // The show steps as when seen, and costs no more: one frame per tick.
    void waitWhileInactive() override { waitForTick(); }

    // The window owns its surface; it goes when the window does.
    void releaseSurfaces(Handle) override {
        surface_ = nullptr;
        scaler_.reset();
        usable_ = false;
        enlarged_.clear();
        shown_.clear();
    }

    // The physical mode was never changed, so there is nothing to put back.
    void restoreDisplayMode(Handle) override {}

    void setNormalCooperativeLevel(Handle, Handle) override {}
    void releaseDisplayObject(Handle) override {}

    void destroyWindow(Handle window) override {
        if (!window_ || window != windowHandle()) return;
        scaler_.reset();
        SDL_DestroyWindow(window_);
        window_ = nullptr;
        surface_ = nullptr;
        usable_ = false;
        enlarged_.clear();
        shown_.clear();
        pending_.clear();
    }

    void freeLibrary(Handle library) override {
        if (library != kLibrary || !videoUp_) return;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        videoUp_ = false;
    }

  private:
    // SDL sometimes fails with an empty message; the user still gets a reason.
    Handle failed(const char* reason) {
        error_ = reason && *reason ? reason : "SDL gave no reason";
        return 0;
    }
    bool refused(const char* reason) {
        failed(reason);
        return false;
    }
    Handle windowHandle() const { return window_ ? Handle(SDL_GetWindowID(window_)) : 0; }

    bool startVideo();
    std::string describeScreen();
    SDL_Rect windowRect() const;
    bool applyMode();
    void switchMode();
    void acquireSurface();
    void placeFrame();
    void translate(const SDL_Event& event, WindowMessage& message);
    void translateWindowEvent(const SDL_WindowEvent& event, WindowMessage& message);
    void waitForTick();
    display::RowSpan enlargeChangedRows();
    display::RowSpan enlargeRows(display::RowSpan rows);
    void startScaler();
    void sendScaled(display::RowSpan rows);
    bool waylandLost();

    std::string error_;
    bool videoUp_ = false;
    SDL_Window* window_ = nullptr;
    bool textureBacked_ = false; // no native framebuffer: SDL backs the surface with a texture
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    SDL_Surface* surface_ = nullptr;
    std::uint32_t surfaceFormat_ = 0; // the layout the converter was chosen for
    bool lonePrimary_ = false;
    bool usable_ = false;
    bool stale_ = false;
    bool borderShown_ = false; // the whole surface reached the screen once
    bool lost_ = false;        // the back buffer lost what was written into it
    bool rowsGiven_ = false;   // given_ names the rows written since the last flip
    display::RowSpan given_;
    std::int32_t factor_ = 1;             // each frame pixel is factor_ x factor_ on screen
    SDL_Rect picture_{};                  // where the enlarged frame lies on the surface
    std::vector<unsigned char> enlarged_; // the back buffer when factor_ > 1
    std::vector<unsigned char> shown_;    // what the surface holds enlarged; empty: unknown
    std::unique_ptr<X11Scaler> scaler_;   // the X server enlarges the frame instead
    std::deque<WindowMessage> pending_;
    Screen screen_;                   // where the show appears
    bool windowed_ = false;           // in a normal window rather than fullscreen
    SDL_Rect windowedRect_{};         // the window's place when it last was one
    std::uint64_t scheduleStart_ = 0; // counter value where the 60 Hz ticks began
    std::uint64_t ticks_ = 0;         // ticks since then
};

// SDL's Wayland driver reports a failed connection as a quit request.
bool SdlOutput::waylandLost() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window_ || !SDL_GetWindowWMInfo(window_, &info) || info.subsystem != SDL_SYSWM_WAYLAND)
        return false;
    return waylandConnectionLost(info.info.wl.display);
}

// SDL's X11 driver gets handlers that end the program in one line when the
// window or the server goes; Wayland's driver has no native framebuffer, so
// there (only) SDL may back the window surface with a texture, whose updates
// wait for the compositor's refresh.
bool SdlOutput::startVideo() {
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_OVERRIDE);
    if (initVideo() != 0) return false;
    videoUp_ = true;
    textureBacked_ = isDriver("wayland");
    if (textureBacked_) {
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "1", SDL_HINT_OVERRIDE);
        SDL_SetHintWithPriority(SDL_HINT_RENDER_VSYNC, "1", SDL_HINT_OVERRIDE);
    }
    if (isDriver("x11")) watchX11Connection();
    return true;
}

// What the screen is, for the reason given when no mode fits.
std::string SdlOutput::describeScreen() {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(screen_.sdlIndex, &mode) != 0) return SDL_GetError();
    const std::string size = std::to_string(mode.w) + "x" + std::to_string(mode.h);
    if (mode.format == SDL_PIXELFORMAT_UNKNOWN)
        return "the screen is " + size + " in a pixel layout SDL cannot draw";
    return "the screen is " + size + " at " + std::to_string(SDL_BITSPERPIXEL(mode.format)) +
           " bits per pixel";
}

// The mode is emulated: it "exists" when the display is at least that large
// (or the show is in a window) and its own layout has that bit count, so the
// 32, 24, 16 order still settles on the display's layout.
bool SdlOutput::setDisplayMode(Handle, std::int32_t width, std::int32_t height,
                               std::int32_t bitsPerPixel) {
    if (!window_) return refused("the window was not created");
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(screen_.sdlIndex, &desktop) != 0) return refused(SDL_GetError());
    const SDL_Rect& bounds = screen_.bounds;
    if ((!windowed_ && (bounds.w < width || bounds.h < height)) ||
        bitCountOf(desktop.format) != std::uint32_t(bitsPerPixel))
        return refused(describeScreen().c_str());
    width_ = width;
    height_ = height;
    windowedRect_ = windowRect();
    return true;
}

// At first the largest whole multiple of the frame that fits the display's
// usable area, centred there.
SDL_Rect SdlOutput::windowRect() const {
    const SDL_Rect& area = screen_.usable;
    const std::int32_t k =
        std::max<std::int32_t>(1, display::wholeScaleFactor(area.w, area.h, width_, height_));
    const int w = width_ * k, h = height_ * k;
    return SDL_Rect{area.x + std::max(0, (area.w - w) / 2), area.y + std::max(0, (area.h - h) / 2),
                    w, h};
}

// Fullscreen covers the display (without a window manager nobody else gives
// the window its place); a monitor that is only part of SDL's display gets a
// borderless window over its rectangle. A window is never smaller than the
// frame.
bool SdlOutput::applyMode() {
    if (windowed_) {
        if (SDL_SetWindowFullscreen(window_, 0) != 0) return false;
        SDL_SetWindowBordered(window_, SDL_TRUE);
        SDL_SetWindowResizable(window_, SDL_TRUE);
        SDL_SetWindowMinimumSize(window_, width_, height_);
        SDL_SetWindowSize(window_, windowedRect_.w, windowedRect_.h);
        SDL_SetWindowPosition(window_, windowedRect_.x, windowedRect_.y);
        return true;
    }
    const SDL_Rect& bounds = screen_.bounds;
    SDL_SetWindowResizable(window_, SDL_FALSE);
    SDL_SetWindowPosition(window_, bounds.x, bounds.y);
    SDL_SetWindowSize(window_, bounds.w, bounds.h);
    if (screen_.wholeDisplay)
        return SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
    SDL_SetWindowBordered(window_, SDL_FALSE);
    return true;
}

// F11 and Alt+Enter: between window and fullscreen. The surface is taken
// again, and the frame re-fitted, before the next frame is drawn.
void SdlOutput::switchMode() {
    if (!surface_) return;
    if (windowed_) {
        SDL_GetWindowPosition(window_, &windowedRect_.x, &windowedRect_.y);
        SDL_GetWindowSize(window_, &windowedRect_.w, &windowedRect_.h);
    }
    windowed_ = !windowed_;
    applyMode();
    stale_ = true;
}

// SDL's window surface is a front surface with exactly one back buffer.
Handle SdlOutput::createSurfaces(Handle displayObject, Arrangement arrangement) {
    if (!displayObject || !window_ || !width_) return failed("no display mode is set");
    if (arrangement == Arrangement::TwoBackBuffers)
        return failed("the window surface has one back buffer, not two");
    if (!applyMode()) return failed(SDL_GetError());
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
// The surface is cleared to black here and shown whole by the next flip;
// later flips send only the picture's area.
void SdlOutput::acquireSurface() {
    surface_ = SDL_GetWindowSurface(window_);
    usable_ = surface_ && surface_->format->format == surfaceFormat_ && surface_->w >= width_ &&
              surface_->h >= height_;
    if (surface_) SDL_FillRect(surface_, nullptr, SDL_MapRGB(surface_->format, 0, 0, 0));
    borderShown_ = false;
    lost_ = true;
    if (usable_) placeFrame();
}

// The largest whole enlargement that fits, centred. At factor 1 the frame is
// converted straight into the surface; larger, into a buffer of its own
// that the flip enlarges onto the surface.
void SdlOutput::placeFrame() {
    factor_ = display::wholeScaleFactor(surface_->w, surface_->h, width_, height_);
    picture_.w = width_ * factor_;
    picture_.h = height_ * factor_;
    picture_.x = (surface_->w - picture_.w) / 2;
    picture_.y = (surface_->h - picture_.h) / 2;
    const std::size_t bytes =
        std::size_t(width_) * std::size_t(height_) * surface_->format->BytesPerPixel;
    enlarged_.assign(factor_ > 1 ? bytes : 0, 0);
    shown_.clear();
    startScaler();
}

// On X11 the server enlarges the frame where it can: the rows then travel
// at the frame's own size. The surface still gives the layout and the border.
void SdlOutput::startScaler() {
    scaler_.reset();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (factor_ < 2 || !SDL_GetWindowWMInfo(window_, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    scaler_ = X11Scaler::create(info.info.x11.display, info.info.x11.window, width_, height_,
                                surface_->format->BytesPerPixel, factor_);
}

bool SdlOutput::lockBackBuffer(Handle backBuffer, display::LockedSurface& locked) {
    if (backBuffer != kBackBuffer || !surface_ || !usable_) return false;
    locked.contentsLost = lost_;
    lost_ = false;
    const int bytesPerPixel = surface_->format->BytesPerPixel;
    if (factor_ > 1) {
        locked.pixels = enlarged_.data();
        locked.pitch = width_ * bytesPerPixel;
        return true;
    }
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return false;
    locked.pixels = static_cast<unsigned char*>(surface_->pixels) +
                    std::ptrdiff_t(picture_.y) * surface_->pitch +
                    std::ptrdiff_t(picture_.x) * bytesPerPixel;
    locked.pitch = surface_->pitch;
    return true;
}

// Enlarged, only the rows that differ from the frame the surface already
// holds are enlarged and sent: where the show stands still (the background
// between a lyric and the moose) the surface keeps its bytes, and a frame
// equal to the last sends nothing.
void SdlOutput::flip(Handle primary) {
    if (primary != kPrimary || !window_) return;
    display::RowSpan rows = rowsGiven_ ? given_ : display::RowSpan{0, height_};
    if (usable_ && factor_ > 1 && rowsGiven_) {
        shown_.clear(); // from here on unknown: the display says what changed
        const bool wanted = rows.first < rows.end;
        rows = enlargeRows(rows);
        if (wanted && rows.first == rows.end) lost_ = true; // the next frame goes whole
    } else if (usable_ && factor_ > 1) {
        rows = enlargeChangedRows();
    }
    rowsGiven_ = false;
    const bool send = !borderShown_ || !surface_ || rows.first < rows.end;
    waitForTick();
    if (!send) return;
    if (scaler_ && usable_) {
        sendScaled(rows);
        return;
    }
    const SDL_Rect whole{0, 0, surface_ ? surface_->w : 0, surface_ ? surface_->h : 0};
    const SDL_Rect band{picture_.x, picture_.y + rows.first * factor_, picture_.w,
                        (rows.end - rows.first) * factor_};
    const SDL_Rect& area = !borderShown_ || !surface_ ? whole : band;
    if (SDL_UpdateWindowSurfaceRects(window_, &area, 1) != 0) {
        stale_ = true;
        shown_.clear();
    } else {
        borderShown_ = true;
    }
}

// The border goes from the surface, which holds it black; the picture
// (whole after the border, as the window lost what it showed) from the
// back buffer through the server.
void SdlOutput::sendScaled(display::RowSpan rows) {
    if (!borderShown_) {
        const SDL_Rect& p = picture_;
        const int w = surface_->w, h = surface_->h;
        const SDL_Rect sides[] = {{0, 0, w, p.y},
                                  {0, p.y + p.h, w, h - p.y - p.h},
                                  {0, p.y, p.x, p.h},
                                  {p.x + p.w, p.y, w - p.x - p.w, p.h}};
        SDL_Rect border[4];
        int count = 0;
        for (const SDL_Rect& r : sides)
            if (r.w > 0 && r.h > 0) border[count++] = r;
        if (count > 0 && SDL_UpdateWindowSurfaceRects(window_, border, count) != 0) {
            stale_ = true;
            shown_.clear();
            return;
        }
        borderShown_ = true;
        rows = display::RowSpan{0, height_};
    }
    const std::int32_t pitch = width_ * surface_->format->BytesPerPixel;
    scaler_->present(enlarged_.data(), pitch, rows.first, rows.end, picture_.x, picture_.y);
}

// Enlarges the rows of the back buffer that differ from shown_ (all of them
// when shown_ is unknown) onto the surface and remembers them.
display::RowSpan SdlOutput::enlargeChangedRows() {
    const std::int32_t pitch = width_ * surface_->format->BytesPerPixel;
    display::RowSpan rows{0, height_};
    if (shown_.size() == enlarged_.size())
        rows = display::changedRows(enlarged_.data(), shown_.data(), pitch, pitch, height_);
    rows = enlargeRows(rows);
    if (rows.first == rows.end) return rows;
    const std::ptrdiff_t from = std::ptrdiff_t(rows.first) * pitch;
    shown_.resize(enlarged_.size());
    std::memcpy(shown_.data() + from, enlarged_.data() + from,
                std::size_t(rows.end - rows.first) * std::size_t(pitch));
    return rows;
}

// Enlarges rows of the back buffer onto the surface. Gives the rows that
// went, none when the surface could not be locked.
display::RowSpan SdlOutput::enlargeRows(display::RowSpan rows) {
    const int bytesPerPixel = surface_->format->BytesPerPixel;
    const std::int32_t pitch = width_ * bytesPerPixel;
    if (rows.first >= rows.end) return {0, 0};
    if (scaler_) return rows; // the server enlarges them as they are sent
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return {0, 0};
    auto* target = static_cast<unsigned char*>(surface_->pixels) +
                   std::ptrdiff_t(picture_.y + rows.first * factor_) * surface_->pitch +
                   std::ptrdiff_t(picture_.x) * bytesPerPixel;
    const std::ptrdiff_t from = std::ptrdiff_t(rows.first) * pitch;
    display::scaleFrame(enlarged_.data() + from, pitch, width_, rows.end - rows.first,
                        bytesPerPixel, factor_, target, surface_->pitch);
    if (SDL_MUSTLOCK(surface_)) SDL_UnlockSurface(surface_);
    return rows;
}

// Like a flipping chain on a 60 Hz mode: a new frame waits for the next
// tick. The ticks follow the counter (a rounded period would drift), and a
// caller that fell more than a tick behind starts a fresh schedule. Where the
// driver then also waits for the compositor's refresh, the frame has still
// left on this schedule.
void SdlOutput::waitForTick() {
    const std::uint64_t frequency = SDL_GetPerformanceFrequency();
    const auto tickAt = [&](std::uint64_t n) {
        return scheduleStart_ + n * (frequency / kModeRefreshHz) +
               n * (frequency % kModeRefreshHz) / kModeRefreshHz;
    };
    const std::uint64_t now = SDL_GetPerformanceCounter();
    const std::uint64_t next = tickAt(ticks_ + 1);
    if (scheduleStart_ == 0 || now > tickAt(ticks_ + 2)) {
        scheduleStart_ = now;
        ticks_ = 0;
        return;
    }
    ++ticks_;
    if (now < next) {
        const double seconds = double(next - now) / double(frequency);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
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
        if (textureBacked_ && waylandLost()) endWithLostDisplay("the Wayland compositor is gone");
        message.kind = MessageKind::Close;
        return;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (event.type == SDL_KEYDOWN && !event.key.repeat && switchesMode(event.key.keysym))
            switchMode();
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
        // What the screen held while the show was away is not trusted: the
        // display restores the surfaces before it draws again.
        stale_ = true;
        message.kind = MessageKind::Activate;
        message.wParam = 1;
        return;
    case SDL_WINDOWEVENT_EXPOSED: // the border is sent again with the next frame
        borderShown_ = false;
        return;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        if (windowed_) return; // a window in sight goes on while the user types elsewhere
        [[fallthrough]];
    case SDL_WINDOWEVENT_HIDDEN:
    case SDL_WINDOWEVENT_MINIMIZED:
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

void setPlacement(const Placement& chosen) {
    placement = chosen;
}

// The stand-in drivers that SDL picks where there is no display have nothing
// to choose from: opening the display will say so.
std::string checkDisplayNumber(int display) {
    if (initVideo() != 0) return {};
    const char* driver = SDL_GetCurrentVideoDriver();
    std::string line;
    const std::vector<Screen> screens =
        driver && isStandInDriver(driver) && !namedInEnvironment(driver) ? std::vector<Screen>{}
                                                                         : listScreens();
    if (!screens.empty() && (display < 0 || std::size_t(display) >= screens.size())) {
        line = "kva: there is no display " + std::to_string(display) + "; the displays are ";
        for (std::size_t i = 0; i < screens.size(); ++i) {
            const SDL_Rect& b = screens[i].bounds;
            line += (i ? ", " : "") + std::to_string(i) + " (" +
                    (screens[i].name.empty() ? "" : screens[i].name + ", ") + std::to_string(b.w) +
                    "x" + std::to_string(b.h) + " at " + std::to_string(b.x) + "," +
                    std::to_string(b.y) + (i == 0 ? ", primary)" : ")");
        }
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return line;
}

display::OutputLayer& sdlOutputLayer() {
    static SdlOutput layer;
    return layer;
}

} // namespace platform
