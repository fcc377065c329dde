// kva_pulse_probe.cpp -- the music player on a real PulseAudio server, heard
// through parec on the null sink's monitor; and the helpers the kva run on
// Xvfb needs. Run by pulse_test.sh, which starts the server.
//
//   kva_pulse_probe tone SOURCE     440 Hz MP3: start delay, pitch, ending
//   kva_pulse_probe module PATH     writes a module song to PATH
//   kva_pulse_probe sound RAWFILE   exit 0 when the capture holds a tone
#include "music/music.h"
#include "music_test_modules.h"
#include "platform/platform.h"
#include "test_songs.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 44100.0;

double secondsSince(Clock::time_point t0, Clock::time_point t) {
    return std::chrono::duration<double>(t - t0).count();
}

// parec on the monitor, read on a thread of its own; every frame gets the
// time it was read (an upper bound on when it reached the sink).
class Capture {
  public:
    explicit Capture(const char* source) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            execlp("parec", "parec", "-d", source, "--format=float32le", "--rate=44100",
                   "--channels=2", "--latency-msec=5", nullptr);
            _exit(127);
        }
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] { run(); });
    }
    ~Capture() { stop(); }

    void stop() {
        if (pid_ > 0) kill(pid_, SIGTERM);
        if (reader_.joinable()) reader_.join();
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        if (fd_ >= 0) close(fd_);
        pid_ = -1, fd_ = -1;
    }
    std::size_t frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_.size() / 2;
    }
    std::vector<float> samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }
    // When frame i had been read.
    Clock::time_point readAt(std::size_t frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [end, when] : reads_)
            if (frame < end) return when;
        return Clock::now();
    }

  private:
    void run() {
        std::vector<float> chunk(2048);
        for (;;) {
            const ssize_t n = read(fd_, chunk.data(), chunk.size() * sizeof(float));
            if (n <= 0) return;
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(mutex_);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk.data());
            pending_.insert(pending_.end(), bytes, bytes + n);
            const std::size_t whole = pending_.size() / 8 * 8;
            const auto* f = reinterpret_cast<const float*>(pending_.data());
            samples_.insert(samples_.end(), f, f + whole / 4);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(whole));
            reads_.push_back({samples_.size() / 2, now});
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<float> samples_;
    std::vector<std::uint8_t> pending_;
    std::vector<std::pair<std::size_t, Clock::time_point>> reads_;
};

std::size_t firstAbove(const std::vector<float>& s, std::size_t from, float level) {
    for (std::size_t i = from; i < s.size() / 2; ++i)
        if (std::fabs(s[2 * i]) > level) return i;
    return s.size() / 2;
}

std::size_t lastAbove(const std::vector<float>& s, float level) {
    for (std::size_t i = s.size() / 2; i > 0; --i)
        if (std::fabs(s[2 * i - 2]) > level) return i - 1;
    return 0;
}

double pitchAt(const std::vector<float>& s, std::size_t from, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    if (2 * (from + frames) > s.size()) return 0.0;
    return testsongs::pitchHz(s.data() + 2 * from, frames, kRate);
}

// Where the server found no frames from a client that fell behind (a busy
// machine), it plays exact zeros: runs of them do not count as the song's
// time. A 440 Hz sine never holds more than a sample or two of zeros.
constexpr std::size_t kGap = 16;

bool inGap(const std::vector<float>& s, std::size_t i) {
    std::size_t begin = i, end = i;
    while (begin > 0 && s[2 * begin - 2] == 0.0f && end - begin < kGap) --begin;
    while (2 * end < s.size() && s[2 * end] == 0.0f && end - begin < kGap) ++end;
    return end - begin >= kGap;
}

// The frame reached from from after frames frames of the song's time.
std::size_t afterSongTime(const std::vector<float>& s, std::size_t from, std::size_t frames) {
    std::size_t i = from;
    for (std::size_t counted = 0; counted < frames && 2 * i < s.size(); ++i)
        counted += !inGap(s, i);
    return i;
}

std::size_t songTime(const std::vector<float>& s, std::size_t from, std::size_t to) {
    std::size_t counted = 0;
    for (std::size_t i = from; i < to; ++i) counted += !inGap(s, i);
    return counted;
}

