// display_test.cpp -- the display's set-up fallbacks, activation gate,
// presentation, window procedure and shutdown order, over the scripted layer.
#include "display/convert.h"
#include "display/display.h"
#include "fake_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using display::Arrangement;
using display::MessageKind;
using Calls = std::vector<std::string>;

constexpr std::int32_t kW = 5, kH = 3;

const Calls kOpenCalls = {"loadLibrary",           "findCreateEntry",
                          "createDisplayObject",   "registerWindowClass KVA proc",
                          "createWindow KVA KVA",  "setExclusiveFullscreen",
                          "setDisplayMode 5x3x32", "createSurfaces two",
                          "getBackBuffer",         "getPixelFormat",
                          "screenSaver off"};

const Calls kCloseCalls = {"releaseSurfaces",      "restoreDisplayMode", "setNormal",
                           "releaseDisplayObject", "destroyWindow",      "screenSaver on",
                           "freeLibrary"};

class DisplayTest : public ::testing::Test {
  protected:
    fake::FakeOutput out;
    fake::Installed installed{out};
    std::vector<canvas::PixelWord> frame = pattern();
    std::string errors;

    static std::vector<canvas::PixelWord> pattern() {
        std::vector<canvas::PixelWord> words(kW * kH);
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] = 0x80000000u | (std::uint32_t(i * 0x0A1B2C) + 0x123456u);
        return words;
    }

    std::int32_t open() {
        ::testing::internal::CaptureStderr();
        const std::int32_t result = display::openDisplay("KVA", kW, kH);
        errors = ::testing::internal::GetCapturedStderr();
        return result;
    }
    // Calls made after the successful open.
    Calls since() const { return Calls(out.calls.begin() + kOpenCalls.size(), out.calls.end()); }
    Calls present() {
        const std::size_t before = out.calls.size();
        lastResult = display::presentFrame(frame.data());
        return Calls(out.calls.begin() + std::ptrdiff_t(before), out.calls.end());
    }
    std::int32_t lastResult = -1;
};

bool hasAny(const Calls& calls, std::initializer_list<const char*> names) {
    for (const auto& c : calls)
        for (const char* n : names)
            if (c.rfind(n, 0) == 0) return true;
    return false;
}

TEST_F(DisplayTest, SetUpRunsEveryStepInOrder) {
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(out.calls, kOpenCalls);
    EXPECT_EQ(errors, "");
}

struct FailureScript {
    const char* name;
    void (*script)(fake::FakeOutput&);
    const char* lastCall;
    bool noDisplay; // the user is pointed to the exporter
};

const FailureScript kFailures[] = {
    {"loadLibrary", [](fake::FakeOutput& o) { o.failing.insert("loadLibrary"); }, "loadLibrary",
     true},
    {"findCreateEntry", [](fake::FakeOutput& o) { o.failing.insert("findCreateEntry"); },
     "findCreateEntry", true},
    {"createDisplayObject", [](fake::FakeOutput& o) { o.failing.insert("createDisplayObject"); },
     "createDisplayObject", true},
    {"setExclusiveFullscreen",
     [](fake::FakeOutput& o) { o.failing.insert("setExclusiveFullscreen"); },
     "setExclusiveFullscreen", false},
    {"depths",
     [](fake::FakeOutput& o) {
         o.refusedDepths = {32, 24, 16};
     },
     "setDisplayMode 5x3x16", false},
    {"arrangements",
     [](fake::FakeOutput& o) {
         o.refusedArrangements = {Arrangement::TwoBackBuffers, Arrangement::OneBackBuffer,
                                  Arrangement::LonePrimary};
     },
     "createSurfaces lone", false},
    {"getBackBuffer", [](fake::FakeOutput& o) { o.failing.insert("getBackBuffer"); },
     "getBackBuffer", false},
    {"getPixelFormat", [](fake::FakeOutput& o) { o.failing.insert("getPixelFormat"); },
     "getPixelFormat", false},
    {"not RGB", [](fake::FakeOutput& o) { o.format.flags = 0; }, "getPixelFormat", false},
    {"no converter",
     [](fake::FakeOutput& o) {
         o.format = {display::kPixelFormatRgb, 32, 0xF800, 0x07E0, 0x1F};
     },
     "getPixelFormat", false},
};

