// png.h -- PNG data held in a FileBlob decoded into an Image.
#pragma once

#include "assets/store.h"
#include "canvas/canvas.h"

namespace assets {

// Takes ownership of blob.data. A failed decode shows in the Image (empty, or
// the header's size after a late error).
canvas::Image decodePng(FileBlob blob);

} // namespace assets
