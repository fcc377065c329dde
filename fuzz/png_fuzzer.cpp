// png_fuzzer.cpp -- decodePng on arbitrary bytes.
#include "assets/png.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0x7fffffff) return 0;
    assets::FileBlob blob;
    std::strcpy(blob.name, "fuzz.png");
    if (size > 0) {
        blob.data = static_cast<std::uint8_t*>(std::malloc(size));
        std::memcpy(blob.data, data, size);
        blob.size = static_cast<std::int32_t>(size);
    }
    canvas::Image image = assets::decodePng(blob); // owns and releases blob.data
    canvas::releaseImage(image);
    return 0;
}
