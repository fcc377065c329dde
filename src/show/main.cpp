// main.cpp -- kva: the self-running show. It takes no arguments; --help and
// --version answer without opening the display, anything else is ignored.
#include "assets/lookup.h"
#include "show/show.h"

#include <cstdio>
#include <cstring>

#ifndef KVA_VERSION
#define KVA_VERSION "unknown"
#endif

namespace {

constexpr const char* kHelp =
    "Usage: kva [--help | --version]\n"
    "\n"
    "A self-running fullscreen music-video show: 192 seconds of pictures and\n"
    "one song. Escape or closing the window ends it. It takes no other arguments.\n"
    "\n"
    "Each picture and the song are looked for by name, as a plain file, under\n"
    "data/ and in the archive pr0n.rar, first in the working folder, then in the\n"
    "program's own folder, in ../share/kva beside it, and in $XDG_DATA_HOME/kva\n"
    "(~/.local/share/kva). The first pr0n.rar found is the one used.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

// 1 for --help, 2 for --version, 0 for anything else.
int informationAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) return 1;
        if (!std::strcmp(argv[i], "--version")) return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    switch (informationAsked(argc, argv)) {
    case 1:
        std::fputs(kHelp, stdout);
        return 0;
    case 2:
        std::puts("kva " KVA_VERSION);
        return 0;
    }
    assets::useStandardSearchFolders();
    return show::runShow();
}
