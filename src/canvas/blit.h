// blit.h -- the clipped blitter: opaque pictures are copied, pictures with
// alpha are blended with the show's own integer formula (a divide by 256).
#pragma once

#include "canvas/canvas.h"

namespace canvas {

// Copies or blends the w x h rectangle of src at (srcX, srcY) to dst at
// (x, y), clipped to dst. w or h of 0 means the whole of src.
void blitImage(Image dst, Image src, std::int32_t x, std::int32_t y, std::int32_t srcX,
               std::int32_t srcY, std::int32_t w, std::int32_t h);

// The whole of src with its top-left corner at (x, y).
void drawImage(Image dst, Image src, std::int32_t x, std::int32_t y);

// Blends count source words over count destination words, per channel
// D = (D * (255 - A) + S * A) >> 8 (the alpha byte takes the same formula).
// Chooses the widest instruction set the processor has.
void blendRow(PixelWord* dst, const PixelWord* src, std::int32_t count);

// The per-pixel formula itself, one word; the reference every path matches.
inline PixelWord blendPixel(PixelWord d, PixelWord s) {
    const std::uint32_t a = s >> 24, ia = 255 - a;
    PixelWord out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t dc = (d >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
        out |= ((dc * ia + sc * a) >> 8) << shift;
    }
    return out;
}

// The individual paths, for tests and benchmarks. A path the processor or
// the build lacks is null.
using BlendRowFn = void (*)(PixelWord* dst, const PixelWord* src, std::int32_t count);
struct BlendPaths {
    BlendRowFn scalar;
    BlendRowFn avx2;
    BlendRowFn avx512;
};
BlendPaths blendPaths();

} // namespace canvas
