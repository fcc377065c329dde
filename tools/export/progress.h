// progress.h -- one line on a terminal saying how far an export is.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace exporter {

// "kva-export:  42%  4838/11520 frames  612 fps  11 s left"
std::string progressLine(std::int64_t done, std::int64_t total, double elapsedSeconds);

// Rewrites the line on standard error, at most four times a second, and
// only on a terminal. The rate and time left count from begin, not from
// the sound rendered before it.
class Progress {
  public:
    void begin(std::int64_t total);
    void update(std::int64_t done);
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_ = false;
    std::int64_t total_ = 0;
    Clock::time_point start_, last_;
};

} // namespace exporter
