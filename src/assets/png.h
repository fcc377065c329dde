// png.h -- PNG data held in a FileBlob decoded into an Image.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"

#include <cstddef>
#include <cstdint>

struct png_struct_def; // libpng's read structure; its header stays out of here

namespace assets {

// Pictures beyond these bounds are refused before anything is allocated.
constexpr std::int32_t kMaxPictureSide = 16384;
constexpr std::int64_t kMaxPicturePixels = 16 * 1024 * 1024;

// Takes ownership of blob.data and releases it, whatever the outcome. The
// Image is 0xAARRGGBB words; hasAlpha is set for grey-with-alpha, truecolour-
// with-alpha and palette pictures with a transparency chunk. A library error
// prints the blob's name on stdout (the library's own message goes to stderr)
// and gives the empty Image, or, when the error comes after the header, an
// Image of the header's size with every word cleared. Out of memory shows the
// "PNG:  Out of Memory" box and gives the empty Image.
canvas::Image decodePng(FileBlob blob);

// libpng's read function: pulls count bytes from the FileBlob registered as
// the I/O pointer. A read that cannot be satisfied raises the library's error.
void memoryReadCallback(png_struct_def* png, std::uint8_t* destination, std::size_t count);

} // namespace assets
