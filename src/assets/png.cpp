// png.cpp -- PNG decoding from memory with libpng into 0xAARRGGBB Images.
#include "assets/png.h"

#include "platform/platform.h"
#include "platform/std_descriptors.h"

#include <png.h>

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace assets {
namespace {

// count bytes from the blob's position on; a short read is the library's error.
void readBlob(png_structp png, FileBlob& blob, png_bytep destination, std::size_t count) {
    if (count > std::size_t(INT32_MAX)) png_error(png, "Read Error");
    std::int32_t copied = 0;
    readFileBlob(blob, destination, static_cast<std::int32_t>(count), &copied);
    if (std::size_t(copied) != count) png_error(png, "Read Error");
}

// Everything one decode owns. It lives in decodePng's frame, outside the
// function that sets the recovery point, so a longjmp leaves it intact; it
// holds no object with a destructor.
struct Decode {
    png_structp png = nullptr;
    png_infop info = nullptr;
    FileBlob blob;             // the decoder's own copy; its position is the read position
    std::int64_t chunkEnd = 8; // end of the chunk being read (its CRC), first of the signature
    bool inImageData = false;  // that chunk is image data
    std::uint32_t height = 0;  // of the picture, once its header is read
    bool interlaced = false;
    std::uint32_t readsSinceReport = 0;
    canvas::Image image;
    png_bytep block = nullptr;
    png_bytepp rows = nullptr;
    int bytesPerPixel = 0;
    std::int32_t hasAlpha = 0;
    std::int64_t maxPixels = kMaxPicturePixels;
};

enum class Outcome { Decoded, LibraryError, OutOfMemory };

bool createLibraryState(Decode& d) {
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!d.png) return false;
    d.info = png_create_info_struct(d.png);
    return d.info != nullptr;
}

void destroyLibraryState(Decode& d) {
    if (d.png) png_destroy_read_struct(&d.png, &d.info, nullptr);
    d.png = nullptr;
    d.info = nullptr;
}

void releaseRows(Decode& d) {
    std::free(d.rows);
    std::free(d.block);
    d.rows = nullptr;
    d.block = nullptr;
}

// One block of height rows of width x 4 bytes, and a pointer per row.
bool allocateRows(Decode& d) {
    const std::size_t width = std::size_t(d.image.width);
    const std::size_t height = std::size_t(d.image.height);
    d.rows = static_cast<png_bytepp>(allocate(height * sizeof(png_bytep)));
    d.block = static_cast<png_bytep>(allocate(height * width * 4));
    if (!d.rows || !d.block) return false;
    for (std::size_t y = 0; y < height; ++y) d.rows[y] = d.block + y * width * 4;
    return true;
}

// Every kind of picture ends as rows of 8-bit RGB (palette without
// transparency) or RGBA; truecolour and grey without alpha get a 0xff filler.
// Interlaced pictures are assembled by the library (asked for here, or it
// warns on stderr when it has to turn that on itself).
void requestTransformations(png_structp png, int bitDepth, int colorType) {
    png_set_interlace_handling(png);
    if (bitDepth == 16) png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_GRAY)
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
}

// Alpha channels of the file, and palette transparency, which the palette
// expansion turns into a fourth byte a pixel.
std::int32_t hasAlphaFor(int colorType, int bytesPerPixel) {
    if (colorType & PNG_COLOR_MASK_ALPHA) return 1;
    return colorType == PNG_COLOR_TYPE_PALETTE && bytesPerPixel == 4 ? 1 : 0;
}

// Only IHDR, PLTE, tRNS, IDAT and IEND shape the pixels. The library would
// allocate whatever length a text, profile or suggested-palette chunk claims
// (it only warns when the claim is absurd); skipped chunks are read through.
void skipAncillaryChunks(png_structp png) {
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
}

void refuseOversized(const Decode& d, png_uint_32 width, png_uint_32 height) {
    const std::int64_t limit = d.maxPixels < kMaxPicturePixels ? d.maxPixels : kMaxPicturePixels;
    if (std::int64_t(width) * std::int64_t(height) > limit) png_error(d.png, "Image too large");
}

// Rows of a large picture take a while: the show answers its window every
// few of them.
constexpr png_uint_32 kRowsBetweenReports = 16;
void rowDone(png_structp, png_uint_32 row, int) {
    if (row % kRowsBetweenReports == 0) reportProgress();
}

