// platform.h -- the operating-system services the portable modules call:
// message boxes, sleeping, the high-resolution counter and leaving the process.
#pragma once

#include <cstdint>

namespace platform {

// A modal box with one OK button, returning when dismissed; the text goes to
// standard error when no box can be shown. Tests swap the handler (a box
// blocks on a real display); passing nullptr restores the real one.
using MessageBoxHandler = void (*)(const char* text, const char* caption);
void showMessageBox(const char* text, const char* caption);
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

void sleepMs(std::uint32_t milliseconds);
// Tests swap the sleep to observe it; passing nullptr restores the real one.
using SleepHandler = void (*)(std::uint32_t milliseconds);
SleepHandler setSleepHandler(SleepHandler handler);

// Monotonic high-resolution counter and its frequency in counts per second.
std::int64_t counterNow();
std::int64_t counterFrequency();

// Work that must happen before the process ends from the middle of the show
// (Escape or a close request): stopping the audio device, for one. Hooks run
// newest first.
using ExitHook = void (*)();
void addBeforeExitHook(ExitHook hook);

// Runs the before-exit hooks, then ends the process with code. Tests swap
// the final step for one that returns control to them.
using ExitHandler = void (*)(int code);
ExitHandler setExitHandler(ExitHandler handler);
[[noreturn]] void exitProcess(int code);

} // namespace platform
