// makepack.h -- the default asset pack: eleven pictures and the song, drawn,
// composed and encoded here, and the archive that carries them.
#pragma once

#include "makepack/draw.h"

#include <cstdint>
#include <string>
#include <vector>

namespace makepack {

using Bytes = std::vector<std::uint8_t>;

struct PackFile {
    std::string name; // at the archive's root, as the show asks for it
    Bytes bytes;
};

// How a picture is stored; between them the pack covers every decoder path.
enum class PngKind { Rgb8, Rgb16, Rgba8, Rgba16, Palette8 };

// Encodes the raster; Palette8 quantises to at most 256 colours first.
Bytes encodePng(const Raster& picture, PngKind kind);

// The pictures as rasters (for looking at them, and for the tests).
Raster drawSunset();
Raster drawGreets();
Raster drawCredits();
enum class Pose { Middle, Right, Left };
Raster drawMoose(Pose pose);
// Part of the moose drawn at any scale, its outlines sharp at every size:
// raster pixel (x, y) shows the moose's point origin + (x + 0.5, y + 0.5) /
// scale, in the units of the whole moose's own raster.
struct MooseView {
    int width = 0, height = 0;
    Vec2 origin;
    float scale = 1; // raster pixels to a unit of the moose
};
Raster drawMoose(Pose pose, const MooseView& view);
struct Lyric {
    const char* file;
    const char* text;
};
const std::vector<Lyric>& lyrics();
// The menu icon: the moose's head on a round sunset, size x size, alpha,
// drawn at that size (kIconMinSize to kIconMaxSize).
constexpr int kIconMinSize = 16, kIconMaxSize = 1024;
Raster drawIcon(int size);
Raster drawLyric(const char* text);

// The eleven PNG files, in the order the show loads them.
std::vector<PackFile> makePictures();

// The song as 44.1 kHz stereo samples, interleaved, -1..1.
std::vector<float> renderSong();
constexpr int kSampleRate = 44100;
constexpr double kTempo = 120.0; // beats per minute: two beats a second
constexpr int kSongBars = 20;    // of four beats: 40 seconds
constexpr long kSongFrames = static_cast<long>(kSongBars * 4 * 60.0 / kTempo * kSampleRate);

// LAME, constant bit rate with its gapless tag; empty on failure.
Bytes encodeMp3(const std::vector<float>& interleaved);

// The same tune as a four-channel "M.K." tracker module.
Bytes makeModule();

// Every file of the pack: the pictures and "elg.mp3".
std::vector<PackFile> makePack();

// Writes a zip archive with deflated entries at its root and fixed dates.
bool writeZip(const std::string& path, const std::vector<PackFile>& files);

bool writeFile(const std::string& path, const Bytes& bytes);

} // namespace makepack
