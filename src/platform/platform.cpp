// platform.cpp -- message boxes, sleep, counter and exit over SDL2 and the C library.
#include "platform/platform.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

void realMessageBox(const char* text, const char* caption) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption, text, nullptr) != 0)
        std::fprintf(stderr, "%s\n", text);
}

void realSleep(std::uint32_t milliseconds) {
    SDL_Delay(milliseconds);
}

void realExit(int code) {
    std::exit(code);
}

struct State {
    MessageBoxHandler messageBox = realMessageBox;
    ExitHandler exit = realExit;
    SleepHandler sleep = realSleep;
    std::vector<ExitHook> hooks;
};
State& state() {
    static State s;
    return s;
}

} // namespace

void showMessageBox(const char* text, const char* caption) {
    state().messageBox(text, caption);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler old = state().messageBox;
    state().messageBox = handler ? handler : realMessageBox;
    return old;
}

void sleepMs(std::uint32_t milliseconds) {
    state().sleep(milliseconds);
}

SleepHandler setSleepHandler(SleepHandler handler) {
    SleepHandler old = state().sleep;
    state().sleep = handler ? handler : realSleep;
    return old;
}

std::int64_t counterNow() {
    return static_cast<std::int64_t>(SDL_GetPerformanceCounter());
}
std::int64_t counterFrequency() {
    return static_cast<std::int64_t>(SDL_GetPerformanceFrequency());
}

void addBeforeExitHook(ExitHook hook) {
    state().hooks.push_back(hook);
}

ExitHandler setExitHandler(ExitHandler handler) {
    ExitHandler old = state().exit;
    state().exit = handler ? handler : realExit;
    return old;
}

void exitProcess(int code) {
    std::fflush(stdout);
    for (auto it = state().hooks.rbegin(); it != state().hooks.rend(); ++it) (*it)();
    state().exit(code);
    std::_Exit(code); // a handler that returned: never fall back into the caller
}

} // namespace platform
