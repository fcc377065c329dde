// make_hostile.cpp -- writes hostile asset sets for the start-up tests on X:
// archive bombs, picture bombs, too many pixels together, too many entries.
// Each set also holds a plain "solnedgang.png" the show can use (the plain
// file wins over the archive), so that its first frame is not black.
//   make_hostile archive DIR    pr0n.rar: the song and ten pictures, each
//                               inflating to 1 GiB of zeros
//   make_hostile pictures DIR   ten palette PNGs of 16 KB declaring 4096 x 4096
//   make_hostile total DIR      eleven pictures of 3.7 M pixels: each passes
//                               alone, eight fit together
//   make_hostile entries DIR    pr0n.rar of 100,000 entries
//   make_hostile trailing DIR   eleven 1 MB pictures (the sunset colour) whose
//                               compressed data runs on for 1 GiB past the
//                               last row
//   make_hostile trailing-budget DIR   the same at the 32 MB file budget: 30 GiB
//   make_hostile empty-chunks DIR      eleven pictures whose image data is
//                               split by 2.5 million empty data chunks
//   make_hostile lit FILE.xwd   exit 0 when the middle of the grab is not black
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kPictures[11] = {"moose_middle.png", "moose_right.png", "moose_left.png",
                                   "solnedgang.png",   "greets.png",      "credits.png",
                                   "refreng_1.png",    "refreng_2.png",   "vers_1.png",
                                   "vers_2.png",       "mange_hoyre.png"};

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
void putBig32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::uint8_t(v >> shift));
}
void append(Bytes& b, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    b.insert(b.end(), p, p + size);
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// --- PNG: a two-colour palette picture whose rows are all index 0 ---

void chunk(Bytes& png, const char* type, const Bytes& data) {
    putBig32(png, std::uint32_t(data.size()));
    const std::size_t start = png.size();
    append(png, type, 4);
    png.insert(png.end(), data.begin(), data.end());
    putBig32(png, std::uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
}

Bytes palettePng(std::uint32_t width, std::uint32_t height, std::uint32_t rgb) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), {1, 3, 0, 0, 0}); // 1 bit, palette, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "PLTE",
          {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb), 0, 0, 0});
    const Bytes raw(std::size_t(height) * (1 + (width + 7) / 8), 0); // filter 0, index 0
    uLongf packed = compressBound(uLong(raw.size()));
    Bytes idat(packed);
    compress2(idat.data(), &packed, raw.data(), uLong(raw.size()), 9);
    idat.resize(packed);
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", {});
    return png;
}

bool writeSunset(const std::string& dir) {
    return writeFile(dir + "/solnedgang.png", palettePng(640, 480, 0xd06020));
}

// --- zip: entries written as given (stored, or raw deflate with its sizes) ---

struct Entry {
    std::string name;
    Bytes data; // as it lies in the archive
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t size = 0; // inflated
};

void header(Bytes& b, const Entry& e, bool central, std::uint32_t offset) {
    put32(b, central ? 0x02014b50 : 0x04034b50);
    if (central) put16(b, 20); // made by
    put16(b, 20);              // needed to extract
    put16(b, 0);               // flags
    put16(b, e.method);
    put32(b, 0); // time, date
    put32(b, e.crc);
    put32(b, std::uint32_t(e.data.size()));
    put32(b, e.size);
    put16(b, std::uint16_t(e.name.size()));
    put16(b, 0); // extra
    if (central) {
        put16(b, 0); // comment
        put16(b, 0); // disk
        put16(b, 0); // internal attributes
        put32(b, 0); // external attributes
        put32(b, offset);
    }
    append(b, e.name.data(), e.name.size());
}