// The compressed image data is read and inflated in pieces of this size.
// Once the rows are complete nothing more is read, so at most one piece
// beyond what they need is ever inflated (about 512 KB of output at
// deflate's largest ratio), however much data the stream still holds.
constexpr std::size_t kImageDataPiece = 512;
// Walking chunks or inflating input that yields nothing calls the read
// function many times; the show is answered every so many calls.
constexpr std::uint32_t kReadsBetweenReports = 64;

// setjmp's value when reading stops because every row is decoded.
constexpr int kRowsComplete = 2;

// The library has finished the last row (of the last pass) and now only
// wants what follows: the rest of the compressed stream and the chunks after it.
bool rowsComplete(png_structp png, const Decode& d) {
    if (d.height == 0) return false; // still in the header
    if (d.interlaced) return png_get_current_pass_number(png) >= 7;
    return png_get_current_row_number(png) >= d.height;
}

// --- the chunks, as the library reads them ---

constexpr std::uint32_t kChunksBetweenReports = 1 << 16;
constexpr std::int64_t kSignatureBytes = 8;

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// An image data chunk without data, its CRC correct: it adds nothing.
bool isEmptyImageData(const FileBlob& blob, std::int64_t at) {
    static constexpr std::uint8_t kEmpty[12] = {0,   0,   0,    0,    'I',  'D',
                                                'A', 'T', 0x35, 0xaf, 0x06, 0x1e};
    return std::int64_t(blob.size) - at >= 12 && std::memcmp(blob.data + at, kEmpty, 12) == 0;
}

// Counted before decoding, empty data chunks aside.
bool tooManyChunks(const FileBlob& blob) {
    std::int64_t chunks = 0;
    std::uint32_t steps = 0;
    for (std::int64_t at = kSignatureBytes; std::int64_t(blob.size) - at >= 12;) {
        if (++steps % kChunksBetweenReports == 0) reportProgress();
        const std::uint8_t* p = blob.data + at;
        if (!isEmptyImageData(blob, at) && ++chunks > kMaxPictureChunks) return true;
        if (std::memcmp(p + 4, "IEND", 4) == 0) break;
        at += 12 + std::int64_t(bigEndian32(p));
    }
    return false;
}

// Called as the library reads a chunk header (its reads are sequential, a
// header in one read of 8 bytes): notes where the chunk ends, and within the
// image data passes over empty data chunks, which the library would walk
// one by one.
void followChunks(Decode& d, std::size_t count) {
    std::int64_t at = d.blob.position;
    if (count != 8 || at != d.chunkEnd) return;
    if (d.inImageData) {
        for (std::uint32_t skipped = 1; isEmptyImageData(d.blob, at); ++skipped) {
            at += 12;
            if (skipped % kChunksBetweenReports == 0) reportProgress();
        }
        d.blob.position = std::int32_t(at);
    }
    if (std::int64_t(d.blob.size) - at < 8) return;
    const std::uint8_t* p = d.blob.data + at;
    d.chunkEnd = at + 12 + std::int64_t(bigEndian32(p));
    d.inImageData = std::memcmp(p + 4, "IDAT", 4) == 0;
}

// The read function of a decode: after the last row only the CRC that closes
// the chunk just read through is given, so that its data is still checked;
// asking for anything else ends the decode with its rows complete.
void readImageData(png_structp png, png_bytep destination, std::size_t count) {
    auto* d = static_cast<Decode*>(png_get_io_ptr(png));
    if (rowsComplete(png, *d) && (count != 4 || std::int64_t(d->blob.position) + 4 != d->chunkEnd))
        png_longjmp(png, kRowsComplete);
    followChunks(*d, count);
    if (++d->readsSinceReport == kReadsBetweenReports) {
        d->readsSinceReport = 0;
        reportProgress();
    }
    readBlob(png, d->blob, destination, count);
}

// The rows must hold what the copy reads: 8-bit samples, 3 or 4 a pixel,
// within the width x 4 bytes allocated for each row.
void checkRowLayout(Decode& d) {
    const int channels = png_get_channels(d.png, d.info);
    const std::size_t rowBytes = png_get_rowbytes(d.png, d.info);
    if (png_get_bit_depth(d.png, d.info) != 8 || (channels != 3 && channels != 4) ||
        rowBytes != std::size_t(d.image.width) * std::size_t(channels))
        png_error(d.png, "Unexpected row layout");
    d.bytesPerPixel = channels;
}

