// store.h -- the asset store: a named file, found as a plain file, under
// data/ or in the zip archive of a search folder (lookup.h), held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace assets {

// What a hostile or careless asset set may cost, decided before anything is
// allocated or inflated. The show's largest picture is about 2100 x 84 and
// its backgrounds are 640 x 480, so 4 M pixels is ten times anything it can
// show and the eleven together (32 M pixels, 128 MB of pixel words) leave
// room for eight of the eleven at that size. A PNG of 4 M pixels needs
// far less than 32 MB of file. 64 MB of song is over an hour of MP3 at
// 128 kbit/s, longer than any song people play, and more than any tracker
// module. An archive holds the show's twelve files; ten thousand entries is
// more than any asset pack could use, and indexing that many stays quick.
inline constexpr std::int64_t kMaxPictureFileBytes = 32 * 1024 * 1024;
inline constexpr std::int64_t kMaxPicturePixels = 4 * 1024 * 1024;
inline constexpr std::int64_t kMaxTotalPicturePixels = 32 * 1024 * 1024;
inline constexpr std::int32_t kMaxPictureSide = 16384;
// Chunks of one picture, empty image data chunks aside: an encoder writing
// one data chunk a row writes at most 16384; each costs the PNG library a
// walk of its own.
inline constexpr std::int64_t kMaxPictureChunks = 65536;
inline constexpr std::int64_t kMaxSongBytes = 64 * 1024 * 1024;
inline constexpr std::int64_t kMaxArchiveEntries = 10000;

// What a song may cost before it plays. A tracker module's one pass through
// its orders (loops not counted) is at most 65,536 rows, over two hours at
// the usual six ticks a row, and at most 4,096 orders: real trackers stop at
// 256 orders of 256 rows. Its patterns hold at most 8 M cells (rows times
// channels; OpenMPT keeps 6 bytes a cell, 48 MB). The first MP3 frame is
// looked for in the first 1 MiB of the song, past an ID3v2 tag, which
// libmpg123 skips by its size; a song whose frames start later is not an
// MP3 anyone made.
inline constexpr std::int64_t kMaxSongOrders = 4096;
inline constexpr std::int64_t kMaxSongRowsPerPass = 65536;
inline constexpr std::int64_t kMaxSongPatternCells = 8 * 1024 * 1024;
inline constexpr std::int64_t kMaxMp3SearchBytes = 1024 * 1024;

// A whole file in memory. Copies share data; each has its own position.
// size 0 means nothing was loaded (not found, or empty).
struct FileBlob {
    char name[32] = {}; // the name as requested, NUL-terminated
    std::uint8_t* data = nullptr;
    std::int32_t size = 0;
    std::int32_t position = 0;
};

// Opens the zip archive searched after the plain files and indexes its
// entries. 1 on success, else 0. A relative name is tried in each search
// folder in order and the first that opens is used; it is searched right
// after that folder's plain files. An absolute name belongs to the first
// folder. Starts a new count of loads. A missing archive is silent; one that
// exists but cannot be used (not a zip archive, damaged, more entries than
// kMaxArchiveEntries) gets one line on standard error saying why, and the
// search goes on in the next folder.
std::int32_t openArchive(const char* fileName);

// Closes the archive; later loads find plain files only.
void closeArchive();

// In each search folder: the plain file, then data/, then the archive if it
// was found in that folder. A name found nowhere,
// longer than 31 characters, or whose file cannot be read whole gives the
// empty blob. A name found nowhere while an archive is open prints "File ... not
// found!"; a file or entry larger than maxBytes is neither read nor inflated,
// and one line on standard error says so. In the archive an entry named
// exactly as asked wins over one that matches only regardless of case.
FileBlob loadFile(const char* name, std::int64_t maxBytes);
// The same with the largest budget any asset has (the song's).
FileBlob loadFile(const char* name);

// Called between the pieces of anything that can take long (reading or
// inflating a large file, indexing the archive, decoding rows of a picture),
// so that the show can answer its window while it loads. nullptr: none.
// Returns the previous hook.
using ProgressHook = void (*)();
ProgressHook setProgressHook(ProgressHook hook);
void reportProgress();

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