bool writeZip(const std::string& path, const std::vector<Entry>& entries) {
    Bytes zip, directory;
    for (const Entry& e : entries) {
        header(directory, e, true, std::uint32_t(zip.size()));
        header(zip, e, false, 0);
        zip.insert(zip.end(), e.data.begin(), e.data.end());
    }
    const std::uint32_t at = std::uint32_t(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    if (entries.size() > 0xffff) { // the count needs the zip64 end records
        const std::uint32_t record = std::uint32_t(zip.size());
        put32(zip, 0x06064b50);
        put32(zip, 44), put32(zip, 0); // size of the rest of the record
        put16(zip, 45), put16(zip, 45);
        put32(zip, 0), put32(zip, 0);
        for (int twice = 0; twice < 2; ++twice)
            put32(zip, std::uint32_t(entries.size())), put32(zip, 0);
        put32(zip, std::uint32_t(directory.size())), put32(zip, 0);
        put32(zip, at), put32(zip, 0);
        put32(zip, 0x07064b50);
        put32(zip, 0);
        put32(zip, record), put32(zip, 0);
        put32(zip, 1);
    }
    put32(zip, 0x06054b50);
    put32(zip, 0); // disk numbers
    const auto count = std::uint16_t(entries.size() > 0xffff ? 0xffff : entries.size());
    put16(zip, count);
    put16(zip, count);
    put32(zip, std::uint32_t(directory.size()));
    put32(zip, at);
    put16(zip, 0);
    return writeFile(path, zip);
}

// 1 GiB of zeros as raw deflate: one 16 MiB piece compressed once, ending
// on a byte boundary (sync flush), repeated, then an empty final block.
constexpr std::uint32_t kPiece = 16u << 20, kPieces = 64;

Bytes deflatedZeros() {
    const Bytes zeros(kPiece, 0);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes piece(deflateBound(&z, kPiece) + 64);
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = kPiece;
    z.next_out = piece.data();
    z.avail_out = uInt(piece.size());
    deflate(&z, Z_SYNC_FLUSH);
    piece.resize(piece.size() - z.avail_out);
    deflateEnd(&z);
    return piece;
}

Entry zeroBomb(const std::string& name) {
    static const Bytes piece = deflatedZeros();
    static const uLong pieceCrc = crc32(0, Bytes(kPiece, 0).data(), kPiece);
    Entry e{name, {}, 8, 0, 0};
    for (std::uint32_t i = 0; i < kPieces; ++i) {
        e.data.insert(e.data.end(), piece.begin(), piece.end());
        e.crc = std::uint32_t(i == 0 ? pieceCrc : crc32_combine(e.crc, pieceCrc, kPiece));
    }
    e.data.insert(e.data.end(), {0x03, 0x00}); // final fixed block, end of block
    e.size = kPiece * kPieces;
    return e;
}

int archiveBomb(const std::string& dir) {
    std::vector<Entry> entries{zeroBomb("elg.mp3")};
    for (const char* name : kPictures) {
        if (std::strcmp(name, "solnedgang.png") != 0) entries.push_back(zeroBomb(name));
    }
    return writeZip(dir + "/pr0n.rar", entries) && writeSunset(dir) ? 0 : 1;
}

int pictureBombs(const std::string& dir) {
    const Bytes bomb = palettePng(4096, 4096, 0xffffff);
    bool ok = writeSunset(dir);
    for (const char* name : kPictures) {
        if (std::strcmp(name, "solnedgang.png") != 0) ok = ok && writeFile(dir + "/" + name, bomb);
    }
    return ok ? 0 : 1;
}

// --- pictures with more image data than their rows need ---

// The sunset's rows (1-bit palette, index 0) as raw deflate, not final.
Bytes deflatedSunsetRows() {
    const Bytes raw(480 * (1 + 640 / 8), 0);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(raw.size())) + 64);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_SYNC_FLUSH);
    out.erase(out.begin() + std::ptrdiff_t(z.total_out), out.end());
    deflateEnd(&z);
    return out;
}

// A zlib stream of the rows followed by zeroPieces pieces of 16 MiB of zeros,
// with the right checksum: a decoder that reads on finds nothing wrong.
Bytes sunsetStream(std::uint32_t zeroPieces) {
    static const Bytes piece = deflatedZeros();
    static const uLong pieceAdler = adler32(1, Bytes(kPiece, 0).data(), kPiece);
    const Bytes rows = deflatedSunsetRows();
    Bytes stream = {0x78, 0xda};
    stream.insert(stream.end(), rows.begin(), rows.end());
    uLong adler = adler32(1, Bytes(480 * 81, 0).data(), 480 * 81);
    for (std::uint32_t i = 0; i < zeroPieces; ++i) {
        stream.insert(stream.end(), piece.begin(), piece.end());
        adler = adler32_combine(adler, pieceAdler, kPiece);
    }
    stream.insert(stream.end(), {0x03, 0x00}); // final fixed block, end of block
    putBig32(stream, std::uint32_t(adler));
    return stream;
}

