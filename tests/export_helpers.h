// export_helpers.h -- what the exporter's tests share: a test pack of
// plain files, the kva-export program run through the shell, and looks at
// files and processes.
#pragma once

#include <string>

namespace exporttest {

// The whole file, or "" when it cannot be read.
std::string slurp(const std::string& path);

// Entries of dir whose name holds part.
int filesMatching(const std::string& dir, const std::string& part);

// A pack of plain files in the working directory: eleven pictures (opaque
// and soft alpha) and a one-second tone as the song.
void writeTestPack();

struct Result {
    int status;
    std::string out, err;
};

// Runs kva-export with args in the working directory through the shell
// (env before it), standard input on /dev/null.
Result runProgram(const std::string& args, const std::string& env = "");

// One stream entry by ffprobe; "" when ffprobe fails.
std::string probe(const std::string& file, const std::string& stream, const std::string& entry);

// True while some process runs with both words on its command line.
bool processMentions(const std::string& text, const std::string& also = "libx264");

bool haveFfmpeg();

} // namespace exporttest

#define REQUIRE_FFMPEG()                                                                           \
    if (!exporttest::haveFfmpeg())                                                                 \
    GTEST_SKIP() << "ffmpeg and ffprobe are needed (Debian package ffmpeg)"
