// pack.cpp -- the eleven pictures in the storage each is meant to test, and
// the whole pack.
#include "makepack/makepack.h"

namespace makepack {

// Between them the pictures cover the decoder's paths: 8- and 16-bit
// truecolour, palette, and 8- and 16-bit alpha.
std::vector<PackFile> makePictures() {
    std::vector<PackFile> files;
    auto add = [&](const char* name, const Raster& r, PngKind kind) {
        files.push_back({name, encodePng(r, kind)});
    };
    add("moose_middle.png", drawMoose(Pose::Middle), PngKind::Rgba8);
    add("moose_right.png", drawMoose(Pose::Right), PngKind::Rgba8);
    add("moose_left.png", drawMoose(Pose::Left), PngKind::Rgba8);
    add("solnedgang.png", drawSunset(), PngKind::Rgb8);
    add("greets.png", drawGreets(), PngKind::Palette8);
    add("credits.png", drawCredits(), PngKind::Rgb16);
    const char* const order[] = {"refreng_1.png", "refreng_2.png", "vers_1.png", "vers_2.png",
                                 "mange_hoyre.png"};
    for (const char* name : order) {
        for (const Lyric& l : lyrics()) {
            if (std::string(l.file) != name) continue;
            bool sixteen = std::string(name) == "vers_1.png";
            add(name, drawLyric(l.text), sixteen ? PngKind::Rgba16 : PngKind::Rgba8);
        }
    }
    return files;
}

std::vector<PackFile> makePack() {
    std::vector<PackFile> files = makePictures();
    files.push_back({"elg.mp3", encodeMp3(renderSong())});
    return files;
}

} // namespace makepack
