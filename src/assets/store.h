// store.h -- the asset store: a named file, found as a plain file, under
// data/ or in the zip archive of a search folder (lookup.h), held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace assets {

// A whole file in memory. Copies share data; each has its own position.
// size 0 means nothing was loaded (not found, or empty).
struct FileBlob {
    char name[32] = {}; // the name as requested, NUL-terminated
    std::uint8_t* data = nullptr;
    std::int32_t size = 0;
    std::int32_t position = 0;
};

// Opens the zip archive searched after the plain files. 1 on success, else 0.
// A relative name is tried in each search folder in order and the first that
// opens is used; it is searched right after that folder's plain files. An
// absolute name belongs to the first folder. Starts a new count of loads.
// The archive stays open until closeArchive (the show never closes it).
std::int32_t openArchive(const char* fileName);

// Closes the archive; later loads find plain files only.
void closeArchive();

// In each search folder: the plain file, then data/, then the archive if it
// was found in that folder. A name found nowhere,
// longer than 31 characters, or whose file cannot be read whole gives the
// empty blob. Only a name missing from an open archive prints a message.
FileBlob loadFile(const char* name);

// Copies at most count bytes from the blob's position on and advances it;
// *copied receives the number of bytes copied.
void readFileBlob(FileBlob& blob, void* destination, std::int32_t count, std::int32_t* copied);

// Frees a blob's data and empties it (for callers that own it).
void releaseFileBlob(FileBlob& blob);

// The allocator behind blob data and the decoder's row storage; released
// with std::free. Tests swap it to exercise allocation failures; nullptr
// restores std::malloc. Returns the previous one.
using Allocator = void* (*)(std::size_t bytes);
Allocator setAllocator(Allocator allocator);
void* allocate(std::size_t bytes);

} // namespace assets