// Each failing step ends set-up there, undoes nothing, and says why on one
// line; where no display could be reached the line also names the exporter.
TEST(DisplaySetUp, EachFailureStopsThereUndoesNothingAndSaysWhy) {
    for (const FailureScript& f : kFailures) {
        SCOPED_TRACE(f.name);
        fake::FakeOutput out;
        fake::Installed installed{out};
        f.script(out);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(display::openDisplay("KVA", kW, kH), 0);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(out.calls.back(), f.lastCall);
        EXPECT_FALSE(hasAny(out.calls,
                            {"release", "restore", "destroy", "free", "screenSaver", "setNormal"}));
        EXPECT_EQ(errors.rfind("kva: cannot set up the display: ", 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
        EXPECT_EQ(errors.back(), '\n');
        EXPECT_EQ(errors.find("kva-export") != std::string::npos, f.noDisplay) << errors;
    }
}

// The reason is the output layer's own, or says what was wrong with the format.
TEST(DisplaySetUp, TheLineCarriesTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"loadLibrary", "scripted failure"},
        {"getBackBuffer", "scripted failure"},
        {"not RGB", "not direct RGB"},
        {"no converter", "no converter for 32-bit pixels with masks f800/7e0/1f"},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        fake::FakeOutput out;
        fake::Installed installed{out};
        for (const FailureScript& f : kFailures)
            if (std::string(f.name) == name) f.script(out);
        ::testing::internal::CaptureStderr();
        display::openDisplay("KVA", kW, kH);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(errors.find(reason), std::string::npos) << errors;
    }
}

TEST_F(DisplayTest, DepthsAreTriedAt32Then24Then16) {
    out.refusedDepths = {32};
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(out.named("setDisplayMode"),
              (Calls{"setDisplayMode 5x3x32", "setDisplayMode 5x3x24"}));
}

TEST_F(DisplayTest, OnlySixteenBitsLeft) {
    out.refusedDepths = {32, 24};
    out.format = {display::kPixelFormatRgb, 16, 0x7C00, 0x03E0, 0x001F};
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(out.named("setDisplayMode").back(), "setDisplayMode 5x3x16");
}

TEST_F(DisplayTest, NoDepthAcceptedFailsBeforeSurfaces) {
    out.refusedDepths = {32, 24, 16};
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(out.named("setDisplayMode").size(), 3u);
    EXPECT_EQ(out.calls.back(), "setDisplayMode 5x3x16");
    EXPECT_NE(errors.find("display mode"), std::string::npos);
}

TEST_F(DisplayTest, ArrangementsFallBackInOrder) {
    out.refusedArrangements = {Arrangement::TwoBackBuffers};
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(out.named("createSurfaces"), (Calls{"createSurfaces two", "createSurfaces one"}));
}

// A lone primary surface is accepted but has no back buffer to draw into.
TEST_F(DisplayTest, LonePrimaryFailsAtTheBackBuffer) {
    out.refusedArrangements = {Arrangement::TwoBackBuffers, Arrangement::OneBackBuffer};
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(out.named("createSurfaces").back(), "createSurfaces lone");
    EXPECT_EQ(out.calls.back(), "getBackBuffer");
}

TEST_F(DisplayTest, NothingIsDrawnBeforeTheFirstActivation) {
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(present(), (Calls{"sleep 1"}));
    EXPECT_EQ(lastResult, 1);
    EXPECT_TRUE(out.memory.empty());
}

struct Layout {
    display::PixelFormat format;
    display::RowConverter expected;
};

// Rows go through the converter the format selects, pitch bytes apart; the
// bytes past each row's pixels stay as they were.
TEST_F(DisplayTest, RowsAreConvertedPitchApartLeavingGapsAlone) {
    const Layout layouts[] = {
        {{display::kPixelFormatRgb, 32, 0xFF0000, 0xFF00, 0xFF}, display::convertRgb32},
        {{display::kPixelFormatRgb, 24, 0xFF, 0xFF00, 0xFF0000}, display::convertBgr24},
        {{display::kPixelFormatRgb, 16, 0xF800, 0x07E0, 0x001F}, display::convertRgb565},
        {{display::kPixelFormatRgb, 16, 0x001F, 0x03E0, 0x7C00}, display::convertBgr555},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.format.bitCount);
        fake::FakeOutput o;
        fake::Installed in{o};
        o.format = layout.format;
        const std::int32_t bpp = std::int32_t(layout.format.bitCount / 8);
        o.pitch = kW * bpp + 7;
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(display::openDisplay("KVA", kW, kH), 1);
        ::testing::internal::GetCapturedStderr();
        o.post(MessageKind::Activate, 1);
        const std::size_t before = o.calls.size();
        EXPECT_EQ(display::presentFrame(frame.data()), 1);
        EXPECT_EQ(Calls(o.calls.begin() + std::ptrdiff_t(before), o.calls.end()),
                  (Calls{"restore", "lock", "unlock", "flip", "sleep 0"}));

        std::vector<unsigned char> want(std::size_t(o.pitch) * kH, 0xEE);
        for (std::int32_t y = 0; y < kH; ++y)
            layout.expected(frame.data() + y * kW, want.data() + y * o.pitch, kW);
        EXPECT_EQ(o.memory, want);
    }
}

