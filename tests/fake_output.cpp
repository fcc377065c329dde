// fake_output.cpp -- the scripted output layer and its installer.
#include "fake_output.h"

#include "display/display.h"
#include "platform/platform.h"

#include <algorithm>

namespace fake {
namespace {

constexpr display::Handle kLibrary = 11, kDirectDraw = 12, kWindow = 13, kPrimary = 14,
                          kBackBuffer = 15;

FakeOutput* current = nullptr;
bool hookAdded = false; // hooks cannot be taken back, so one serves every test

void recordBeforeExit() {
    if (current) current->calls.push_back("beforeExit");
}

void recordSleep(std::uint32_t milliseconds) {
    if (current) current->calls.push_back("sleep " + std::to_string(milliseconds));
}

void throwExit(int code) {
    if (current) current->calls.push_back("exit " + std::to_string(code));
    throw ExitCalled{code};
}

const char* arrangementName(display::Arrangement a) {
    switch (a) {
    case display::Arrangement::TwoBackBuffers:
        return "two";
    case display::Arrangement::OneBackBuffer:
        return "one";
    default:
        return "lone";
    }
}

} // namespace

void FakeOutput::post(display::MessageKind kind, std::uintptr_t wParam) {
    messages.push_back(display::WindowMessage{kWindow, kind, wParam, 0});
}

std::int32_t FakeOutput::rowPitch() const {
    return pitch ? pitch : width_ * bytesPerPixel();
}

std::vector<std::string> FakeOutput::named(const std::string& prefix) const {
    std::vector<std::string> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    return out;
}

bool FakeOutput::succeeds(const std::string& operation, const std::string& detail) {
    calls.push_back(detail.empty() ? operation : operation + " " + detail);
    return failing.count(operation) == 0;
}

display::Handle FakeOutput::loadLibrary() {
    return succeeds("loadLibrary") ? kLibrary : 0;
}
bool FakeOutput::findCreateEntry(display::Handle library) {
    return succeeds("findCreateEntry") && library == kLibrary;
}
display::Handle FakeOutput::createDisplayObject() {
    return succeeds("createDisplayObject") ? kDirectDraw : 0;
}
void FakeOutput::registerWindowClass(const char* className, display::WindowProc proc) {
    succeeds("registerWindowClass",
             std::string(className) + (proc == display::displayWindowProc ? " proc" : " ?"));
}
display::Handle FakeOutput::createWindow(const char* className, const char* title) {
    return succeeds("createWindow", std::string(className) + " " + title) ? kWindow : 0;
}
bool FakeOutput::setExclusiveFullscreen(display::Handle displayObject, display::Handle window) {
    return succeeds("setExclusiveFullscreen") && displayObject == kDirectDraw && window == kWindow;
}
bool FakeOutput::setDisplayMode(display::Handle, std::int32_t width, std::int32_t h,
                                std::int32_t bitsPerPixel) {
    const std::string mode =
        std::to_string(width) + "x" + std::to_string(h) + "x" + std::to_string(bitsPerPixel);
    if (!succeeds("setDisplayMode", mode) || refusedDepths.count(bitsPerPixel)) return false;
    width_ = width;
    height = h;
    return true;
}
display::Handle FakeOutput::createSurfaces(display::Handle, display::Arrangement arrangement) {
    if (!succeeds("createSurfaces", arrangementName(arrangement)) ||
        refusedArrangements.count(arrangement))
        return 0;
    arrangement_ = arrangement;
    return kPrimary;
}
display::Handle FakeOutput::getBackBuffer(display::Handle primary) {
    const bool ok = succeeds("getBackBuffer") && primary == kPrimary &&
                    arrangement_ != display::Arrangement::LonePrimary;
    return ok ? kBackBuffer : 0;
}
bool FakeOutput::getPixelFormat(display::Handle primary, display::PixelFormat& out) {
    if (!succeeds("getPixelFormat") || primary != kPrimary) return false;
    out = format;
    return true;
}
void FakeOutput::setScreenSaverActive(bool active) {
    succeeds("screenSaver", active ? "on" : "off");
}
bool FakeOutput::peekMessage(display::Handle window, display::WindowMessage& message) {
    if (window != kWindow || messages.empty()) return false;
    message = messages.front();
    messages.pop_front();
    return true;
}
void FakeOutput::restoreSurfaces(display::Handle primary) {
    succeeds("restore", primary == kPrimary ? "" : "?");
}
bool FakeOutput::lockBackBuffer(display::Handle backBuffer, display::LockedSurface& locked) {
    const bool scripted = failLocks > 0;
    if (scripted) --failLocks;
    if (!succeeds("lock") || scripted || backBuffer != kBackBuffer) return false;
    memory.resize(std::size_t(rowPitch()) * std::size_t(height), 0xEE);
    locked.pixels = memory.data();
    locked.pitch = rowPitch();
    locked.contentsLost = loseContents;
    loseContents = false;
    return true;
}
void FakeOutput::unlockBackBuffer(display::Handle backBuffer, void* pixels) {
    const bool same = backBuffer == kBackBuffer && pixels == memory.data();
    succeeds("unlock", same ? "" : "?");
}
void FakeOutput::flip(display::Handle primary) {
    succeeds("flip", primary == kPrimary ? "" : "?");
}
void FakeOutput::setChangedRows(display::Handle backBuffer, std::int32_t first, std::int32_t end) {
    succeeds("rows", std::to_string(first) + "-" + std::to_string(end) +
                         (backBuffer == kBackBuffer ? "" : "?"));
}
void FakeOutput::hideCursor() {
    succeeds("hideCursor");
}
std::intptr_t FakeOutput::defaultWindowProc(const display::WindowMessage&) {
    succeeds("defaultWindowProc");
    return defaultResult;
}
void FakeOutput::releaseSurfaces(display::Handle primary) {
    succeeds("releaseSurfaces", primary == kPrimary ? "" : "?");
}
void FakeOutput::restoreDisplayMode(display::Handle displayObject) {
    succeeds("restoreDisplayMode", displayObject == kDirectDraw ? "" : "?");
}
void FakeOutput::setNormalCooperativeLevel(display::Handle displayObject, display::Handle window) {
    succeeds("setNormal", displayObject == kDirectDraw && window == kWindow ? "" : "?");
}
void FakeOutput::releaseDisplayObject(display::Handle displayObject) {
    succeeds("releaseDisplayObject", displayObject == kDirectDraw ? "" : "?");
}
void FakeOutput::destroyWindow(display::Handle window) {
    succeeds("destroyWindow", window == kWindow ? "" : window == 0 ? "none" : "?");
}
void FakeOutput::freeLibrary(display::Handle library) {
    succeeds("freeLibrary", library == kLibrary ? "" : "?");
}

Installed::Installed(FakeOutput& output) {
    current = &output;
    display::setOutputLayer(&output);
    platform::setSleepHandler(recordSleep);
    platform::setExitHandler(throwExit);
    if (!hookAdded) platform::addBeforeExitHook(recordBeforeExit);
    hookAdded = true;
}

Installed::~Installed() {
    platform::setExitHandler(nullptr);
    platform::setSleepHandler(nullptr);
    display::setOutputLayer(nullptr);
    current = nullptr;
}

} // namespace fake
