// png.h -- PNG data held in a FileBlob decoded into an Image.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"

#include <cstddef>
#include <cstdint>

struct png_struct_def; // libpng's read structure; its header stays out of here

namespace assets {

// Takes ownership of blob.data and releases it, whatever the outcome. The
// Image is 0xAARRGGBB words; hasAlpha is set for grey-with-alpha, truecolour-
// with-alpha and palette pictures with a transparency chunk. A library error
// prints the blob's name on stdout (the library's own message goes to stderr)
// and gives the empty Image, or, when the error comes after the header, an
// Image of the header's size with every word cleared. Out of memory shows the
// "PNG:  Out of Memory" box and gives the empty Image. A picture of more
// than maxPixels (at most kMaxPicturePixels), or with a side beyond
// kMaxPictureSide, is refused from its header like a damaged one, before
// anything is allocated; so is one of more than kMaxPictureChunks chunks
// (empty image data chunks aside). Reading stops with the last row: the
// rest of the compressed data and the chunks after it are neither read nor
// inflated. The progress hook runs every few rows and every few reads.
canvas::Image decodePng(FileBlob blob, std::int64_t maxPixels = kMaxPicturePixels);

// Loads and decodes pictures in order within the pixels they may hold
// together: a picture that would pass totalPixels is refused like a
// damaged one, and later ones that still fit are loaded.
void loadPictures(const char* const* names, canvas::Image* images, std::int32_t count,
                  std::int64_t totalPixels = kMaxTotalPicturePixels);

// libpng's read function: pulls count bytes from the FileBlob registered as
// the I/O pointer. A read that cannot be satisfied raises the library's error.
void memoryReadCallback(png_struct_def* png, std::uint8_t* destination, std::size_t count);

} // namespace assets
