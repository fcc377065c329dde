// seed_writer.cpp -- writes the fuzzers' seed corpora: the kinds of picture,
// archive and song the tests use.
// Usage: kva_fuzz_seeds PNG_DIR ARCHIVE_DIR SONG_DIR
#include "music_test_modules.h"
#include "test_assets.h"
#include "test_songs.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using testassets::Bytes;
using testassets::PngPicture;

PngPicture sampled(int width, int height, int colorType, int bitDepth) {
    PngPicture p;
    p.width = width;
    p.height = height;
    p.colorType = colorType;
    p.bitDepth = bitDepth;
    const int count = width * height * testassets::channelsOf(colorType);
    const unsigned top = (1u << bitDepth) - 1;
    for (int i = 0; i < count; ++i) p.samples.push_back(std::uint16_t((i * 37u + 11u) & top));
    if (colorType == 3) {
        for (unsigned i = 0; i <= top; ++i)
            p.palette.insert(p.palette.end(), {std::uint8_t(i), std::uint8_t(i * 5), 0x40});
    }
    return p;
}

std::vector<PngPicture> pictures() {
    std::vector<PngPicture> all;
    for (int depth : {1, 2, 4, 8, 16}) all.push_back(sampled(7, 5, 0, depth));
    for (int depth : {1, 2, 4, 8}) all.push_back(sampled(9, 3, 3, depth));
    for (int type : {2, 4, 6})
        for (int depth : {8, 16}) all.push_back(sampled(6, 4, type, depth));
    PngPicture keyedPalette = sampled(8, 8, 3, 4);
    keyedPalette.paletteAlpha = {0, 0x80, 0xff, 0x10};
    all.push_back(keyedPalette);
    PngPicture keyedRgb = sampled(4, 4, 2, 8);
    keyedRgb.transparent = {11, 48, 85};
    all.push_back(keyedRgb);
    PngPicture keyedGrey = sampled(4, 4, 0, 8);
    keyedGrey.transparent = {11};
    all.push_back(keyedGrey);
    PngPicture interlaced = sampled(13, 11, 6, 8);
    interlaced.interlaced = true;
    all.push_back(interlaced);
    all.push_back(sampled(1, 1, 6, 8));
    return all;
}

// A 9 x 3 palette picture whose suggested-palette chunk claims 1.9 GB: the
// decoder must not try to hold what such a chunk claims.
const Bytes kHugeChunkClaim = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x00, 0x00, 0x7b, 0xc4, 0xb7,
    0x35, 0x00, 0x00, 0x00, 0x06, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73,
    0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x73, 0x50, 0x4c, 0x54, 0x45, 0x00, 0x00, 0x40, 0x01,
    0x05, 0x40, 0x34, 0x1a, 0x3e, 0x10, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x08, 0x99,
    0x63, 0x58, 0xd5, 0xc0, 0x10, 0xca, 0xc0, 0xb0, 0xaa, 0x01, 0x00, 0x0c, 0x56, 0x02, 0xaa, 0xf2,
    0x70, 0xda, 0xaa, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

bool write(const std::string& path, const Bytes& bytes) {
    if (bytes.empty() || testassets::writeFile(path, bytes)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

// Short songs of each kind: MP3s (with a tag, mono, free format) and
// modules, one of them holding MP3 frames as its sample data.
std::vector<Bytes> songs() {
    using testmodules::Kind;
    const Bytes mp3 = testsongs::mp3Tone(440, 0.1);
    Bytes tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 16};
    tagged.resize(26, 0);
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    std::vector<Bytes> all = {mp3, tagged, testsongs::mp3Tone(440, 0.1, 22050, 1),
                              testsongs::mp3Tone(440, 0.1, 44100, 2, 0.5f, true)};
    for (Kind kind : {Kind::Mod, Kind::S3m, Kind::Xm, Kind::It})
        all.push_back(testmodules::build(kind, testmodules::sineCycle()));
    all.push_back(testmodules::build(Kind::Mod, testmodules::storedAs(Kind::Mod, mp3)));
    return all;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PNG_DIR ARCHIVE_DIR SONG_DIR\n", argv[0]);
        return 2;
    }
    const std::string pngDir = argv[1], archiveDir = argv[2];
    bool ok = true;
    std::vector<Bytes> encoded;
    for (const PngPicture& p : pictures()) encoded.push_back(testassets::writePng(p));
    for (std::size_t i = 0; i < encoded.size(); ++i)
        ok = write(pngDir + "/seed_" + std::to_string(i) + ".png", encoded[i]) && ok;
    ok = write(pngDir + "/huge_chunk_claim.png", kHugeChunkClaim) && ok;

    const Bytes song = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    const std::vector<std::vector<testassets::ZipEntry>> archives = {
        {{"moose_middle.png", encoded[5], true}, {"elg.mp3", song, false}},
        {{"MOOSE_MIDDLE.PNG", encoded.back(), false}},
        {{"data/moose_middle.png", encoded[0], true}, {"moose_middle.png", encoded[12], true}},
        {{"moose_middle.png", encoded[14], false}, {"ELG.MP3", song, true}},
        {{"moose_middle.png", kHugeChunkClaim, true}},
    };
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const std::string path = archiveDir + "/seed_" + std::to_string(i) + ".zip";
        if (!testassets::writeZip(path, archives[i])) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    const std::vector<Bytes> songList = songs();
    for (std::size_t i = 0; i < songList.size(); ++i)
        ok =
            write(std::string(argv[3]) + "/seed_" + std::to_string(i) + ".song", songList[i]) && ok;
    return ok ? 0 : 1;
}
