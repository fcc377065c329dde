// runs.h -- the three things kva-export makes (a still, a PNG sequence, a
// video) and the messages they share.
#pragma once

#include "export/compose.h"
#include "export/formats.h"
#include "export/options.h"
#include "export/output.h"

#include <string>

namespace exporter {

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// "kva-export: message" on standard error; gives kExitFailed.
int fail(const std::string& message);

// "kva-export: cannot write typed: reason"; gives kExitFailed.
int cannotWrite(const std::string& typed, const std::string& reason);

// Says what a stop leaves (what stays), gives kExitStopped.
int stopped(const std::string& what = "nothing written");

// What a stop leaves behind in target once bytes may have gone into it.
std::string leftIn(const OutputTarget& target);

// This process's id, the tag of its partial files.
std::string processTag();

// Loads the pictures and the song; false, with the places searched named
// on standard error, when not one of them was found (a blank video).
bool loadFoundAssets(ShowAssets& assets);

// A still is a PNG: without an extension it may only go into a FIFO, a
// device or standard output. The name was checked (.png or none) before.
int runStill(const Options& o);
int runFrames(const Options& o);
int runVideo(const Options& o, Container container);

} // namespace exporter
