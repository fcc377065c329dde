// bands.cpp -- the rows two frames differ in, from what each one shows.
#include "show/bands.h"

#include <algorithm>

namespace show {
namespace {

bool samePicture(const canvas::Image& a, const canvas::Image& b) {
    return a.pixels == b.pixels && a.width == b.width && a.height == b.height &&
           a.hasAlpha == b.hasAlpha;
}

bool samePlace(const Placed& a, const Placed& b) {
    return samePicture(a.image, b.image) && a.x == b.x && a.y == b.y;
}

// [from, from + length) clipped to [0, limit), in 64 bits: positions near
// the ends of the int range must not wrap.
bool overlaps(std::int64_t from, std::int64_t length, std::int64_t limit) {
    return std::min(from + length, limit) > std::max<std::int64_t>(from, 0);
}

RowBand movedRows(const Placed& before, const Placed& now, const canvas::Image& target) {
    if (samePlace(before, now)) return {};
    return unite(coveredRows(before, target.width, target.height),
                 coveredRows(now, target.width, target.height));
}

} // namespace

RowBand coveredRows(const Placed& p, std::int32_t width, std::int32_t height) {
    const std::int64_t w = p.image.width, h = p.image.height;
    if (w <= 0 || h <= 0 || !overlaps(p.x, w, width) || !overlaps(p.y, h, height)) return {};
    const std::int64_t first = std::max<std::int64_t>(p.y, 0);
    const std::int64_t end = std::min<std::int64_t>(p.y + h, height);
    return {static_cast<std::int32_t>(first), static_cast<std::int32_t>(end)};
}

RowBand unite(RowBand a, RowBand b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.first, b.first), std::max(a.end, b.end)};
}

RowBand changedRows(const Layers& before, const Layers& now) {
    const RowBand all{0, now.target.height};
    if (!before.known || !samePicture(before.target, now.target) ||
        !samePlace(before.background, now.background))
        return all;
    return unite(movedRows(before.moose, now.moose, now.target),
                 movedRows(before.lyric, now.lyric, now.target));
}

} // namespace show
