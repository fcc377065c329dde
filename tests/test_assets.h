// test_assets.h -- writers for test pictures (libpng) and zip archives
// (minizip), and a scratch directory to run file tests in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testassets {

using Bytes = std::vector<std::uint8_t>;

// A picture as the PNG format holds it, before encoding.
struct PngPicture {
    int width = 1;
    int height = 1;
    int colorType = 6; // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 8;  // 1, 2, 4, 8 or 16, as the colour type allows
    // Row-major samples, channelsOf(colorType) per pixel (palette: the index),
    // each below 2^bitDepth.
    std::vector<std::uint16_t> samples;
    Bytes palette;      // colour type 3: red, green, blue per entry
    Bytes paletteAlpha; // colour type 3: tRNS alpha per entry
    // tRNS colour: one grey value (type 0) or red, green, blue (type 2).
    std::vector<std::uint16_t> transparent;
    bool interlaced = false;
    int compressionLevel = 6;
};

int channelsOf(int colorType);

// Encodes the picture; empty when libpng refuses it.
Bytes writePng(const PngPicture& picture);

// An 8-bit RGBA (withAlpha) or RGB picture from 0xAARRGGBB words.
PngPicture pictureFromWords(int width, int height, const std::vector<std::uint32_t>& words,
                            bool withAlpha);

bool writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

struct ZipEntry {
    std::string name; // stored as given, directory prefix and letter case included
    Bytes bytes;
    bool deflated = true; // else stored
};

// Writes a zip archive holding the entries in order; false on any failure.
bool writeZip(const std::string& path, const std::vector<ZipEntry>& entries);

// A fresh directory of its own that becomes the working directory while the
// object lives; the previous one is restored and the directory removed after.
class ScopedTempDir {
  public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string previous_;
};

} // namespace testassets