Bytes sunsetHead() {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    putBig32(header, 640);
    putBig32(header, 480);
    header.insert(header.end(), {1, 3, 0, 0, 0});
    chunk(png, "IHDR", header);
    chunk(png, "PLTE", {0xd0, 0x60, 0x20, 0, 0, 0});
    return png;
}

// The stream in data chunks of 64 KB.
Bytes sunsetWithStream(const Bytes& stream) {
    Bytes png = sunsetHead();
    for (std::size_t at = 0; at < stream.size(); at += 65536) {
        const std::size_t end = std::min(stream.size(), at + 65536);
        chunk(png, "IDAT",
              Bytes(stream.begin() + std::ptrdiff_t(at), stream.begin() + std::ptrdiff_t(end)));
    }
    chunk(png, "IEND", {});
    return png;
}

// The rows' data in two chunks with 2.5 million empty ones between them.
Bytes sunsetWithEmptyChunks() {
    const Bytes stream = sunsetStream(0);
    Bytes png = sunsetHead();
    const auto half = stream.begin() + std::ptrdiff_t(stream.size() / 2);
    chunk(png, "IDAT", Bytes(stream.begin(), half));
    Bytes empty;
    chunk(empty, "IDAT", {});
    for (int i = 0; i < 2500000; ++i) png.insert(png.end(), empty.begin(), empty.end());
    chunk(png, "IDAT", Bytes(half, stream.end()));
    chunk(png, "IEND", {});
    return png;
}

// One file under all eleven names (hard links: no disk for the other ten).
int elevenOf(const std::string& dir, const Bytes& picture) {
    const std::string first = dir + "/" + kPictures[0];
    if (!writeFile(first, picture)) return 1;
    std::error_code error;
    for (int i = 1; i < 11; ++i) {
        std::filesystem::create_hard_link(first, dir + "/" + kPictures[i], error);
        if (error) return 1;
    }
    return 0;
}

int tooManyPixels(const std::string& dir) {
    const Bytes picture = palettePng(2048, 1800, 0xd06020);
    bool ok = true;
    for (const char* name : kPictures) ok = ok && writeFile(dir + "/" + name, picture);
    return ok ? 0 : 1;
}

int tooManyEntries(const std::string& dir) {
    std::vector<Entry> entries;
    for (int i = 0; i < 100000; ++i) entries.push_back({std::to_string(i) + ".png", {}, 0, 0, 0});
    for (const char* name : kPictures) entries.push_back({name, {}, 0, 0, 0});
    return writeZip(dir + "/pr0n.rar", entries) && writeSunset(dir) ? 0 : 1;
}

// The grab's pixels end the file; its middle lies well inside the picture.
int lit(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 200000) return 2;
    const std::size_t middle = bytes.size() - bytes.size() / 3;
    for (std::size_t i = middle; i < middle + 4096; ++i) {
        if (bytes[i] != 0) return 0;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_hostile archive|pictures|total|entries DIR | lit FILE\n");
        return 2;
    }
    const std::string what = argv[1], where = argv[2];
    if (what == "archive") return archiveBomb(where);
    if (what == "pictures") return pictureBombs(where);
    if (what == "total") return tooManyPixels(where);
    if (what == "entries") return tooManyEntries(where);
    if (what == "trailing") return elevenOf(where, sunsetWithStream(sunsetStream(64)));
    if (what == "trailing-budget") // the largest count whose file stays within 32 MB
        return elevenOf(where, sunsetWithStream(sunsetStream(1950)));
    if (what == "empty-chunks") return elevenOf(where, sunsetWithEmptyChunks());
    if (what == "lit") return lit(where);
    return 2;
}
