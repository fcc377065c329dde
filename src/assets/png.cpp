// png.cpp -- placeholder until the decoder lands.
#include "assets/png.h"

namespace assets {

canvas::Image decodePng(FileBlob blob) {
    releaseFileBlob(blob);
    return {};
}

} // namespace assets
