// main.cpp -- kva-export: the show as a video file or a still.
#include "assets/lookup.h"
#include "export/descriptors.h"
#include "export/export.h"

int main(int argc, char** argv) {
    // First of all: nothing opened below may become standard input or output.
    const int closed = exporter::openStandardDescriptors();
    assets::useStandardSearchFolders();
    return exporter::runExport(argc, argv, closed);
}
