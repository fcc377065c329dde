// lyrics.cpp -- the lyric banners: one line of song text each, glowing
// letters on a transparent ground, long enough to scroll for many seconds.
#include "makepack/makepack.h"

namespace makepack {
namespace {
constexpr int kBannerHeight = 84; // the moose's antlers start just below
constexpr int kTextSize = 50;
constexpr int kPad = 24;
} // namespace

const std::vector<Lyric>& lyrics() {
    static const std::vector<Lyric> lines = {
        {"vers_1.png", "Langt inne i skogen, der sola går ned, står elgen og venter på dansen..."},
        {"refreng_1.png", "Elg, elg, dans med meg! Ett steg til høyre, ett steg til venstre!"},
        {"refreng_2.png", "Elgen danser, skogen synger, hele natta lang!"},
        {"vers_2.png", "Store horn og lange bein, han tramper takten i lyngen..."},
        {"mange_hoyre.png", "Mange til høyre! Mange til høyre! Mange, mange til høyre!"},
    };
    return lines;
}

Raster drawLyric(const char* text) {
    Font font(fontPath("DejaVuSans-Bold.ttf"), kTextSize);
    int width = (font.ok() ? font.measure(text) : 0) + 2 * kPad;
    Raster r = makeRaster(width, kBannerHeight, rgb(0.1f, 0.05f, 0.15f, 0));
    if (!font.ok()) return r;
    Mask mask = makeMask(width, kBannerHeight);
    int baseline = 54;
    font.draw(mask, text, kPad, baseline);
    TextStyle st;
    st.top = hex(0xfff6b0);
    st.bottom = hex(0xff7a30);
    st.outline = hex(0x2a0c3a, 0.95f);
    st.outlineRadius = 3;
    st.shadow = rgb(0.05f, 0, 0.1f, 0.75f);
    st.shadowBlur = 4;
    st.shadowDx = 4, st.shadowDy = 5;
    paintText(r, mask, st, baseline - font.ascent() + 10, baseline);
    return r;
}

} // namespace makepack
