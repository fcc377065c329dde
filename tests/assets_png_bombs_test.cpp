// assets_png_bombs_test.cpp -- image data a picture's rows do not need:
// compressed data running on for a gigabyte past the last row, millions of
// empty data chunks, more chunks than any encoder writes. The pixels must
// come out as from the plain picture, at the cost of the plain picture.
#include "assets/png.h"
#include "test_assets.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using testassets::Bytes;

// A noisy picture: every row costs its full share of compressed data.
Bytes noisy(bool interlaced) {
    std::vector<std::uint32_t> words;
    std::uint32_t x = 777;
    for (int i = 0; i < 96 * 40; ++i) words.push_back(x = x * 1103515245u + 12345u);
    testassets::PngPicture p = testassets::pictureFromWords(96, 40, words, true);
    p.interlaced = interlaced;
    return testassets::writePng(p);
}

struct Chunk {
    std::string type;
    Bytes data;
};

std::uint32_t big32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
void putBig32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::uint8_t(v >> shift));
}

std::vector<Chunk> chunksOf(const Bytes& png) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = big32(&png[at]);
        chunks.push_back({std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8),
                          Bytes(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length))});
        at += 12 + length;
    }
    return chunks;
}

void putChunk(Bytes& png, const std::string& type, const Bytes& data, bool goodCrc = true) {
    putBig32(png, std::uint32_t(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type.begin(), type.end());
    png.insert(png.end(), data.begin(), data.end());
    const auto crc = std::uint32_t(crc32(0, png.data() + start, uInt(png.size() - start)));
    putBig32(png, goodCrc ? crc : ~crc);
}

// The picture's header chunks and its zlib stream, to build variants from.
struct Parts {
    std::vector<Chunk> head; // up to the first data chunk
    Bytes stream;
};

Parts partsOf(const Bytes& png) {
    Parts parts;
    for (const Chunk& c : chunksOf(png)) {
        if (c.type == "IDAT")
            parts.stream.insert(parts.stream.end(), c.data.begin(), c.data.end());
        else if (parts.stream.empty())
            parts.head.push_back(c);
    }
    return parts;
}

// The stream cut into data chunks of chunkBytes; between its two halves,
// emptyChunks empty ones (the first of them with a wrong CRC if asked).
Bytes assemble(const Parts& parts, const Bytes& stream, std::size_t chunkBytes,
               std::size_t emptyChunks = 0, bool badEmptyCrc = false) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const Chunk& c : parts.head) putChunk(png, c.type, c.data);
    const std::size_t half = stream.size() / 2;
    for (std::size_t at = 0; at < stream.size(); at += chunkBytes) {
        if (at <= half && half < at + chunkBytes) {
            for (std::size_t i = 0; i < emptyChunks; ++i)
                putChunk(png, "IDAT", {}, !(badEmptyCrc && i == 0));
        }
        const std::size_t end = std::min(stream.size(), at + chunkBytes);
        putChunk(png, "IDAT", Bytes(stream.begin() + long(at), stream.begin() + long(end)));
    }
    putChunk(png, "IEND", {});
    return png;
}

// The picture's own filtered rows, then pieces of 16 MiB of zeros, as one
// valid zlib stream: a decoder that reads on finds nothing wrong.
Bytes withTrailingZeros(const Bytes& stream, int pieces) {
    Bytes raw(1 << 20);
    uLongf rawSize = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &rawSize, stream.data(), uLong(stream.size())), Z_OK);
    const Bytes zeros(16 << 20, 0);
    Bytes out = {0x78, 0x9c};
    auto deflatePart = [&](const Bytes& in, std::size_t size) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        Bytes part(deflateBound(&z, uLong(size)) + 64);
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = uInt(size);
        z.next_out = part.data();
        z.avail_out = uInt(part.size());
        deflate(&z, Z_SYNC_FLUSH);
        part.erase(part.begin() + std::ptrdiff_t(z.total_out), part.end());
        deflateEnd(&z);
        return part;
    };
    const Bytes rows = deflatePart(raw, rawSize), piece = deflatePart(zeros, zeros.size());
    out.insert(out.end(), rows.begin(), rows.end());
    uLong adler = adler32(1, raw.data(), uInt(rawSize));
    const uLong pieceAdler = adler32(1, zeros.data(), uInt(zeros.size()));
    for (int i = 0; i < pieces; ++i) {
        out.insert(out.end(), piece.begin(), piece.end());
        adler = adler32_combine(adler, pieceAdler, z_off_t(zeros.size()));
    }
    out.insert(out.end(), {0x03, 0x00}); // final empty block
    putBig32(out, std::uint32_t(adler));
    return out;
}

