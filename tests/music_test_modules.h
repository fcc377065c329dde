// music_test_modules.h -- the smallest tracker modules of each kind the show
// can be given (MOD, S3M, XM, IT), written in code: one pattern whose first
// row starts one looped sample on the first channel.
#pragma once

#include <cstdint>
#include <vector>

namespace testmodules {

enum class Kind { Mod, S3m, Xm, It };

// sample: signed 8-bit sample data, looped whole (even length for MOD).
std::vector<std::uint8_t> build(Kind kind, const std::vector<std::int8_t>& sample);

// A module that plays one pattern of rows rows (S3M: always 64) orders
// times, the pattern looping back from its last row to its first 15 times
// (S3M and IT only): small files that declare hours of song.
std::vector<std::uint8_t> looping(Kind kind, std::uint32_t orders, std::uint32_t rows);

// One cycle of a sine in 32 samples: a steady tone once looped.
std::vector<std::int8_t> sineCycle();

// The sample that kind stores in its file as exactly bytes (for sample data
// that holds other files).
std::vector<std::int8_t> storedAs(Kind kind, const std::vector<std::uint8_t>& bytes);

} // namespace testmodules
