// music.h -- the song: opened from memory, played looped, ended with a
// slow-down and a fade.
#pragma once

#include "assets/store.h"

#include <cstdint>

namespace music {

// Keeps the blob for the whole run. 1 on success, 0 on failure (silent).
std::int32_t open(assets::FileBlob blob);
void play();
// Slows the song down, fades it out and releases the audio; returns when done.
void end();

} // namespace music
