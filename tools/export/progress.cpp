// progress.cpp -- the progress line.
#include "export/progress.h"

#include <unistd.h>

#include <cstdio>

namespace exporter {

std::string progressLine(std::int64_t done, std::int64_t total, double elapsedSeconds) {
    const double fraction = total > 0 ? double(done) / double(total) : 1.0;
    const double fps = elapsedSeconds > 0.0 ? double(done) / elapsedSeconds : 0.0;
    const double left = fps > 0.0 ? double(total - done) / fps : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "kva-export: %3d%%  %lld/%lld frames  %.0f fps  %.0f s left",
                  int(fraction * 100.0), static_cast<long long>(done),
                  static_cast<long long>(total), fps, left);
    return line;
}

void Progress::begin(std::int64_t total) {
    enabled_ = isatty(STDERR_FILENO) == 1;
    total_ = total;
    start_ = last_ = Clock::now();
}

void Progress::update(std::int64_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s\033[K", progressLine(done, total_, elapsed).c_str());
}

void Progress::finish() {
    if (enabled_) std::fputs("\r\033[K", stderr);
}

} // namespace exporter
