// show_bands_test.cpp -- composing only the rows that changed: the band
// arithmetic, and the whole show stepped both ways (every row each frame,
// and changed rows only) giving the same canvas and the same converted bytes.
#include "display/convert.h"
#include "display/display.h"
#include "fake_output.h"
#include "show/bands.h"
#include "show/show.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace show {
// Any two empty bands are the same: no row.
bool operator==(RowBand a, RowBand b) {
    return (a.empty() && b.empty()) || (a.first == b.first && a.end == b.end);
}
std::ostream& operator<<(std::ostream& os, RowBand b) {
    return os << "[" << b.first << ", " << b.end << ")";
}
} // namespace show

namespace {

using show::Placed;
using show::RowBand;

// Pictures told apart by their pixel address alone; nothing is drawn.
canvas::PixelWord someWords[16];
int picturesMade = 0;
canvas::Image picture(std::int32_t w, std::int32_t h, std::int32_t alpha = 1) {
    return canvas::Image{w, h, someWords + picturesMade++ % 16, alpha};
}

TEST(Bands, CoveredRowsAreThoseTheClippedPictureTouches) {
    const canvas::Image p = picture(100, 50);
    EXPECT_EQ(show::coveredRows(Placed{p, 0, 84}, 640, 480), (RowBand{84, 134}));
    EXPECT_EQ(show::coveredRows(Placed{p, 0, -10}, 640, 480), (RowBand{0, 40}));
    EXPECT_EQ(show::coveredRows(Placed{p, 0, 450}, 640, 480), (RowBand{450, 480}));
    EXPECT_EQ(show::coveredRows(Placed{p, -99, 0}, 640, 480), (RowBand{0, 50}));
    EXPECT_EQ(show::coveredRows(Placed{p, 639, 0}, 640, 480), (RowBand{0, 50}));
    // Wholly outside, empty, or at the ends of the int range: no row.
    for (const Placed& outside :
         {Placed{p, -100, 0}, Placed{p, 640, 0}, Placed{p, 0, -50}, Placed{p, 0, 480},
          Placed{p, INT32_MIN, 0}, Placed{p, INT32_MAX, 0}, Placed{p, 0, INT32_MAX},
          Placed{canvas::Image{}, 0, 0}})
        EXPECT_TRUE(show::coveredRows(outside, 640, 480).empty()) << outside.x << "," << outside.y;
}

TEST(Bands, ChangedRowsHoldTheOldAndNewPlacesOfWhatMoved) {
    std::vector<canvas::PixelWord> words(1);
    const canvas::Image target{640, 480, words.data(), 0};
    const canvas::Image back = picture(640, 480, 0), tall = picture(340, 336),
                        short_ = picture(340, 200), lyric = picture(1800, 84);
    show::Layers before{true, target, {back, 0, 0}, {tall, 150, 84}, {lyric, 100, 0}};
    show::Layers now = before;
    EXPECT_TRUE(show::changedRows(before, now).empty()) << "a still frame";

    const RowBand all{0, 480};
    show::Layers unknown = before;
    unknown.known = false;
    EXPECT_EQ(show::changedRows(unknown, now), all);
    now.background.image = picture(640, 480, 0);
    EXPECT_EQ(show::changedRows(before, now), all) << "another background";
    now = before;
    now.target.pixels = nullptr;
    EXPECT_EQ(show::changedRows(before, now), all) << "another canvas";

    now = before;
    now.lyric.x = 97;
    EXPECT_EQ(show::changedRows(before, now), (RowBand{0, 84}));
    now.moose = Placed{short_, 190, 84};
    EXPECT_EQ(show::changedRows(before, now), (RowBand{0, 420})) << "old rows kept";
    EXPECT_EQ(show::changedRows(now, before), (RowBand{0, 420})) << "new rows added";
    now = before;
    now.moose = Placed{};
    EXPECT_EQ(show::changedRows(before, now), (RowBand{84, 420})) << "hidden";

    // A lyric long gone to the left moves on unseen; a cue brings it back.
    before.lyric.x = -5000;
    now = before;
    now.lyric.x = -5003;
    EXPECT_TRUE(show::changedRows(before, now).empty());
    now.lyric.x = 637;
    EXPECT_EQ(show::changedRows(before, now), (RowBand{0, 84}));
}

// Pictures of the show's sizes with noisy alpha, so that every blended byte
// depends on what lies under it; the three poses differ in height.
struct NoisyPictures {
    std::vector<std::vector<canvas::PixelWord>> store;
    show::Pictures pictures;
    std::uint32_t seed = 12345;

