// display_sdl_test.cpp -- the display over the real SDL2 layer on SDL's
// dummy video driver (named in SDL_VIDEODRIVER by the test runner): its
// only screen is larger than the frame, so the frame goes to the centre.
// Events are pushed into SDL's queue as its drivers would post them.
#include "display/display.h"
#include "platform/platform.h"
#include "platform/sdl_output.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

std::vector<std::uint32_t> sleeps;

void recordSleep(std::uint32_t milliseconds) {
    sleeps.push_back(milliseconds);
}

class SdlDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sleeps.clear();
        platform::setSleepHandler(recordSleep);
        display::setOutputLayer(nullptr);
    }
    void TearDown() override { platform::setSleepHandler(nullptr); }

    std::vector<canvas::PixelWord> frame = std::vector<canvas::PixelWord>(640 * 480, 0xFF336699);
};

// The window shows itself when its surfaces are made, and being shown counts
// as activation: the frames after set-up are drawn and flipped (sleep 0),
// none skipped as inactive (sleep 1). Set-up and close also work twice over.
TEST_F(SdlDisplayTest, OpensOnALargerScreenDrawsAndClosesTwice) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        sleeps.clear();
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(display::openDisplay("KVA", 640, 480), 1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        for (int i = 0; i < 3; ++i) EXPECT_EQ(display::presentFrame(frame.data()), 1);
        EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{0, 0, 0}));
        display::closeDisplay();
    }
}

// A frame larger than any screen the display offers cannot be shown.
TEST_F(SdlDisplayTest, AFrameLargerThanTheScreenIsRefused) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(display::openDisplay("KVA", 8000, 6000), 0);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("setting a display mode"), std::string::npos) << errors;
    EXPECT_NE(errors.find("the screen is "), std::string::npos) << errors;
    display::closeDisplay();
}

// The show's window on the dummy driver's 1024 x 768 screen, where the
// frame is shown unenlarged at (192, 144).
class SdlEventTest : public SdlDisplayTest {
  protected:
    static constexpr int kLeft = 192, kTop = 144;

    void SetUp() override {
        SdlDisplayTest::SetUp();
        ASSERT_EQ(display::openDisplay("KVA", frameWidth, frameHeight), 1);
        for (Uint32 id = 1; id < 256 && !window; ++id) {
            SDL_Window* w = SDL_GetWindowFromID(id);
            if (w && std::string(SDL_GetWindowTitle(w)) == "KVA") window = w;
        }
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(display::presentFrame(frame.data()), 1); // takes the start-up events
    }
    void TearDown() override {
        display::closeDisplay();
        SdlDisplayTest::TearDown();
    }

    void push(SDL_WindowEventID what) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.windowID = SDL_GetWindowID(window);
        event.window.event = Uint8(what);
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }
    void pushKey(SDL_Keycode key) {
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.windowID = SDL_GetWindowID(window);
        event.key.state = SDL_PRESSED;
        event.key.keysym.sym = key;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }
    // The next key message the layer hands out for the window. SDL answers
    // "no event" once at the end of each round of polling, even when events
    // were pushed during the round: so two rounds.
    display::WindowMessage nextKey() {
        display::OutputLayer& layer = platform::sdlOutputLayer();
        display::WindowMessage message;
        for (int round = 0; round < 2; ++round)
            while (layer.peekMessage(SDL_GetWindowID(window), message))
                if (message.kind == display::MessageKind::KeyDown) return message;
        return {};
    }

    std::uint32_t& pixel(int x, int y) {
        SDL_Surface* s = SDL_GetWindowSurface(window);
        return *reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(s->pixels) +
                                                 y * s->pitch + x * 4);
    }
    std::uint32_t rgb(int x, int y) { return pixel(x, y) & 0xFFFFFF; }

    SDL_Window* window = nullptr;
    int frameWidth = 640, frameHeight = 480;
};

