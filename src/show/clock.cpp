// clock.cpp -- the frame clock over the platform counter.
#include "show/clock.h"

#include "platform/platform.h"

namespace show {

CounterSource platformCounter() {
    return {platform::counterNow, platform::counterFrequency()};
}

void startClock(FrameClock& clock, CounterSource counter) {
    clock.secondsPerTick = 1.0 / static_cast<double>(counter.frequency);
    clock.start = counter.now();
    const std::int64_t now = counter.now();
    clock.delta = 0.0f;
    clock.time = static_cast<float>(static_cast<double>(now - clock.start) * clock.secondsPerTick);
}

void tickClock(FrameClock& clock, CounterRead now) {
    double t;
    do {
        t = static_cast<double>(now() - clock.start) * clock.secondsPerTick;
    } while (t == static_cast<double>(clock.time));
    clock.delta = static_cast<float>(t - static_cast<double>(clock.time));
    clock.time = static_cast<float>(t);
}

} // namespace show
