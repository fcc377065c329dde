// store.cpp -- the asset store: plain files, data/ and one zip archive (minizip).
#include "assets/store.h"

#include "assets/lookup.h"
#include "platform/std_descriptors.h"

#include <unzip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace assets {
namespace {

constexpr std::size_t kMaxNameLength = sizeof(FileBlob::name) - 1;
// Deflate cannot expand data by more than about 1032 to 1; a larger claimed
// size belongs to a damaged directory and would only cost a huge allocation.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateSlack = 1024;
// Large files are read and inflated in pieces of this size, with the
// progress hook called between them.
constexpr std::size_t kPieceBytes = 1 << 20;
// The zip reader takes several microseconds an entry (a seek and a read
// each), more on a busy machine.
constexpr std::uint64_t kEntriesBetweenReports = 128;

// Where each usable entry name starts in the archive: names are looked up
// by their exact bytes first, then with the letters a-z folded to upper
// case (as minizip's case-insensitive comparison does). For each key the
// first entry in directory order is kept.
using EntryIndex = std::unordered_map<std::string, unz64_file_pos>;

void* systemAllocate(std::size_t bytes) {
    return std::malloc(bytes);
}

struct State {
    unzFile archive = nullptr;
    std::int32_t archiveOpen = 0;
    std::uint64_t archiveBytes = 0; // size of the archive file, bounds entry sizes
    EntryIndex exactNames;
    EntryIndex foldedNames;
    std::size_t archiveFolder = 0; // the search folder the archive was found in
    Allocator allocator = systemAllocate;
    ProgressHook progress = nullptr;
};
State state;

// Only a regular file counts as found: a directory of the asset's name is not
// it, and a FIFO or device must not block the start-up (hence the
// non-blocking open, which changes nothing for a regular file).
std::FILE* openRegular(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

// The plain file, then the one under data/, in one search folder.
std::FILE* openPlainFile(const std::string& folder, const char* name) {
    if (std::FILE* file = openRegular(pathIn(folder, name).c_str())) return file;
    return openRegular(pathIn(folder, std::string("data/") + name).c_str());
}

std::int64_t fileLength(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return length;
}

bool withinBudget(const char* name, std::uint64_t bytes, std::int64_t maxBytes) {
    if (maxBytes < 0 || bytes <= std::uint64_t(maxBytes)) return true;
    std::fprintf(stderr, "kva: %s is too large (%llu bytes, at most %lld); not loaded\n",
                 platform::printable(name).c_str(), static_cast<unsigned long long>(bytes),
                 static_cast<long long>(maxBytes));
    return false;
}

// Reads the whole file into blob in pieces; a file that cannot be read whole
// leaves it empty.
void readPlainFile(std::FILE* file, FileBlob& blob, std::int64_t maxBytes) {
    // The budget comes first: a file beyond it gets its line whatever its size.
    const std::int64_t length = fileLength(file);
    if (length <= 0 || !withinBudget(blob.name, std::uint64_t(length), maxBytes)) return;
    if (length > INT32_MAX) return;
    auto* data = static_cast<std::uint8_t*>(allocate(std::size_t(length)));
    if (!data) return;
    for (std::size_t done = 0; done < std::size_t(length);) {
        const std::size_t piece = std::min(kPieceBytes, std::size_t(length) - done);
        if (std::fread(data + done, 1, piece, file) != piece) {
            std::free(data);
            return;
        }
        done += piece;
        reportProgress();
    }
    blob.data = data;
    blob.size = static_cast<std::int32_t>(length);
}

bool plausibleEntry(const unz_file_info& info) {
    if (info.uncompressed_size > INT32_MAX) return false;
    if (info.compressed_size > state.archiveBytes) return false;
    if (info.compression_method == 0) return info.uncompressed_size == info.compressed_size;
    return info.uncompressed_size <= info.compressed_size * kMaxDeflateRatio + kDeflateSlack;
}

// Inflates the open current entry into data in pieces; true when exactly
// size bytes came out.
bool inflateCurrentEntry(std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min(kPieceBytes, size - done);
        const int got = unzReadCurrentFile(state.archive, data + done, unsigned(piece));
        if (got != int(piece)) return false;
        done += piece;
        reportProgress();
    }
    return true;
}

// Reads the archive's current entry whole; a read error or a CRC mismatch
// (reported when the entry is closed) leaves blob empty. An entry beyond the
// budget is refused on its recorded size, before anything is inflated.
void readCurrentEntry(FileBlob& blob, std::int64_t maxBytes) {
    unz_file_info info;
    if (unzGetCurrentFileInfo(state.archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return;
    if (info.uncompressed_size == 0 || !withinBudget(blob.name, info.uncompressed_size, maxBytes) ||
        !plausibleEntry(info))
        return;
    const auto size = static_cast<std::int32_t>(info.uncompressed_size);
    auto* data = static_cast<std::uint8_t*>(allocate(std::size_t(size)));
    if (!data) return;
    if (unzOpenCurrentFile(state.archive) != UNZ_OK) {
        std::free(data);
        return;
    }
    const bool whole = inflateCurrentEntry(data, std::size_t(size));
    const int closed = unzCloseCurrentFile(state.archive);
    if (!whole || closed != UNZ_OK) {
        std::free(data);
        return;
    }
    blob.data = data;
    blob.size = size;
}

std::string foldCase(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return name;
}

// One pass over the central directory. Names longer than any request can be
// are left out. False when the directory cannot be read through.
bool indexEntries() {
    char name[kMaxNameLength + 1];
    std::uint64_t count = 0;
    int at = unzGoToFirstFile(state.archive);
    for (; at == UNZ_OK; at = unzGoToNextFile(state.archive)) {
        unz_file_info info;
        unz64_file_pos position;
        if (unzGetCurrentFileInfo(state.archive, &info, name, sizeof name, nullptr, 0, nullptr,
                                  0) != UNZ_OK ||
            unzGetFilePos64(state.archive, &position) != UNZ_OK)
            return false;
        if (info.size_filename <= kMaxNameLength) {
            const std::string key(name, info.size_filename);
            state.exactNames.try_emplace(key, position);
            state.foldedNames.try_emplace(foldCase(key), position);
        }
        if (++count % kEntriesBetweenReports == 0) reportProgress();
    }
    return at == UNZ_END_OF_LIST_OF_FILE;
}

// Makes the entry for name the current one: its exact spelling first, else
// the first entry equal to it regardless of letter case.
bool locateEntry(const char* name) {
    auto found = state.exactNames.find(name);
    if (found == state.exactNames.end()) {
        found = state.foldedNames.find(foldCase(name));
        if (found == state.foldedNames.end()) return false;
    }
    return unzGoToFilePos64(state.archive, &found->second) == UNZ_OK;
}

std::int32_t unusable(const char* fileName, const char* why) {
    std::fprintf(stderr, "kva: the archive %s cannot be used: %s\n",
                 platform::printable(fileName).c_str(), why);
    return 0;
}

// Why a file that exists did not open as a zip archive, from its first bytes.
const char* whyNotZip(const char* fileName) {
    std::FILE* file = openRegular(fileName);
    if (!file) return std::strerror(errno);
    char head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got == 0) return "the file is empty";
    if (got >= 6 && std::memcmp(head, "Rar!\x1a\x07", 6) == 0)
        return "it is a RAR archive; only zip archives are read";
    if (got >= 2 && std::memcmp(head, "PK", 2) == 0)
        return "its zip directory is damaged or the file is cut short";
    return "it is not a zip archive";
}

// The archive's length when it is a regular file; the zip reader would block
// opening a FIFO and fail on anything else that is not a file. A missing
// archive is normal and silent.
bool archiveFileBytes(const char* fileName, std::uint64_t& bytes) {
    struct stat info;
    if (stat(fileName, &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) unusable(fileName, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) return unusable(fileName, "it is not a regular file");
    bytes = std::uint64_t(info.st_size);
    if (bytes == 0) return unusable(fileName, "the file is empty");
    return true;
}

bool countUsable(const char* fileName) {
    unz_global_info64 global;
    if (unzGetGlobalInfo64(state.archive, &global) != UNZ_OK)
        return unusable(fileName, "its zip directory cannot be read");
    if (global.number_entry <= std::uint64_t(kMaxArchiveEntries)) return true;
    char why[128];
    std::snprintf(why, sizeof why,
                  "it holds %llu entries, more than the %lld an asset pack may have",
                  static_cast<unsigned long long>(global.number_entry),
                  static_cast<long long>(kMaxArchiveEntries));
    return unusable(fileName, why);
}

// Opens and indexes one archive file; 1 on success.
std::int32_t openArchiveFile(const char* fileName) {
    std::uint64_t bytes = 0;
    if (!archiveFileBytes(fileName, bytes)) return 0;
    state.archive = unzOpen(fileName);
    if (!state.archive) return unusable(fileName, whyNotZip(fileName));
    if (!countUsable(fileName)) {
        closeArchive();
        return 0;
    }
    if (!indexEntries()) {
        closeArchive();
        return unusable(fileName, "its zip directory is damaged");
    }
    state.archiveOpen = 1;
    state.archiveBytes = bytes;
    return 1;
}

// Looks the name up in the archive if it belongs to this search folder.
bool loadFromArchive(std::size_t folder, const char* name, FileBlob& blob, std::int64_t maxBytes) {
    if (!state.archiveOpen || folder != state.archiveFolder) return false;
    if (!locateEntry(name)) return false;
    readCurrentEntry(blob, maxBytes);
    return true;
}

} // namespace

// An absolute name is opened as it is; a relative one in each search folder
// in turn, and the first that opens is the archive.
std::int32_t openArchive(const char* fileName) {
    closeArchive(); // a second open replaces the first instead of leaking it
    resetLoadCount();
    if (!fileName) return 0;
    if (fileName[0] == '/') return openArchiveFile(fileName);
    const std::vector<std::string>& folders = searchFolders();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (!openArchiveFile(pathIn(folders[i], fileName).c_str())) continue;
        state.archiveFolder = i;
        return 1;
    }
    return 0;
}

void closeArchive() {
    if (state.archive) unzClose(state.archive);
    state.archive = nullptr;
    state.archiveOpen = 0;
    state.archiveBytes = 0;
    EntryIndex().swap(state.exactNames);
    EntryIndex().swap(state.foldedNames);
    state.archiveFolder = 0;
}

FileBlob loadFile(const char* name, std::int64_t maxBytes) {
    FileBlob blob;
    if (!name) return blob;
    std::strncpy(blob.name, name, kMaxNameLength);
    if (std::strlen(name) > kMaxNameLength) return blob; // refused: name does not fit

    // Each search folder in turn: plain file, data/, then the archive if it
    // was found there. The message is the archive's: no other place reports.
    const std::vector<std::string>& folders = searchFolders();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (std::FILE* file = openPlainFile(folders[i], name)) {
            readPlainFile(file, blob, maxBytes);
            std::fclose(file);
            noteLoad(true);
            return blob;
        }
        if (loadFromArchive(i, name, blob, maxBytes)) {
            noteLoad(true);
            return blob;
        }
    }
    noteLoad(false);
    if (state.archiveOpen) std::printf("\nFile %s not found!\n", platform::printable(name).c_str());
    return blob;
}