// The only function with a recovery point. Its own locals are not used after
// a longjmp; everything that must survive lives in d, in the caller's frame
// (hence never inlined into it). Nothing after the last row is read: it
// cannot change the pixels, and the stream may run on for gigabytes.
[[gnu::noinline]] Outcome readPicture(Decode& d) {
    if (const int jumped = setjmp(png_jmpbuf(d.png)))
        return jumped == kRowsComplete ? Outcome::Decoded : Outcome::LibraryError;
    if (tooManyChunks(d.blob)) png_error(d.png, "Too many chunks");
    png_set_user_limits(d.png, kMaxPictureSide, kMaxPictureSide);
    skipAncillaryChunks(d.png);
    png_set_compression_buffer_size(d.png, kImageDataPiece);
    png_set_read_fn(d.png, &d, readImageData);
    png_set_read_status_fn(d.png, rowDone);
    png_read_info(d.png, d.info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(d.png, d.info, &width, &height, &bitDepth, &colorType, &interlace, nullptr,
                 nullptr);
    refuseOversized(d, width, height);
    d.interlaced = interlace != PNG_INTERLACE_NONE;
    d.height = height;
    d.image = canvas::createImage(std::int32_t(width), std::int32_t(height));
    if (!d.image.pixels || !allocateRows(d)) return Outcome::OutOfMemory;

    requestTransformations(d.png, bitDepth, colorType);
    png_read_update_info(d.png, d.info);
    checkRowLayout(d);
    d.hasAlpha = hasAlphaFor(colorType, d.bytesPerPixel);
    png_read_image(d.png, d.rows);
    return Outcome::Decoded;
}

// Every pixel lies inside the Image, so rows are written straight into its
// words: a call per pixel cost two thirds of the decoding time of a large
// picture.
template <int kStride> void copyRow(const png_byte* p, canvas::PixelWord* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x, p += kStride) {
        const std::uint32_t alpha = kStride == 4 ? p[3] : 0xff;
        out[x] = alpha << 24 | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
    }
}

void copyRows(const Decode& d) {
    const std::size_t width = std::size_t(d.image.width);
    for (std::int32_t y = 0; y < d.image.height; ++y) {
        canvas::PixelWord* out = d.image.pixels + std::size_t(y) * width;
        if (d.bytesPerPixel == 4)
            copyRow<4>(d.rows[y], out, width);
        else
            copyRow<3>(d.rows[y], out, width);
    }
}

canvas::Image finishDecoded(Decode& d) {
    copyRows(d);
    releaseRows(d);
    d.image.hasAlpha = d.hasAlpha;
    return d.image;
}

// A late error keeps the header's size; the words the library never
// finished are cleared rather than left undefined.
canvas::Image finishLibraryError(Decode& d) {
    std::printf("%s", platform::printable(d.blob.name).c_str());
    releaseRows(d);
    canvas::clearImage(d.image);
    return d.image;
}

canvas::Image finishOutOfMemory(Decode& d) {
    releaseRows(d);
    canvas::releaseImage(d.image);
    platform::showMessageBox("PNG:  Out of Memory", " ");
    return canvas::Image{};
}

} // namespace

void memoryReadCallback(png_struct_def* png, std::uint8_t* destination, std::size_t count) {
    readBlob(png, *static_cast<FileBlob*>(png_get_io_ptr(png)), destination, count);
}

canvas::Image decodePng(FileBlob blob, std::int64_t maxPixels) {
    Decode d;
    d.blob = blob;
    d.maxPixels = maxPixels;
    const Outcome outcome = createLibraryState(d) ? readPicture(d) : Outcome::OutOfMemory;
    destroyLibraryState(d);
    releaseFileBlob(d.blob);
    switch (outcome) {
    case Outcome::Decoded:
        return finishDecoded(d);
    case Outcome::LibraryError:
        return finishLibraryError(d);
    case Outcome::OutOfMemory:
        break;
    }
    return finishOutOfMemory(d);
}

void loadPictures(const char* const* names, canvas::Image* images, std::int32_t count,
                  std::int64_t totalPixels) {
    std::int64_t left = totalPixels;
    for (std::int32_t i = 0; i < count; ++i) {
        images[i] = decodePng(loadFile(names[i], kMaxPictureFileBytes), left);
        left -= std::int64_t(images[i].width) * images[i].height;
        reportProgress();
    }
}

} // namespace assets
