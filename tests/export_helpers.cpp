// export_helpers.cpp -- what the exporter's tests share.
#include "export_helpers.h"

#include "export/encoder.h"
#include "test_assets.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace exporttest {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int filesMatching(const std::string& dir, const std::string& part) {
    DIR* d = opendir(dir.c_str());
    int n = 0;
    while (dirent* e = d ? readdir(d) : nullptr)
        n += std::strstr(e->d_name, part.c_str()) != nullptr;
    if (d) closedir(d);
    return n;
}

// A pack of plain files: eleven pictures (opaque and soft alpha) and a
// one-second tone as the song.
void writeTestPack() {
    // Bands of colour and a soft left edge: distinct, yet cheap to encode.
    auto words = [](int w, int h, std::uint32_t base, bool alpha) {
        std::vector<std::uint32_t> v(std::size_t(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t a = alpha ? std::uint32_t(std::min(255, x * 8)) : 0xFF;
                v[std::size_t(y) * w + x] = (a << 24) | ((base + std::uint32_t(y / 16)) & 0xFFFFFF);
            }
        }
        return v;
    };
    auto write = [&](const char* name, int w, int h, std::uint32_t base, bool alpha) {
        ASSERT_TRUE(testassets::writeFile(name, testassets::writePng(testassets::pictureFromWords(
                                                    w, h, words(w, h, base, alpha), alpha))));
    };
    write("moose_middle.png", 120, 160, 0x804020, true);
    write("moose_right.png", 130, 160, 0x208040, true);
    write("moose_left.png", 130, 160, 0x402080, true);
    write("solnedgang.png", 640, 480, 0x301000, false);
    write("greets.png", 640, 480, 0x003010, false);
    write("credits.png", 640, 480, 0x100030, false);
    const char* lyrics[] = {"refreng_1.png", "refreng_2.png", "vers_1.png", "vers_2.png",
                            "mange_hoyre.png"};
    for (int i = 0; i < 5; ++i) write(lyrics[i], 500, 60, 0x606000 + i * 0x20, true);
    ASSERT_TRUE(testassets::writeFile("elg.mp3", testsongs::mp3Tone(330.0, 1.0)));
}

// Runs kva-export in the working directory through the shell.
Result runProgram(const std::string& args, const std::string& env) {
    const std::string command =
        env + " '" KVA_EXPORT_PROGRAM "' " + args + " >run.out 2>run.err </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp("run.out"), slurp("run.err")};
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entry) {
    const std::string command = "ffprobe -v error -select_streams " + stream +
                                " -show_entries stream=" + entry + " -of csv=p=0 '" + file +
                                "' >probe.out 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    std::string s = slurp("probe.out");
    while (!s.empty() && (s.back() == '\n' || s.back() == ',')) s.pop_back();
    return s;
}

// True while some process runs with both words on its command line.
bool processMentions(const std::string& text, const std::string& also) {
    DIR* proc = opendir("/proc");
    bool found = false;
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string cmdline = slurp(std::string("/proc/") + e->d_name + "/cmdline");
        found = found || (cmdline.find(text) != std::string::npos &&
                          cmdline.find(also) != std::string::npos);
    }
    if (proc) closedir(proc);
    return found;
}

bool haveFfmpeg() {
    return !exporter::findProgram("ffmpeg").empty() && !exporter::findProgram("ffprobe").empty();
}

} // namespace exporttest
