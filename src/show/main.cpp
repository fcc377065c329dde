// main.cpp -- kva: the self-running show. --window and --display N say where
// it appears; --help and --version answer without opening the display;
// anything else is ignored. Start-up, the main loop and the end, each a
// named step.
#include "assets/lookup.h"
#include "assets/png.h"
#include "assets/store.h"
#include "canvas/canvas.h"
#include "display/display.h"
#include "music/music.h"
#include "platform/platform.h"
#include "platform/sdl_output.h"
#include "platform/std_descriptors.h"
#include "show/clock.h"
#include "show/show.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef KVA_VERSION
#define KVA_VERSION "unknown"
#endif

namespace {

constexpr std::int32_t kPictureCount = 11;

// What the show holds from start-up to its end.
struct Assets {
    canvas::Image images[kPictureCount]; // in load order
    assets::FileBlob song;               // the music player plays from its data
};

// While the assets load, the window's messages are taken at least this often,
// so that Escape, a close request or SIGTERM end the program at once (they
// close the display and exit with 0 from inside the pump).
constexpr std::int64_t kAnswerEveryMs = 20;
std::int64_t lastAnswer = 0;

void answerWindow() {
    const std::int64_t now = platform::counterNow();
    if (now - lastAnswer < platform::counterFrequency() * kAnswerEveryMs / 1000) return;
    lastAnswer = now;
    display::pumpMessages();
}

// The archive is closed once everything is loaded: only its index and
// buffers would stay.
void loadAssets(Assets& a) {
    const assets::ProgressHook previous = assets::setProgressHook(answerWindow);
    assets::openArchive(show::kArchiveName);
    answerWindow();
    assets::loadPictures(show::kPictureNames, a.images, kPictureCount);
    a.song = assets::loadFile(show::kSongName, assets::kMaxSongBytes);
    assets::reportNothingFound("kva", show::kArchiveName);
    assets::closeArchive();
    answerWindow();
    music::open(a.song);
    assets::setProgressHook(previous);
    display::pumpMessages();
}

void runLoop(const show::Pictures& pictures) {
    show::FrameClock clock;
    show::startClock(clock);
    music::play();
    show::ShowState state;
    show::initShowState(state);
    state.composeWhole = false;

    // Only the rows that changed are composed and presented; the canvas may
    // sit below the frame buffer's first row.
    const canvas::Image target = canvas::canvasImage();
    const canvas::FrameBuffer frame = canvas::frameBuffer();
    const auto top = static_cast<std::int32_t>((target.pixels - frame.pixels) / frame.width);
    for (;;) {
        show::tickClock(clock);
        if (!show::stepShow(state, clock.delta, pictures, target)) break;
        display::presentRows(frame.pixels, top + state.composed.first, top + state.composed.end);
    }
}

// The music has ended (its audio is stopped) before the song's data goes.
void releaseAssets(Assets& a) {
    for (canvas::Image& image : a.images) canvas::releaseImage(image);
    assets::releaseFileBlob(a.song);
}

int runShow() {
    if (!display::openDisplay("KVA", show::kWidth, show::kHeight)) return 1; // it said why
    canvas::createCanvas(show::kWidth, show::kHeight, show::kHeight);
    canvas::clearCanvas();

    Assets a;
    loadAssets(a);
    runLoop(show::picturesFromLoadOrder(a.images));

    // The ending answers the window as the loading does: Escape, a close
    // request or SIGTERM end the program during it too.
    const assets::ProgressHook previous = assets::setProgressHook(answerWindow);
    music::end();
    assets::setProgressHook(previous);
    releaseAssets(a);
    canvas::releaseCanvas();
    display::closeDisplay();
    return 0;
}

constexpr const char* kHelp =
    "Usage: kva [--window] [--display N] | --help | --version\n"
    "\n"
    "A self-running fullscreen music-video show: 192 seconds of pictures and\n"
    "one song. Escape or closing the window ends it; F11 or Alt+Enter switches\n"
    "between fullscreen and a window.\n"
    "\n"
    "Each picture and the song are looked for by name, as a plain file, under\n"
    "data/ and in the archive pr0n.rar, first in the working folder, then in the\n"
    "program's own folder, in ../share/kva beside it, and in $XDG_DATA_HOME/kva\n"
    "(~/.local/share/kva). The first pr0n.rar found is the one used.\n"
    "\n"
    "  --window     show it in a window, at first the largest whole multiple of\n"
    "               640x480 that fits the display; resizing re-fits the picture\n"
    "  --display N  show it on display N (default 0, the primary one)\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

// 1 for --help, 2 for --version, 0 for anything else.
int informationAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) return 1;
        if (!std::strcmp(argv[i], "--version")) return 2;
    }
    return 0;
}

// A display number: digits only, and not absurdly many.
bool parseDisplay(const char* text, int& display) {
    if (!*text || std::strlen(text) > 4 || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    display = std::atoi(text);
    return true;
}

// --window and --display N (or --display=N). False, with one line on standard
// error, when the number is missing or not one.
bool readPlacement(int argc, char** argv, platform::Placement& placement, bool& displayGiven) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--window")) {
            placement.windowed = true;
            continue;
        }
        const char* value = nullptr;
        if (!std::strcmp(arg, "--display"))
            value = i + 1 < argc ? argv[++i] : "";
        else if (!std::strncmp(arg, "--display=", 10))
            value = arg + 10;
        if (!value) continue;
        if (!parseDisplay(value, placement.display)) {
            std::fprintf(stderr, "kva: --display takes a display number such as 0 or 1\n");
            return false;
        }
        displayGiven = true;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    platform::openStandardDescriptors();
    switch (informationAsked(argc, argv)) {
    case 1:
        std::fputs(kHelp, stdout);
        return 0;
    case 2:
        std::puts("kva " KVA_VERSION);
        return 0;
    }
    platform::Placement placement;
    bool displayGiven = false;
    if (!readPlacement(argc, argv, placement, displayGiven)) return 2;
    if (displayGiven) {
        const std::string wrong = platform::checkDisplayNumber(placement.display);
        if (!wrong.empty()) {
            std::fprintf(stderr, "%s\n", wrong.c_str());
            return 2;
        }
    }
    platform::setPlacement(placement);
    assets::useStandardSearchFolders();
    return runShow();
}
