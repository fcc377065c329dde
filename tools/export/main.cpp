// main.cpp -- kva-export: the show as a video file or a still.
#include "assets/lookup.h"
#include "export/export.h"

int main(int argc, char** argv) {
    assets::useStandardSearchFolders();
    return exporter::runExport(argc, argv);
}
