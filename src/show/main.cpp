// main.cpp -- kva: the self-running show. It takes no arguments. Start-up,
// the main loop and the end, each a named step.
#include "assets/png.h"
#include "assets/store.h"
#include "canvas/canvas.h"
#include "display/display.h"
#include "music/music.h"
#include "platform/platform.h"
#include "show/clock.h"
#include "show/show.h"

#include <cstdint>

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

    const canvas::Image target = canvas::canvasImage();
    for (;;) {
        show::tickClock(clock);
        if (!show::stepShow(state, clock.delta, pictures, target)) break;
        display::presentFrame(canvas::frameBuffer().pixels);
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

    music::end();
    releaseAssets(a);
    canvas::releaseCanvas();
    display::closeDisplay();
    return 0;
}

} // namespace

int main() {
    return runShow();
}
