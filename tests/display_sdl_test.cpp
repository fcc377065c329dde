// display_sdl_test.cpp -- the display over the real SDL2 layer on SDL's
// dummy video driver (named in SDL_VIDEODRIVER by the test runner): its
// only screen is larger than the frame, so the frame goes to the centre.
#include "display/display.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

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

} // namespace
