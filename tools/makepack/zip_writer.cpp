// zip_writer.cpp -- the pack archive through minizip's writer, and plain files.
#include "makepack/makepack.h"

#include <zip.h>

#include <cstdio>

namespace makepack {
namespace {

// A fixed date keeps the archive the same bytes on every run.
zip_fileinfo fixedInfo() {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2026;
    info.tmz_date.tm_mon = 0; // January
    info.tmz_date.tm_mday = 1;
    info.tmz_date.tm_hour = 12;
    info.dosDate = 0;
    info.internal_fa = 0;
    info.external_fa = 0;
    return info;
}

bool addEntry(zipFile zip, const PackFile& file) {
    zip_fileinfo info = fixedInfo();
    if (zipOpenNewFileInZip(zip, file.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            Z_DEFLATED, Z_BEST_COMPRESSION) != ZIP_OK)
        return false;
    int written =
        zipWriteInFileInZip(zip, file.bytes.data(), static_cast<unsigned>(file.bytes.size()));
    int closed = zipCloseFileInZip(zip);
    return written == ZIP_OK && closed == ZIP_OK;
}

} // namespace

bool writeZip(const std::string& path, const std::vector<PackFile>& files) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const PackFile& f : files) ok = ok && addEntry(zip, f);
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    if (!ok) std::remove(path.c_str());
    return ok;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace makepack