    canvas::Image make(std::int32_t w, std::int32_t h, bool alpha) {
        store.emplace_back(std::size_t(w) * std::size_t(h));
        for (canvas::PixelWord& word : store.back()) {
            seed = seed * 1664525u + 1013904223u;
            word = seed ^ (seed >> 13);
        }
        return canvas::Image{w, h, store.back().data(), alpha ? 1 : 0};
    }
    NoisyPictures() {
        store.reserve(11);
        pictures.sunset = make(640, 480, false);
        pictures.greets = make(640, 480, false);
        pictures.credits = make(600, 470, false); // leaves cleared rows and columns
        const std::int32_t heights[3] = {336, 300, 320};
        for (int p = 0; p < 3; ++p) pictures.moose[p] = make(340, heights[p], true);
        const std::int32_t widths[6] = {0, 2081, 1815, 1341, 1641, 1711};
        for (int l = 1; l <= 5; ++l) pictures.lyric[l] = make(widths[l], 84 + l, true);
    }
};

// Every time something happens in the show: cues, the moose's entry and the
// background switches.
constexpr float kEvents[] = {0,   7,   14,  30,  31,  32,  33,  34,  35,  39,  40,  41,  42,  43,
                             44,  47,  78,  100, 101, 102, 103, 104, 105, 106, 110, 111, 112, 113,
                             114, 115, 118, 134, 135, 136, 137, 138, 139, 143, 144, 145, 146, 147,
                             148, 151, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178, 179,
                             180, 181, 182, 183, 184, 185, 186, 187, 188, 189};

bool nearAnEvent(float showTime) {
    for (float t : kEvents)
        if (std::fabs(showTime - t) < 0.05f) return true;
    return false;
}

struct LayoutCase {
    display::PixelFormat format;
    display::RowConverter convert;
};
const LayoutCase kLayouts[8] = {
    {{display::kPixelFormatRgb, 32, 0xFF0000, 0xFF00, 0xFF}, display::convertRgb32},
    {{display::kPixelFormatRgb, 32, 0xFF, 0xFF00, 0xFF0000}, display::convertBgr32},
    {{display::kPixelFormatRgb, 24, 0xFF0000, 0xFF00, 0xFF}, display::convertRgb24},
    {{display::kPixelFormatRgb, 24, 0xFF, 0xFF00, 0xFF0000}, display::convertBgr24},
    {{display::kPixelFormatRgb, 16, 0xF800, 0x07E0, 0x001F}, display::convertRgb565},
    {{display::kPixelFormatRgb, 16, 0x001F, 0x07E0, 0xF800}, display::convertBgr565},
    {{display::kPixelFormatRgb, 16, 0x7C00, 0x03E0, 0x001F}, display::convertRgb555},
    {{display::kPixelFormatRgb, 16, 0x001F, 0x03E0, 0x7C00}, display::convertBgr555},
};

void convertWhole(const std::vector<canvas::PixelWord>& frame, const LayoutCase& layout,
                  std::vector<unsigned char>& bytes) {
    const std::int32_t pitch = 640 * std::int32_t(layout.format.bitCount / 8);
    bytes.resize(std::size_t(pitch) * 480);
    for (std::int32_t y = 0; y < 480; ++y)
        layout.convert(frame.data() + y * 640, bytes.data() + y * pitch, 640);
}

// The show stepped twice over, once composing whole frames (the reference)
// and once changed rows only, the canvases compared every frame. With
// `shown` (a layout), the changed-row frames also go through the display
// (over the scripted layer, in that layout) as kva presents them, its bytes
// compared every frame; beside it all eight layouts are brought up to date
// the same way (the rows named since the last comparison, converted) and
// compared around every event.
class WholeAgainstBanded : public ::testing::Test {
  protected:
    NoisyPictures pics;
    std::vector<canvas::PixelWord> wholeWords = std::vector<canvas::PixelWord>(640 * 480);
    std::vector<canvas::PixelWord> bandWords = std::vector<canvas::PixelWord>(640 * 480);
    const canvas::Image whole{640, 480, wholeWords.data(), 0};
    const canvas::Image banded{640, 480, bandWords.data(), 0};
    fake::FakeOutput out;
    fake::Installed installed{out};
    std::vector<std::vector<unsigned char>> kept; // by layout, as the display would hold it
    RowBand stale; // rows named since kept was last brought up to date
    std::vector<unsigned char> reference;

