// music_budget_test.cpp -- songs that would stall or bloat the start: tracker
// modules that declare hours of looping song in a few KB, and 64 MB of
// noise. Each is opened in a child process of its own, whose time, memory
// and standard error are its alone.
#include "music/audio.h"
#include "music/music.h"
#include "music_test_modules.h"
#include "platform/platform.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

struct Opened {
    int result = -1;           // music::open's
    double firstFrameMs = 0;   // from the open to the first second of sound mixed
    double longestQuietMs = 0; // the longest time without a call of the progress hook
    long grownKb = 0;          // peak memory above what the process held before
    int errorLines = 0;        // on standard error
};

std::int64_t lastReport = 0;
double longestQuiet = 0;

double msSince(std::int64_t start) {
    return 1000.0 * double(platform::counterNow() - start) / double(platform::counterFrequency());
}

void reported() {
    longestQuiet = std::max(longestQuiet, msSince(lastReport));
    lastReport = platform::counterNow();
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Opens song in a child, offline, plays a second of it and reports.
Opened openInChild(std::vector<std::uint8_t> song) {
    std::FILE* errors = std::tmpfile();
    int fds[2];
    if (!errors || pipe(fds) != 0) return {};
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(errors), STDERR_FILENO);
        close(fds[0]);
        Opened o;
        const long before = residentKb();
        assets::FileBlob blob;
        blob.data = song.data();
        blob.size = static_cast<std::int32_t>(song.size());
        audio::setOfflineOutput(true);
        assets::setProgressHook(reported);
        const std::int64_t start = lastReport = platform::counterNow();
        o.result = music::open(blob);
        reported();
        music::play();
        std::vector<float> second(2 * 44100);
        audio::renderOffline(second.data(), 44100);
        o.firstFrameMs = msSince(start);
        o.longestQuietMs = longestQuiet;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        o.grownKb = usage.ru_maxrss - before;
        std::fflush(stderr);
        if (write(fds[1], &o, sizeof o) != sizeof o) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Opened o;
    const bool got = read(fds[0], &o, sizeof o) == sizeof o;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    std::rewind(errors);
    char line[512];
    while (std::fgets(line, sizeof line, errors)) {
        ++o.errorLines;
        std::printf("  stderr: %s", line);
    }
    std::fclose(errors);
    if (!got) o.result = -1;
    return o;
}

// A hang or a memory bomb shows as minutes and gigabytes; these bounds
// leave a busy machine a wide margin.
constexpr double kFirstFrameMs = 5000.0;
constexpr long kGrownKb = (assets::kMaxSongBytes + 50 * 1024 * 1024) / 1024;

void expectBounded(const Opened& o, const char* what) {
    std::printf("%s: open %d, first second mixed after %.0f ms, progress at least every %.0f ms, "
                "%ld KB more memory\n",
                what, o.result, o.firstFrameMs, o.longestQuietMs, o.grownKb);
    EXPECT_GE(o.result, 0) << what << ": the child did not report";
    EXPECT_LT(o.firstFrameMs, kFirstFrameMs) << what;
    EXPECT_LT(o.grownKb, kGrownKb) << what;
    EXPECT_LT(o.longestQuietMs, kFirstFrameMs / 5) << what << ": the window was not answered";
}

TEST(SongBudget, ModulesDeclaringHoursOfLoopsAreRefusedWithOneLine) {
    using testmodules::Kind;
    const struct {
        Kind kind;
        std::uint32_t orders, rows;
        const char* what;
    } cases[] = {{Kind::It, 65535, 1024, "IT, 65,535 orders of 1,024 looping rows"},
                 {Kind::It, 1000, 1024, "IT, 1,000 orders of 1,024 looping rows"},
                 {Kind::S3m, 65535, 64, "S3M, 65,534 orders of 64 looping rows"}};
    for (const auto& c : cases) {
        const Opened o = openInChild(testmodules::looping(c.kind, c.orders, c.rows));
        expectBounded(o, c.what);
        EXPECT_EQ(o.result, 0) << c.what;
        EXPECT_EQ(o.errorLines, 1) << c.what;
    }
}

TEST(SongBudget, ALongButHonestModuleStillPlays) {
    // 1,000 orders of 64 rows: 64,000 rows, within the budget.
    const Opened o = openInChild(testmodules::looping(testmodules::Kind::S3m, 1000, 64));
    expectBounded(o, "S3M, 1,000 orders of 64 looping rows");
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.errorLines, 0);
}

TEST(SongBudget, NoiseIsSearchedOnlyAtItsStart) {
    std::mt19937 random(23);
    std::vector<std::uint8_t> noise(std::size_t(assets::kMaxSongBytes));
    for (auto& b : noise) b = std::uint8_t(random());
    Opened o = openInChild(noise);
    expectBounded(o, "64 MB of noise");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.errorLines, 0);
    // A few real frames, then noise to the end of the budget.
    std::vector<std::uint8_t> song = testsongs::mp3Tone(440, 0.05);
    song.insert(song.end(), noise.begin(), noise.begin() + (60 << 20));
    o = openInChild(song);
    expectBounded(o, "an MP3's first frames, then 60 MB of noise");
    EXPECT_EQ(o.errorLines, 0);
}

// A large ID3v2 tag (cover art) is skipped by its size, not searched.
TEST(SongBudget, AnMp3BehindALargeTagStillPlays) {
    constexpr std::uint32_t kTag = 3 << 20;
    std::vector<std::uint8_t> song = {'I', 'D', '3', 3, 0, 0};
    for (int shift = 21; shift >= 0; shift -= 7)
        song.push_back(std::uint8_t((kTag >> shift) & 0x7F));
    song.resize(10 + kTag, 0);
    const std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440, 1.0);
    song.insert(song.end(), mp3.begin(), mp3.end());
    const Opened o = openInChild(song);
    expectBounded(o, "an MP3 behind a 3 MB ID3v2 tag");
    EXPECT_EQ(o.result, 1);
}

} // namespace