TEST_F(DisplayTest, DeactivationStopsDrawingAndReturnRestoresFirst) {
    ASSERT_EQ(open(), 1);
    out.post(MessageKind::Activate, 1);
    EXPECT_EQ(present().size(), 5u);
    out.post(MessageKind::Activate, 0);
    EXPECT_EQ(present(), (Calls{"sleep 1"}));
    EXPECT_EQ(lastResult, 1);
    EXPECT_EQ(present(), (Calls{"sleep 1"}));
    out.post(MessageKind::Activate, 0x100); // any non-zero value is active
    EXPECT_EQ(present(), (Calls{"restore", "lock", "unlock", "flip", "sleep 0"}));
}

TEST_F(DisplayTest, FailingLocksSkipFramesUntilOneSucceeds) {
    ASSERT_EQ(open(), 1);
    out.post(MessageKind::Activate, 1);
    out.failLocks = 2;
    EXPECT_EQ(present(), (Calls{"restore", "lock"}));
    EXPECT_EQ(lastResult, 0);
    EXPECT_EQ(present(), (Calls{"restore", "lock"}));
    EXPECT_EQ(lastResult, 0);
    EXPECT_EQ(present(), (Calls{"restore", "lock", "unlock", "flip", "sleep 0"}));
    EXPECT_EQ(lastResult, 1);
}

// Escape and a close request close the display in order, run the
// before-exit hooks (the audio device stops there), then exit with 0, from
// inside the pump: nothing is drawn and later messages stay queued. Escape
// is the key code in the low byte, whatever the bits above it carry.
TEST_F(DisplayTest, EscapeAndCloseRequestCloseThenExitZero) {
    const std::pair<MessageKind, std::uintptr_t> ends[] = {{MessageKind::KeyDown, 27},
                                                           {MessageKind::KeyDown, 0x011B},
                                                           {MessageKind::KeyDown, 0xFFFFFF1B},
                                                           {MessageKind::Close, 27},
                                                           {MessageKind::Close, 0}};
    for (const auto& [kind, wParam] : ends) {
        SCOPED_TRACE(wParam);
        fake::FakeOutput o;
        fake::Installed in{o};
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(display::openDisplay("KVA", kW, kH), 1);
        ::testing::internal::GetCapturedStderr();
        o.post(MessageKind::Activate, 1);
        o.post(kind, wParam);
        o.post(MessageKind::Activate, 0);
        const std::size_t before = o.calls.size();
        try {
            display::presentFrame(frame.data());
            ADD_FAILURE() << "presentFrame returned";
        } catch (const fake::ExitCalled& e) {
            EXPECT_EQ(e.code, 0);
        }
        Calls want = kCloseCalls;
        want.push_back("beforeExit");
        want.push_back("exit 0");
        EXPECT_EQ(Calls(o.calls.begin() + std::ptrdiff_t(before), o.calls.end()), want);
        EXPECT_EQ(o.messages.size(), 1u);
    }
}

TEST_F(DisplayTest, OtherKeysAndReleasesChangeNothing) {
    ASSERT_EQ(open(), 1);
    out.post(MessageKind::KeyDown, 'A');
    out.post(MessageKind::KeyDown, 0x1B00); // 27 outside the low byte
    out.post(MessageKind::KeyUp, 27);
    EXPECT_EQ(present(), (Calls{"defaultWindowProc", "sleep 1"}));
}

TEST_F(DisplayTest, WindowProcHidesTheCursorAndPassesTheRestOn) {
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(display::displayWindowProc({0, MessageKind::SetCursor, 0, 0}), 0);
    out.defaultResult = 42;
    EXPECT_EQ(display::displayWindowProc({0, MessageKind::Other, 7, 9}), 42);
    EXPECT_EQ(since(), (Calls{"hideCursor", "defaultWindowProc"}));
}

TEST_F(DisplayTest, NormalCloseReleasesInOrder) {
    ASSERT_EQ(open(), 1);
    display::closeDisplay();
    EXPECT_EQ(since(), kCloseCalls);
}

// After a partial set-up only what exists is released; a second close only
// switches the screen saver on again.
TEST_F(DisplayTest, CloseAfterAFailedSetUpReleasesWhatExists) {
    out.refusedDepths = {32, 24, 16};
    ASSERT_EQ(open(), 0);
    const std::size_t before = out.calls.size();
    display::closeDisplay();
    display::closeDisplay();
    EXPECT_EQ(Calls(out.calls.begin() + std::ptrdiff_t(before), out.calls.end()),
              (Calls{"restoreDisplayMode", "setNormal", "releaseDisplayObject", "destroyWindow",
                     "screenSaver on", "freeLibrary", "destroyWindow none", "screenSaver on"}));
}

} // namespace

