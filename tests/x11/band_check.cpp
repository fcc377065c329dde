// band_check.cpp -- on a real X server (DISPLAY, depth 24, larger than twice
// the frame): frames that differ from the one before in a band of rows, at
// the top, the bottom, the middle or not at all, each shown through the
// display and read back from the screen. Only the changed rows are sent, so
// a wrong band leaves stale or black rows on screen. Exit 0 when every grab
// matches, 1 with a line saying where one does not, 77 when the screen does
// not fit the check.
#include "display/display.h"
#include "display/scale.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;
using Frame = std::vector<canvas::PixelWord>;

void changeRows(Frame& frame, int first, int end, unsigned salt) {
    for (int y = first; y < end; ++y)
        for (int x = 0; x < kWidth; ++x)
            frame[std::size_t(y * kWidth + x)] ^= 0x00FFFFFFu & (salt * 2654435761u + unsigned(x));
}

// The picture as the screen holds it: each frame pixel factor x factor, centred.
bool screenShows(Display* x, const Frame& frame, int step) {
    const int screenW = DisplayWidth(x, DefaultScreen(x));
    const int screenH = DisplayHeight(x, DefaultScreen(x));
    const int k = display::wholeScaleFactor(screenW, screenH, kWidth, kHeight);
    const int left = (screenW - kWidth * k) / 2, top = (screenH - kHeight * k) / 2;
    XImage* image = XGetImage(x, DefaultRootWindow(x), left, top, unsigned(kWidth * k),
                              unsigned(kHeight * k), AllPlanes, ZPixmap);
    if (!image) return std::printf("step %d: cannot read the screen\n", step), false;
    bool same = true;
    for (int y = 0; y < kHeight * k && same; ++y) {
        for (int px = 0; px < kWidth * k; ++px) {
            const unsigned long want = frame[std::size_t((y / k) * kWidth + px / k)] & 0xFFFFFFu;
            const unsigned long got = XGetPixel(image, px, y) & 0xFFFFFFu;
            if (want == got) continue;
            std::printf("step %d: screen row %d (frame row %d), column %d holds %06lx, not %06lx\n",
                        step, y, y / k, px, got, want);
            same = false;
            break;
        }
    }
    XDestroyImage(image);
    return same;
}

} // namespace

int main() {
    Display* x = XOpenDisplay(nullptr);
    if (!x) return std::puts("no X display"), 77;
    if (DefaultDepth(x, DefaultScreen(x)) != 24 ||
        display::wholeScaleFactor(DisplayWidth(x, 0), DisplayHeight(x, 0), kWidth, kHeight) < 2)
        return std::puts("the check needs a depth 24 screen at least 1280 x 960"), 77;
    if (display::openDisplay("KVA", kWidth, kHeight) != 1) return 1;

    Frame frame(std::size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int px = 0; px < kWidth; ++px)
            frame[std::size_t(y * kWidth + px)] = 0xFF000000u | unsigned(px * 3 + y) << 16 |
                                                  unsigned(y * 5 + px / 2) << 8 | unsigned(px ^ y);
    // The window's start-up events (shown, focus) redraw it whole; they are
    // over before the bands are checked.
    for (int i = 0; i < 30; ++i)
        if (display::presentFrame(frame.data()) != 1) return 1;
    const struct {
        int first, end;
    } bands[] = {{0, kHeight}, {200, 260}, {200, 260},  {kHeight - 1, kHeight}, {0, 1}, {0, 0},
                 {1, 479},     {37, 38},   {0, kHeight}};
    int failed = 0;
    for (int step = 0; step < int(sizeof bands / sizeof bands[0]); ++step) {
        changeRows(frame, bands[step].first, bands[step].end, unsigned(step + 1));
        // Twice: the second, unchanged, frame must leave the screen as it is.
        for (int i = 0; i < 2; ++i)
            if (display::presentFrame(frame.data()) != 1) return 1;
        XSync(x, False);
        failed += !screenShows(x, frame, step);
    }
    display::closeDisplay();
    XCloseDisplay(x);
    if (failed == 0) std::puts("ok: every band reached the screen");
    return failed == 0 ? 0 : 1;
}