FileBlob loadFile(const char* name) {
    return loadFile(name, kMaxSongBytes);
}

void readFileBlob(FileBlob& blob, void* destination, std::int32_t count, std::int32_t* copied) {
    *copied = 0;
    if (count <= 0 || blob.position < 0) return;
    const std::int32_t remaining = blob.size - blob.position;
    if (count < remaining) {
        std::memcpy(destination, blob.data + blob.position, std::size_t(count));
        *copied = count;
        blob.position += count;
        return;
    }
    if (blob.position >= blob.size) return;
    std::memcpy(destination, blob.data + blob.position, std::size_t(remaining));
    *copied = remaining;
    blob.position += remaining;
}

void releaseFileBlob(FileBlob& blob) {
    std::free(blob.data);
    blob.data = nullptr;
    blob.size = 0;
    blob.position = 0;
}

Allocator setAllocator(Allocator allocator) {
    const Allocator previous = state.allocator;
    state.allocator = allocator ? allocator : systemAllocate;
    return previous;
}

void* allocate(std::size_t bytes) {
    return state.allocator(bytes);
}

ProgressHook setProgressHook(ProgressHook hook) {
    const ProgressHook previous = state.progress;
    state.progress = hook;
    return previous;
}

void reportProgress() {
    if (state.progress) state.progress();
}

} // namespace assets