struct Result {
    std::vector<std::uint32_t> words;
    std::string printed;
    std::string said;
    double cpuSeconds = 0;
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

Result decode(const Bytes& bytes) {
    assets::FileBlob blob;
    std::strcpy(blob.name, "bomb.png");
    blob.data = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(blob.data, bytes.data(), bytes.size());
    blob.size = std::int32_t(bytes.size());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Result r;
    const double start = cpuNow();
    canvas::Image image = assets::decodePng(blob);
    r.cpuSeconds = cpuNow() - start;
    r.said = testing::internal::GetCapturedStderr();
    r.printed = testing::internal::GetCapturedStdout();
    if (image.pixels) r.words.assign(image.pixels, image.pixels + image.width * image.height);
    canvas::releaseImage(image);
    return r;
}

// Guards against work of another order, not a measure of speed: reading on
// through the data below took seconds.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 4;
#else
constexpr double kSlowdown = 1;
#endif

// The longest stretch of this thread's processor time between two progress
// reports: what the show would go without answering its window.
double lastReport = 0, longestGap = 0;
double threadCpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
void noteReport() {
    const double now = threadCpuNow();
    longestGap = std::max(longestGap, now - lastReport);
    lastReport = now;
}

double longestGapDecoding(const Bytes& bytes) {
    const assets::ProgressHook previous = assets::setProgressHook(noteReport);
    longestGap = 0;
    lastReport = threadCpuNow();
    decode(bytes);
    noteReport();
    assets::setProgressHook(previous);
    return longestGap;
}

TEST(PngBombs, DataPastTheLastRowIsNeverInflated) {
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "not interlaced");
        const Bytes plain = noisy(interlaced);
        const Result expected = decode(plain);
        ASSERT_EQ(expected.words.size(), 96u * 40u);
        const Parts parts = partsOf(plain);
        const Bytes gigabyte = withTrailingZeros(parts.stream, 64); // 1 GiB of zeros, ~1 MB
        for (std::size_t chunkBytes : {std::size_t(8192), gigabyte.size()}) {
            const Result r = decode(assemble(parts, gigabyte, chunkBytes));
            EXPECT_EQ(r.words, expected.words);
            EXPECT_EQ(r.printed, "");
            EXPECT_LT(r.cpuSeconds, 0.5 * kSlowdown);
        }
    }
}

TEST(PngBombs, EmptyDataChunksArePassedOver) {
    const Bytes plain = noisy(false);
    const Result expected = decode(plain);
    const Parts parts = partsOf(plain);
    const Result r = decode(assemble(parts, parts.stream, 4096, 2500000));
    EXPECT_EQ(r.words, expected.words);
    EXPECT_EQ(r.printed, "");

    // Passed over only when intact: a wrong CRC is still the library's error.
    const Result damaged = decode(assemble(parts, parts.stream, 4096, 3, true));
    EXPECT_EQ(damaged.printed, "bomb.png");
    EXPECT_NE(damaged.said.find("CRC"), std::string::npos) << damaged.said;
}

// Every stretch of work is short enough for the show to answer at once (it
// takes its window's messages every 20 ms): reading on past the last row was
// seconds without a report, walking empty chunks a quarter of a second.
TEST(PngBombs, DecodingReportsProgressThroughout) {
    const Bytes plain = noisy(false);
    const Parts parts = partsOf(plain);
    const Bytes gigabyte = withTrailingZeros(parts.stream, 64);
    Bytes manyChunks = parts.stream;
    manyChunks.resize(70000, 0);
    for (const Bytes& bomb : {assemble(parts, gigabyte, 8192), assemble(parts, gigabyte, 1 << 30),
                              assemble(parts, parts.stream, 4096, 2500000),
                              assemble(parts, parts.stream, 1), assemble(parts, manyChunks, 1)}) {
        EXPECT_LT(longestGapDecoding(bomb), 0.02 * kSlowdown);
    }
}

TEST(PngBombs, MoreChunksThanAnyEncoderWritesAreRefused) {
    const Bytes plain = noisy(false);
    const Result expected = decode(plain);
    const Parts parts = partsOf(plain);
    ASSERT_GT(parts.stream.size(), 12000u);
    // Chunks of 1 byte, which the library would walk and inflate one by one;
    // refused on their count alone, before any of them is read.
    Bytes stream = parts.stream;
    stream.resize(70000, 0);
    const Result refused = decode(assemble(parts, stream, 1));
    EXPECT_TRUE(refused.words.empty());
    EXPECT_EQ(refused.printed, "bomb.png");
    EXPECT_NE(refused.said.find("Too many chunks"), std::string::npos) << refused.said;

    const Result within = decode(assemble(parts, parts.stream, 1));
    EXPECT_EQ(within.words, expected.words);
    EXPECT_EQ(within.printed, "");
}

} // namespace