// Presenting changed rows: rows 0 to 7 of an 8-row frame, each pixel
// converted as Rgb32; the back buffer's rows are compared one by one.
class DisplayRowsTest : public ::testing::Test {
  protected:
    static constexpr std::int32_t kRows = 8;
    fake::FakeOutput out;
    fake::Installed installed{out};
    std::vector<canvas::PixelWord> frame = std::vector<canvas::PixelWord>(kW * kRows, 0xFF000000);

    void SetUp() override {
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(display::openDisplay("KVA", kW, kRows), 1);
        ::testing::internal::GetCapturedStderr();
        out.post(MessageKind::Activate, 1);
    }
    Calls present(std::int32_t first, std::int32_t end) {
        const std::size_t before = out.calls.size();
        lastResult = display::presentRows(frame.data(), first, end);
        return Calls(out.calls.begin() + std::ptrdiff_t(before), out.calls.end());
    }
    // Paints every row a colour of its own, new with each call.
    void repaint() {
        ++paint;
        for (std::int32_t i = 0; i < kW * kRows; ++i)
            frame[std::size_t(i)] = 0xFF000000u | std::uint32_t(paint << 16 | i);
    }
    // The rows of the back buffer that hold the frame's current row.
    std::vector<std::int32_t> rowsShown() const {
        std::vector<std::int32_t> rows;
        for (std::int32_t y = 0; y < kRows; ++y) {
            std::vector<unsigned char> want(std::size_t(kW) * 4);
            display::convertRgb32(frame.data() + y * kW, want.data(), kW);
            if (std::equal(want.begin(), want.end(), out.memory.begin() + y * kW * 4))
                rows.push_back(y);
        }
        return rows;
    }
    std::uint32_t paint = 0;
    std::int32_t lastResult = -1;
    const std::vector<std::int32_t> all{0, 1, 2, 3, 4, 5, 6, 7};
};

// Only the named rows are converted and the layer is told which; a frame
// with none converts nothing but is still flipped (the flip paces).
TEST_F(DisplayRowsTest, OnlyTheNamedRowsAreConvertedAndNoneStillFlips) {
    repaint();
    present(0, kRows);
    ASSERT_EQ(rowsShown(), all);
    repaint();
    EXPECT_EQ(present(2, 5), (Calls{"restore", "lock", "unlock", "rows 2-5", "flip", "sleep 0"}));
    EXPECT_EQ(rowsShown(), (std::vector<std::int32_t>{2, 3, 4}));
    const std::vector<unsigned char> kept = out.memory;
    repaint();
    EXPECT_EQ(present(3, 3), (Calls{"restore", "lock", "unlock", "rows 3-3", "flip", "sleep 0"}));
    EXPECT_EQ(lastResult, 1);
    EXPECT_EQ(out.memory, kept);
    // Rows beyond the frame are cut off at its edges.
    EXPECT_EQ(present(-4, 99)[3], "rows 0-8");
    EXPECT_EQ(rowsShown(), all);
}

// The whole frame goes wherever the back buffer may not hold the last
// frame: the first one, contents the layer lost, a return from inactivity
// (even one within a single pump), and after a failed lock.
TEST_F(DisplayRowsTest, TheWholeFrameGoesWhereTheScreenCannotBeTrusted) {
    repaint();
    EXPECT_EQ(present(1, 2)[3], "rows 0-8") << "first frame";
    EXPECT_EQ(rowsShown(), all);

    const auto wholeAfter = [&](const char* what, auto&& script) {
        SCOPED_TRACE(what);
        present(0, kRows);
        repaint();
        script();
        const Calls calls = present(1, 2);
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(calls[3], "rows 0-8");
        EXPECT_EQ(rowsShown(), all);
        repaint();
        EXPECT_EQ(present(1, 2)[3], "rows 1-2") << "and only that frame";
    };
    wholeAfter("contents lost", [&] { out.loseContents = true; });
    wholeAfter("inactive for a frame", [&] {
        out.post(MessageKind::Activate, 0);
        EXPECT_EQ(present(1, 2), (Calls{"sleep 1"}));
        out.post(MessageKind::Activate, 1);
    });
    wholeAfter("away and back within one pump", [&] {
        out.post(MessageKind::Activate, 0);
        out.post(MessageKind::Activate, 1);
    });
    wholeAfter("a failed lock", [&] {
        out.failLocks = 1;
        EXPECT_EQ(present(1, 2), (Calls{"restore", "lock"}));
        EXPECT_EQ(lastResult, 0);
    });
}

// presentFrame leaves the layer to find the changed rows itself.
TEST_F(DisplayRowsTest, AWholeFramePresentNamesNoRows) {
    EXPECT_EQ(display::presentFrame(frame.data()), 1);
    EXPECT_FALSE(hasAny(out.calls, {"rows"}));
}