// Losing focus stops drawing (the screen untouched); each call then waits for
// the next 60 Hz tick, as a drawn frame would, so two calls span at least a
// tick however busy the machine. Regaining focus restores the surface before
// the next frame is drawn into it, which clears what lay outside the frame.
TEST_F(SdlEventTest, FocusLostStopsDrawingAndFocusGainedRestoresFirst) {
    ASSERT_EQ(SDL_GetWindowSurface(window)->format->format, Uint32(SDL_PIXELFORMAT_RGB888));
    EXPECT_EQ(rgb(kLeft, kTop), 0x336699u);
    push(SDL_WINDOWEVENT_FOCUS_LOST);
    std::fill(frame.begin(), frame.end(), 0xFFAABBCC);
    sleeps.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(16'600));
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(rgb(kLeft, kTop), 0x336699u);

    pixel(0, 0) = 0xFFFFFFFF;
    push(SDL_WINDOWEVENT_FOCUS_GAINED);
    sleeps.clear();
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(rgb(0, 0), 0u) << "not restored before drawing";
    EXPECT_EQ(rgb(kLeft, kTop), 0xAABBCCu);
    EXPECT_EQ(rgb(kLeft + 639, kTop + 479), 0xAABBCCu);
    EXPECT_EQ(rgb(kLeft - 1, kTop), 0u);
    EXPECT_EQ(rgb(kLeft + 640, kTop + 479), 0u);
}

// The border is drawn once, not with every frame; a size change makes the
// layer take the surface again, border and all.
TEST_F(SdlEventTest, ASizeChangeReacquiresTheSurface) {
    pixel(0, 0) = 0xFFFFFFFF;
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(rgb(0, 0), 0xFFFFFFu);
    push(SDL_WINDOWEVENT_SIZE_CHANGED);
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(rgb(0, 0), 0u);
    EXPECT_EQ(rgb(kLeft, kTop), 0x336699u);
}

// Only Escape reads as 27: SDL's codes for keys without a character carry
// bit 30 and the scan code, whose low byte can be 0x1B as well.
TEST_F(SdlEventTest, OnlyEscapeReadsAsEscape) {
    pushKey(SDLK_ESCAPE);
    EXPECT_EQ(nextKey().wParam, display::kKeyEscape);
    const SDL_Keycode lookalike = SDL_SCANCODE_TO_KEYCODE(SDL_Scancode(0x11B));
    ASSERT_EQ(lookalike & 0xFF, 0x1B);
    pushKey(lookalike);
    const display::WindowMessage other = nextKey();
    EXPECT_EQ(other.kind, display::MessageKind::KeyDown);
    EXPECT_NE(other.wParam & 0xFF, display::kKeyEscape);

    // Through the display: the look-alike changes nothing, the show goes on.
    pushKey(lookalike);
    sleeps.clear();
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{0}));
}

// A 256 x 192 frame on the dummy driver's 1024 x 768 screen is enlarged four
// times, filling it. Only rows that changed are enlarged again; a surface
// taken anew (cleared to black) gets the whole frame even when the frame
// itself did not change.
class SdlEnlargedTest : public SdlEventTest {
  protected:
    SdlEnlargedTest() {
        frameWidth = 256;
        frameHeight = 192;
    }
    // Every screen pixel of the frame's row y against the frame.
    bool rowShown(int y) {
        for (int sy = y * 4; sy < y * 4 + 4; ++sy)
            for (int sx = 0; sx < 1024; ++sx)
                if (rgb(sx, sy) != (frame[std::size_t(y * 256 + sx / 4)] & 0xFFFFFF)) return false;
        return true;
    }
    void paintRows(int first, int end, canvas::PixelWord colour) {
        std::fill(frame.begin() + first * 256, frame.begin() + end * 256, colour);
    }
};

TEST_F(SdlEnlargedTest, ChangedRowsAndRetakenSurfacesAreShownWhole) {
    for (int y : {0, 100, 191}) EXPECT_TRUE(rowShown(y)) << y;
    paintRows(50, 60, 0xFF102030);
    frame[191 * 256 + 255] = 0xFF405060;
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    for (int y : {0, 49, 50, 59, 60, 191}) EXPECT_TRUE(rowShown(y)) << y;

    push(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    for (int y : {0, 55, 120, 191}) EXPECT_TRUE(rowShown(y)) << "after focus, row " << y;
    push(SDL_WINDOWEVENT_SIZE_CHANGED);
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    for (int y : {0, 55, 120, 191}) EXPECT_TRUE(rowShown(y)) << "after a size change, row " << y;
}

} // namespace

// kva --window: a window in sight goes on drawing while another program has
// the focus; hidden, it stops. On the dummy driver's 1024 x 768 screen the
// window holds the frame once.
class SdlWindowedTest : public SdlEventTest {
  protected:
    SdlWindowedTest() { platform::setPlacement({true, 0}); }
    ~SdlWindowedTest() override { platform::setPlacement({}); }
};

TEST_F(SdlWindowedTest, DrawsWithoutFocusUntilHidden) {
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    push(SDL_WINDOWEVENT_FOCUS_LOST);
    sleeps.clear();
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{0}));
    push(SDL_WINDOWEVENT_HIDDEN);
    sleeps.clear();
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_TRUE(sleeps.empty());
}

namespace {

// Named rows: only those are enlarged and sent, none when none changed, and
// a surface taken anew gets the whole frame though no row was named.
TEST_F(SdlEnlargedTest, NamedRowsAloneAreSentAndARetakenSurfaceGetsAll) {
    paintRows(10, 20, 0xFF102030);
    EXPECT_EQ(display::presentRows(frame.data(), 10, 20), 1);
    for (int y : {0, 9, 10, 19, 20, 191}) EXPECT_TRUE(rowShown(y)) << y;

    paintRows(100, 101, 0xFF405060);
    EXPECT_EQ(display::presentRows(frame.data(), 0, 0), 1);
    EXPECT_FALSE(rowShown(100)) << "a frame naming no row sends none";
    EXPECT_EQ(display::presentRows(frame.data(), 100, 101), 1);
    EXPECT_TRUE(rowShown(100));

    paintRows(150, 151, 0xFF708090);
    push(SDL_WINDOWEVENT_SIZE_CHANGED);
    EXPECT_EQ(display::presentRows(frame.data(), 0, 0), 1);
    for (int y : {0, 100, 150, 191}) EXPECT_TRUE(rowShown(y)) << "after a size change, row " << y;
}

} // namespace
