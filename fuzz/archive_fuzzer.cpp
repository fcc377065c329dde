// archive_fuzzer.cpp -- arbitrary bytes as the archive, then assets loaded
// (and decoded) from it.
#include "assets/png.h"
#include "assets/store.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The archive file lives in a directory of this process's own, so parallel
// runs do not share it, and nothing else there can shadow an asset.
std::string directory;
std::string archivePath;

void removeDirectory() {
    std::remove(archivePath.c_str());
    rmdir(directory.c_str());
}

bool writeArchive(const std::uint8_t* data, std::size_t size) {
    // A new file each time: rewriting a truncated one makes ext4 flush it to disk.
    std::remove(archivePath.c_str());
    std::FILE* file = std::fopen(archivePath.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/dev/shm/kva-archive-fuzz-XXXXXX"; // memory-backed: one write per run
    if (!mkdtemp(pattern) || chdir(pattern) != 0) std::abort();
    directory = pattern;
    archivePath = directory + "/pr0n.rar";
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!writeArchive(data, size)) return 0;
    if (!assets::openArchive("pr0n.rar")) return 0;
    for (const char* name : {"moose_middle.png", "ELG.MP3"}) {
        canvas::Image image = assets::decodePng(assets::loadFile(name));
        canvas::releaseImage(image);
    }
    assets::closeArchive();
    return 0;
}
