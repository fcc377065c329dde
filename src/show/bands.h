// bands.h -- which canvas rows a frame must compose again: the frame's three
// layers as drawn last time and as drawn now, and the band of rows outside
// which the two frames hold the same bytes.
#pragma once

#include "canvas/canvas.h"

#include <cstdint>

namespace show {

// Canvas rows [first, end); first >= end is no row at all.
struct RowBand {
    std::int32_t first = 0;
    std::int32_t end = 0;
    bool empty() const { return first >= end; }
};

// A picture placed on the canvas; the empty Image stands for no picture.
struct Placed {
    canvas::Image image;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// What a frame shows, bottom to top, and the canvas it was drawn on. A frame
// that is not known (nothing drawn yet) differs from any other in every row.
struct Layers {
    bool known = false;
    canvas::Image target;
    Placed background;
    Placed moose;
    Placed lyric;
};

// The rows a placed picture touches on a width x height canvas once it is
// clipped the way the blitter clips it (none when it lies wholly outside).
RowBand coveredRows(const Placed& placed, std::int32_t width, std::int32_t height);

// The smallest band that holds both.
RowBand unite(RowBand a, RowBand b);

// The rows in which frame `now` can differ from frame `before`: every row
// when the canvas or the background differs, or `before` is not known; else,
// for the moose and the lyric each, the rows of its old and of its new place
// when picture or position changed. Empty when the frames are the same.
RowBand changedRows(const Layers& before, const Layers& now);

} // namespace show
