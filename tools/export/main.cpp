// main.cpp -- kva-export: the show as a video file or a still.
#include "export/export.h"

int main(int argc, char** argv) {
    return exporter::runExport(argc, argv);
}
