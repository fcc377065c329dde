// music.cpp -- placeholder until the player lands: the song is kept, not played.
#include "music/music.h"

namespace music {
namespace {
assets::FileBlob song;
}

std::int32_t open(assets::FileBlob blob) {
    song = blob;
    return 0;
}
void play() {}
void end() {}

} // namespace music
