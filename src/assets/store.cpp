// store.cpp -- the asset store: plain files, data/ and one zip archive (minizip).
#include "assets/store.h"

#include "assets/lookup.h"

#include <unzip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace assets {
namespace {

constexpr std::size_t kMaxNameLength = sizeof(FileBlob::name) - 1;
// Deflate cannot expand data by more than about 1032 to 1; a larger claimed
// size belongs to a damaged directory and would only cost a huge allocation.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateSlack = 1024;

void* systemAllocate(std::size_t bytes) {
    return std::malloc(bytes);
}

struct State {
    unzFile archive = nullptr;
    std::int32_t archiveOpen = 0;
    std::uint64_t archiveBytes = 0; // size of the archive file, bounds entry sizes
    std::size_t archiveFolder = 0;  // the search folder the archive was found in
    Allocator allocator = systemAllocate;
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

// Reads the whole file into blob; a file that cannot be read whole leaves it empty.
void readPlainFile(std::FILE* file, FileBlob& blob) {
    const std::int64_t length = fileLength(file);
    if (length <= 0 || length > INT32_MAX) return;
    auto* data = static_cast<std::uint8_t*>(allocate(std::size_t(length)));
    if (!data) return;
    if (std::fread(data, 1, std::size_t(length), file) != std::size_t(length)) {
        std::free(data);
        return;
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

// Reads the archive's current entry whole; a read error or a CRC mismatch
// (reported when the entry is closed) leaves blob empty.
void readCurrentEntry(FileBlob& blob) {
    unz_file_info info;
    if (unzGetCurrentFileInfo(state.archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return;
    if (info.uncompressed_size == 0 || !plausibleEntry(info)) return;
    const auto size = static_cast<std::int32_t>(info.uncompressed_size);
    auto* data = static_cast<std::uint8_t*>(allocate(std::size_t(size)));
    if (!data) return;
    if (unzOpenCurrentFile(state.archive) != UNZ_OK) {
        std::free(data);
        return;
    }
    const int got = unzReadCurrentFile(state.archive, data, static_cast<unsigned>(size));
    const int closed = unzCloseCurrentFile(state.archive);
    if (got != size || closed != UNZ_OK) {
        std::free(data);
        return;
    }
    blob.data = data;
    blob.size = size;
}

// The archive's length, or 0 when it is not a regular file: the zip reader
// would block opening a FIFO and fail on anything else that is not a file.
std::uint64_t archiveFileBytes(const char* fileName) {
    struct stat info;
    if (stat(fileName, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    return std::uint64_t(info.st_size);
}

// Opens one archive file; 1 on success.
std::int32_t openArchiveFile(const char* fileName) {
    const std::uint64_t bytes = archiveFileBytes(fileName);
    if (bytes == 0) return 0;
    state.archive = unzOpen(fileName);
    if (!state.archive) return 0;
    state.archiveOpen = 1;
    state.archiveBytes = bytes;
    return 1;
}

// Looks the name up in the archive if it belongs to this search folder.
bool loadFromArchive(std::size_t folder, const char* name, FileBlob& blob) {
    if (!state.archiveOpen || folder != state.archiveFolder) return false;
    if (unzLocateFile(state.archive, name, 2) != UNZ_OK) return false;
    readCurrentEntry(blob);
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
    state.archiveFolder = 0;
}

FileBlob loadFile(const char* name) {
    FileBlob blob;
    if (!name) return blob;
    std::strncpy(blob.name, name, kMaxNameLength);
    if (std::strlen(name) > kMaxNameLength) return blob; // refused: name does not fit

    // Each search folder in turn: plain file, data/, then the archive if it
    // was found there. The message is the archive's: no other place reports.
    const std::vector<std::string>& folders = searchFolders();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (std::FILE* file = openPlainFile(folders[i], name)) {
            readPlainFile(file, blob);
            std::fclose(file);
            noteLoad(true);
            return blob;
        }
        if (loadFromArchive(i, name, blob)) {
            noteLoad(true);
            return blob;
        }
    }
    noteLoad(false);
    if (state.archiveOpen) std::printf("\nFile %s not found!\n", name);
    return blob;
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

} // namespace assets