// The median pitch of ten 0.1 s windows from frame from on: a stretch the
// server dropped (a busy machine) spoils one window, not the measure.
double medianPitch(const std::vector<float>& s, std::size_t from) {
    std::vector<double> pitches;
    for (std::size_t w = 0; w < 10; ++w) pitches.push_back(pitchAt(s, from + w * 4410, 0.1));
    std::sort(pitches.begin(), pitches.end());
    return (pitches[4] + pitches[5]) / 2;
}

bool check(bool ok, const char* what) {
    if (!ok) std::printf("FAIL: %s\n", what);
    return ok;
}

int tone(const char* source) {
    Capture capture(source);
    for (int i = 0; i < 500 && capture.frames() < 13230; ++i) platform::sleepMs(10);
    if (capture.frames() < 13230) return check(false, "parec records nothing"), 1;

    std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440, 4.0);
    assets::FileBlob blob;
    std::strcpy(blob.name, "elg.mp3");
    blob.data = mp3.data();
    blob.size = static_cast<std::int32_t>(mp3.size());
    if (music::open(blob) != 1) return check(false, "the song did not open"), 1;
    platform::sleepMs(300); // the device runs, playing silence
    const std::size_t before = capture.frames();
    const auto played = Clock::now();
    music::play();
    platform::sleepMs(2000);
    const auto ending = Clock::now();
    music::end();
    const double endMs = 1000.0 * secondsSince(ending, Clock::now());
    platform::sleepMs(300);
    const std::vector<float> s = capture.samples();
    capture.stop();

    const std::size_t first = firstAbove(s, before, 0.02f);
    if (!check(first < s.size() / 2, "no sound reached the sink")) return 1;
    const double delayMs = 1000.0 * secondsSince(played, capture.readAt(first));
    const double hz = medianPitch(s, first + 8820);
    // The ending starts where the song had played as long as the show did.
    const std::size_t endStart =
        afterSongTime(s, first, static_cast<std::size_t>(secondsSince(played, ending) * kRate));
    const std::size_t last = lastAbove(s, 0.0005f);
    const double soundMs = 1000.0 * double(songTime(s, endStart, last)) / kRate;
    const double early = pitchAt(s, endStart + 2205, 0.1),
                 late = pitchAt(s, endStart + 13230, 0.15);
    std::printf(
        "start delay %.1f ms, pitch %.2f Hz, ending heard for %.0f ms (end() took %.0f ms), "
        "pitch in the ending %.0f Hz then %.0f Hz\n",
        delayMs, hz, soundMs, endMs, early, late);
    bool ok = check(delayMs < 500.0, "the song took over half a second to start");
    ok = check(std::fabs(hz - 440.0) < 4.4, "not 440 Hz within 1 %") && ok;
    // Lower bounds stay loose: where the clock of the capture and the song's
    // own drift apart on a busy machine, the start of the ending is placed
    // late, never early.
    ok = check(soundMs > 250.0 && soundMs < 550.0, "the fade did not end within 550 ms") && ok;
    ok = check(early > 150.0 && early < 430.0, "no slide early in the ending") && ok;
    ok = check(late > 0.0 && late < 200.0, "the pitch did not fall toward a stop") && ok;
    return ok ? 0 : 1;
}

int writeModule(const char* path) {
    const auto mod = testmodules::build(testmodules::Kind::Xm, testmodules::sineCycle());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(mod.data()), static_cast<std::streamsize>(mod.size()));
    return out ? 0 : 1;
}

int sound(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<float> s(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)) / 4);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 4));
    const float peak = testsongs::peak(s, 0, s.size() / 2);
    const std::size_t first = firstAbove(s, 0, 0.02f);
    const double hz = pitchAt(s, first + 4410, 0.5);
    std::printf("captured %.2f s, peak %.2f, pitch %.0f Hz\n", double(s.size() / 2) / kRate,
                double(peak), hz);
    return peak > 0.05f && hz > 50.0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "tone") return tone(argv[2]);
    if (mode == "module") return writeModule(argv[2]);
    if (mode == "sound") return sound(argv[2]);
    std::fprintf(stderr, "usage: %s tone SOURCE | module PATH | sound RAWFILE\n", argv[0]);
    return 2;
}
