// main.cpp -- kva-makepack: draws, composes and writes the default asset pack.
#include "makepack/makepack.h"
#include "platform/std_descriptors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string archive; // empty: none
    std::string filesDir;
    std::string module;
    std::string icon;
    int iconSize = 256;
    bool ok = true;
    bool help = false;
};

constexpr const char* kUsage =
    "usage: kva-makepack [ARCHIVE] [--files DIR] [--module FILE] [--icon FILE [--size N]]\n"
    "Draws and composes the KVA show's pictures and song and writes them.\n"
    "  ARCHIVE        the zip archive to write (default pr0n.rar when nothing\n"
    "                 else is asked for)\n"
    "  --files DIR    also write the pictures and elg.mp3 as plain files\n"
    "  --module FILE  write the tune as a four-channel tracker module\n"
    "  --icon FILE    write the menu icon, a square PNG\n"
    "  --size N       the icon's side in pixels, 16 to 1024 (default 256)\n"
    "  --help         show this text\n";

// Names the file and the system's reason; errno is cleared before each write.
bool cannotWrite(const std::string& path) {
    const char* reason = errno ? std::strerror(errno) : "write failed";
    std::fprintf(stderr, "kva-makepack: cannot write %s: %s\n", platform::printable(path).c_str(),
                 reason);
    return false;
}

// A whole number of pixels the icon can be drawn at, nothing after it.
bool parseSize(const char* text, int& size) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end || value < makepack::kIconMinSize ||
        value > makepack::kIconMaxSize)
        return false;
    size = int(value);
    return true;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--help"))
            o.help = true;
        else if (!std::strcmp(argv[i], "--files") && hasValue)
            o.filesDir = argv[++i];
        else if (!std::strcmp(argv[i], "--module") && hasValue)
            o.module = argv[++i];
        else if (!std::strcmp(argv[i], "--icon") && hasValue)
            o.icon = argv[++i];
        else if (!std::strcmp(argv[i], "--size") && hasValue)
            o.ok = parseSize(argv[++i], o.iconSize) && o.ok;
        else if (argv[i][0] != '-' && o.archive.empty())
            o.archive = argv[i];
        else
            o.ok = false;
    }
    if (o.archive.empty() && o.filesDir.empty() && o.module.empty() && o.icon.empty())
        o.archive = "pr0n.rar";
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
    errno = 0;
    if (!o.module.empty() && !writeFile(o.module, makeModule())) return cannotWrite(o.module);
    if (!o.icon.empty() && !writeFile(o.icon, encodePng(drawIcon(o.iconSize), PngKind::Rgba8)))
        return cannotWrite(o.icon);
    if (o.archive.empty() && o.filesDir.empty()) return true;
    std::vector<PackFile> pack = makePack();
    if (pack.back().bytes.empty()) {
        std::fprintf(stderr, "kva-makepack: the MP3 encoder failed\n");
        return false;
    }
    for (const PackFile& f : pack) {
        if (!o.filesDir.empty() && !writeFile(o.filesDir + "/" + f.name, f.bytes))
            return cannotWrite(o.filesDir + "/" + f.name);
    }
    if (!o.archive.empty() && !writeZip(o.archive, pack)) return cannotWrite(o.archive);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    platform::openStandardDescriptors();
    Options o = parse(argc, argv);
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!o.ok) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return writeAll(o) ? 0 : 1;
}
