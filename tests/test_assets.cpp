// test_assets.cpp -- test pictures through libpng's writer, zip archives
// through minizip's writer, and scratch directories.
#include "test_assets.h"

#include <png.h>
#include <unistd.h>
#include <zip.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace testassets {
namespace {

void appendBytes(png_structp png, png_bytep data, std::size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// Rows as libpng's writer takes them: a byte a sample below 8 bits (the
// writer packs them), big-endian pairs at 16 bits.
Bytes sampleRows(const PngPicture& p) {
    Bytes rows;
    rows.reserve(p.samples.size() * (p.bitDepth == 16 ? 2 : 1));
    for (std::uint16_t sample : p.samples) {
        if (p.bitDepth == 16) rows.push_back(std::uint8_t(sample >> 8));
        rows.push_back(std::uint8_t(sample));
    }
    return rows;
}

void setTransparency(png_structp png, png_infop info, const PngPicture& p) {
    if (p.colorType == PNG_COLOR_TYPE_PALETTE && !p.paletteAlpha.empty()) {
        png_set_tRNS(png, info, p.paletteAlpha.data(), int(p.paletteAlpha.size()), nullptr);
        return;
    }
    if (p.transparent.empty()) return;
    png_color_16 colour{};
    if (p.colorType == PNG_COLOR_TYPE_GRAY) colour.gray = p.transparent[0];
    if (p.colorType == PNG_COLOR_TYPE_RGB && p.transparent.size() >= 3) {
        colour.red = p.transparent[0];
        colour.green = p.transparent[1];
        colour.blue = p.transparent[2];
    }
    png_set_tRNS(png, info, nullptr, 0, &colour);
}

// Holds the writer's recovery point; no object with a destructor lives here.
bool encode(png_structp png, png_infop info, const PngPicture& p, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), p.bitDepth, p.colorType,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (p.colorType == PNG_COLOR_TYPE_PALETTE) {
        const int entries = int(p.palette.size() / 3);
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(p.palette.data()), entries);
    }
    setTransparency(png, info, p);
    png_set_compression_level(png, p.compressionLevel);
    png_write_info(png, info);
    if (p.bitDepth < 8) png_set_packing(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

int channelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

Bytes writePng(const PngPicture& p) {
    const std::size_t rowLength =
        std::size_t(p.width) * std::size_t(channelsOf(p.colorType)) * (p.bitDepth == 16 ? 2 : 1);
    Bytes samples = sampleRows(p);
    if (samples.size() < rowLength * std::size_t(p.height)) return {};
    std::vector<png_bytep> rows(std::size_t(p.height));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = samples.data() + y * rowLength;

    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info) {
        png_set_write_fn(png, &out, appendBytes, flushNothing);
        ok = encode(png, info, p, rows.data());
    }
    png_destroy_write_struct(&png, &info);
    if (!ok) out.clear();
    return out;
}

PngPicture pictureFromWords(int width, int height, const std::vector<std::uint32_t>& words,
                            bool withAlpha) {
    PngPicture p;
    p.width = width;
    p.height = height;
    p.colorType = withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    p.samples.reserve(words.size() * (withAlpha ? 4 : 3));
    for (std::uint32_t word : words) {
        p.samples.push_back(std::uint16_t((word >> 16) & 0xff));
        p.samples.push_back(std::uint16_t((word >> 8) & 0xff));
        p.samples.push_back(std::uint16_t(word & 0xff));
        if (withAlpha) p.samples.push_back(std::uint16_t(word >> 24));
    }
    return p;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

Bytes readFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    std::uint8_t chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const ZipEntry& entry : entries) {
        zip_fileinfo info{};
        const int method = entry.deflated ? Z_DEFLATED : 0;
        const int level = entry.deflated ? Z_DEFAULT_COMPRESSION : 0;
        ok = ok && zipOpenNewFileInZip(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                       nullptr, method, level) == ZIP_OK;
        ok = ok &&
             zipWriteInFileInZip(zip, entry.bytes.data(), unsigned(entry.bytes.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

ScopedTempDir::ScopedTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kva-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

} // namespace testassets