    // Runs the show to its end with delta(frame) as each frame's delta,
    // stopping at the first difference (the failure says where).
    void run(float (*delta)(int frame), int shown = -1) {
        if (shown < 0) return runCanvasOnly(delta);
        out.format = kLayouts[shown].format;
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(display::openDisplay("KVA", 640, 480), 1);
        ::testing::internal::GetCapturedStderr();
        out.post(display::MessageKind::Activate, 1);
        kept.assign(8, {});
        for (int l = 0; l < 8; ++l) convertWhole(bandWords, kLayouts[l], kept[std::size_t(l)]);
        stale = RowBand{};

        show::ShowState a, b;
        show::initShowState(a);
        show::initShowState(b);
        b.composeWhole = false;
        for (int frame = 0;; ++frame) {
            const float d = delta(frame);
            const bool more = show::stepShow(a, d, pics.pictures, whole);
            ASSERT_EQ(show::stepShow(b, d, pics.pictures, banded), more);
            if (!more) break;
            ASSERT_EQ(wholeWords, bandWords)
                << "canvas at frame " << frame << ", " << a.showTime << " s";
            ASSERT_EQ(display::presentRows(bandWords.data(), b.composed.first, b.composed.end), 1);
            if (out.calls.size() > 1000) out.calls.clear();
            convertWhole(wholeWords, kLayouts[shown], reference);
            ASSERT_EQ(out.memory, reference)
                << "converted at frame " << frame << ", " << a.showTime << " s";
            stale = show::unite(stale, b.composed);
            if (nearAnEvent(a.showTime)) compareLayouts(a.showTime, frame);
        }
        display::closeDisplay();
    }

    void runCanvasOnly(float (*delta)(int frame)) {
        show::ShowState a, b;
        show::initShowState(a);
        show::initShowState(b);
        b.composeWhole = false;
        for (int frame = 0;; ++frame) {
            const float d = delta(frame);
            const bool more = show::stepShow(a, d, pics.pictures, whole);
            ASSERT_EQ(show::stepShow(b, d, pics.pictures, banded), more);
            if (!more) break;
            ASSERT_EQ(wholeWords, bandWords)
                << "canvas at frame " << frame << ", " << a.showTime << " s";
        }
    }

    void compareLayouts(float showTime, int frame) {
        for (int l = 0; l < 8; ++l) {
            const LayoutCase& layout = kLayouts[l];
            const std::int32_t pitch = 640 * std::int32_t(layout.format.bitCount / 8);
            for (std::int32_t y = stale.first; y < stale.end; ++y)
                layout.convert(bandWords.data() + y * 640, kept[std::size_t(l)].data() + y * pitch,
                               640);
            convertWhole(wholeWords, layout, reference);
            ASSERT_EQ(kept[std::size_t(l)], reference)
                << "layout " << l << " at frame " << frame << ", " << showTime << " s";
        }
        stale = RowBand{};
    }
};

TEST_F(WholeAgainstBanded, AtTheExportersSixtiethsOfASecond) {
    run([](int) { return 1.0f / 60.0f; }, 4);
}

TEST_F(WholeAgainstBanded, At144Hertz) {
    run([](int) { return 1.0f / 144.0f; });
}

// Steps from 1/120 s to 1/20 s, and now and then a stall of 1.3 s that
// makes several cues wait for the following frames.
TEST_F(WholeAgainstBanded, AtUnevenSteps) {
    run([](int frame) {
        if (frame % 997 == 500) return 1.3f;
        const std::uint32_t h = std::uint32_t(frame) * 2654435761u >> 24;
        return 1.0f / float(20 + h % 101);
    });
}

// What the changed-row path costs: nothing while the show stands still,
// the lyric's rows while only the lyric moves.
TEST(BandedShow, StillFramesComposeNothingAndAMovingLyricOnlyItsRows) {
    NoisyPictures pics;
    std::vector<canvas::PixelWord> words(640 * 480);
    const canvas::Image target{640, 480, words.data(), 0};
    show::ShowState s;
    show::initShowState(s);
    s.composeWhole = false;
    show::stepShow(s, 1.0f / 60.0f, pics.pictures, target);
    EXPECT_EQ(s.composed, (RowBand{0, 480})) << "the first frame";
    while (s.showTime < 20.0f) show::stepShow(s, 1.0f / 60.0f, pics.pictures, target);
    EXPECT_EQ(s.composed, (RowBand{0, 85})) << "vers_1 crossing";
    while (s.showTime < 28.0f) show::stepShow(s, 1.0f / 60.0f, pics.pictures, target);
    EXPECT_TRUE(s.composed.empty()) << "nothing moves";
}

} // namespace
