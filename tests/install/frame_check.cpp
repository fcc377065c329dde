// frame_check.cpp -- compares a picture with one entry of a pack, both decoded
// by the show's own decoder: prints how many pixels differ in colour and
// exits 0 only when none do.
//   kva_frame_check PACK ENTRY PICTURE.png
#include "assets/png.h"
#include "assets/store.h"
#include "canvas/canvas.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// A plain file as the decoder takes it (any path, any name length).
canvas::Image decodeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    assets::FileBlob blob;
    blob.data = static_cast<std::uint8_t*>(std::malloc(bytes.size() + 1));
    std::copy(bytes.begin(), bytes.end(), blob.data);
    blob.size = static_cast<std::int32_t>(bytes.size());
    return assets::decodePng(blob);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: kva_frame_check PACK ENTRY PICTURE.png\n", stderr);
        return 2;
    }
    if (!assets::openArchive(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    const canvas::Image want = assets::decodePng(assets::loadFile(argv[2]));
    const canvas::Image got = decodeFile(argv[3]);
    if (!want.pixels || !got.pixels || want.width != got.width || want.height != got.height) {
        std::printf("sizes differ: %dx%d expected, %dx%d found\n", want.width, want.height,
                    got.width, got.height);
        return 1;
    }
    long differing = 0;
    for (long i = 0; i < long(want.width) * want.height; ++i)
        differing += ((want.pixels[i] ^ got.pixels[i]) & 0xffffffu) != 0;
    std::printf("%ld pixels differ\n", differing);
    return differing == 0 ? 0 : 1;
}
