// clock.h -- the frame clock: real time between frames from the
// high-resolution counter; its delta is the only source of show time.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace show {

struct FrameClock {
    std::int64_t start = 0;
    float time = 0.0f;  // seconds from start to the latest tick
    float delta = 0.0f; // seconds between the two latest ticks; never 0 after a tick
    double secondsPerTick = 0.0;
};

// Where the clock reads its counts; the platform's counter unless a test
// supplies its own. The frequency is read once, at start.
using CounterRead = std::int64_t (*)();
struct CounterSource {
    CounterRead now;
    std::int64_t frequency;
};
CounterSource platformCounter();

void startClock(FrameClock& clock, CounterSource counter = platformCounter());

// Spins, without sleeping, only while the new time equals the stored one.
// Counts become seconds through the secondsPerTick that start stored.
void tickClock(FrameClock& clock, CounterRead now = platform::counterNow);

} // namespace show
