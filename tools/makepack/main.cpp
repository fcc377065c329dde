// main.cpp -- kva-makepack: draws, composes and writes the default asset pack.
#include "makepack/makepack.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string archive; // empty: none
    std::string filesDir;
    std::string module;
    bool ok = true;
};

void usage() {
    std::fprintf(stderr,
                 "usage: kva-makepack [ARCHIVE] [--files DIR] [--module FILE]\n"
                 "  ARCHIVE        the zip archive to write (default pr0n.rar when nothing\n"
                 "                 else is asked for)\n"
                 "  --files DIR    also write the pictures and elg.mp3 as plain files\n"
                 "  --module FILE  write the tune as a four-channel tracker module\n");
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--files") && hasValue)
            o.filesDir = argv[++i];
        else if (!std::strcmp(argv[i], "--module") && hasValue)
            o.module = argv[++i];
        else if (argv[i][0] != '-' && o.archive.empty())
            o.archive = argv[i];
        else
            o.ok = false;
    }
    if (o.archive.empty() && o.filesDir.empty() && o.module.empty()) o.archive = "pr0n.rar";
    return o;
}

bool writeAll(const Options& o) {
    using namespace makepack;
    if (!Font(fontPath("DejaVuSans.ttf"), 12).ok()) {
        std::fprintf(stderr,
                     "kva-makepack: the DejaVu fonts are missing under %s "
                     "(Debian package fonts-dejavu-core)\n",
                     kFontDirectory);
        return false;
    }
    if (!o.module.empty() && !writeFile(o.module, makeModule())) {
        std::fprintf(stderr, "kva-makepack: cannot write %s\n", o.module.c_str());
        return false;
    }
    if (o.archive.empty() && o.filesDir.empty()) return true;
    std::vector<PackFile> pack = makePack();
    if (pack.back().bytes.empty()) {
        std::fprintf(stderr, "kva-makepack: the MP3 encoder failed\n");
        return false;
    }
    for (const PackFile& f : pack) {
        if (!o.filesDir.empty() && !writeFile(o.filesDir + "/" + f.name, f.bytes)) {
            std::fprintf(stderr, "kva-makepack: cannot write %s/%s\n", o.filesDir.c_str(),
                         f.name.c_str());
            return false;
        }
    }
    if (!o.archive.empty() && !writeZip(o.archive, pack)) {
        std::fprintf(stderr, "kva-makepack: cannot write %s\n", o.archive.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (!o.ok) {
        usage();
        return 2;
    }
    return writeAll(o) ? 0 : 1;
}
