// store.cpp -- placeholder until the asset store lands: nothing is found.
#include "assets/store.h"

#include <cstdlib>
#include <cstring>

namespace assets {

std::int32_t openArchive(const char*) {
    return 0;
}

FileBlob loadFile(const char* name) {
    FileBlob blob;
    std::strncpy(blob.name, name, sizeof blob.name - 1);
    return blob;
}

void readFileBlob(FileBlob&, void*, std::int32_t, std::int32_t* copied) {
    *copied = 0;
}

void releaseFileBlob(FileBlob& blob) {
    std::free(blob.data);
    blob.data = nullptr;
    blob.size = 0;
    blob.position = 0;
}

} // namespace assets
