// main.cpp -- kva-export: the show as a video file or a still.
#include "assets/lookup.h"
#include "export/export.h"
#include "platform/std_descriptors.h"

int main(int argc, char** argv) {
    // First of all: nothing opened below may become standard input or output.
    int closed = 0;
    platform::openStandardDescriptors(&closed);
    assets::useStandardSearchFolders();
    return exporter::runExport(argc, argv, closed);
}
