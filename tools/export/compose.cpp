// compose.cpp -- the show's own step driven at a fixed delta, the pixel
// upscale, and frames written as PNG.
#include "export/compose.h"

#include "assets/png.h"
#include "assets/store.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace exporter {

namespace {

// Standard error caught in a temporary file while the pictures decode; the
// PNG library's default handlers print there ("libpng error: Read Error"
// for every missing picture), which says nothing the summary does not.
struct CaughtErrors {
    std::FILE* file = std::tmpfile();
    int saved = -1;

    CaughtErrors() {
        std::fflush(stderr);
        if (file) saved = dup(STDERR_FILENO);
        if (saved >= 0 && dup2(fileno(file), STDERR_FILENO) < 0) {
            close(saved);
            saved = -1;
        }
    }
    // Puts standard error back and passes on every line but libpng's.
    ~CaughtErrors() {
        std::fflush(stderr);
        if (saved >= 0) {
            dup2(saved, STDERR_FILENO);
            close(saved);
            std::rewind(file);
            char line[1024];
            while (std::fgets(line, sizeof line, file)) {
                if (std::strncmp(line, "libpng ", 7) != 0) std::fputs(line, stderr);
            }
        }
        if (file) std::fclose(file);
    }
    CaughtErrors(const CaughtErrors&) = delete;
    CaughtErrors& operator=(const CaughtErrors&) = delete;
};

} // namespace

void loadShowAssets(ShowAssets& a) {
    CaughtErrors caught;
    assets::openArchive(show::kArchiveName);
    assets::loadPictures(show::kPictureNames, a.loaded, 11);
    a.pictures = show::picturesFromLoadOrder(a.loaded);
    a.song = assets::loadFile(show::kSongName, assets::kMaxSongBytes);
    assets::closeArchive();
}

void releaseShowAssets(ShowAssets& a) {
    for (canvas::Image& image : a.loaded) canvas::releaseImage(image);
    a.pictures = show::Pictures{};
    assets::releaseFileBlob(a.song);
}

std::int32_t stillSteps(double seconds) {
    const double steps = std::round(seconds * kStillFps);
    return steps < 1.0 ? 1 : static_cast<std::int32_t>(steps);
}

void composeStill(const show::Pictures& pictures, std::int32_t steps, canvas::Image target) {
    show::ShowState state;
    show::initShowState(state);
    canvas::clearImage(target);
    const float delta = 1.0f / static_cast<float>(kStillFps);
    for (std::int32_t i = 0; i < steps; ++i) show::stepShow(state, delta, pictures, target);
}

std::int64_t composeShow(const show::Pictures& pictures, std::int32_t fps, canvas::Image target,
                         const FrameFn& onFrame) {
    show::ShowState state;
    show::initShowState(state);
    canvas::clearImage(target);
    const float delta = 1.0f / static_cast<float>(fps);
    std::int64_t frames = 0;
    while (show::stepShow(state, delta, pictures, target)) {
        ++frames;
        if (!onFrame(target)) break;
    }
    return frames;
}

void place(canvas::Image src, const Framing& f, canvas::PixelWord* dst) {
    constexpr canvas::PixelWord kBlack = 0xFF000000u;
    const std::size_t outW = std::size_t(f.width), srcW = std::size_t(src.width);
    const std::size_t scale = std::size_t(f.scale), placedW = srcW * scale;
    const std::size_t top = std::size_t(f.top), left = std::size_t(f.left);
    const std::size_t placedH = std::size_t(src.height) * scale;
    std::fill(dst, dst + top * outW, kBlack);
    std::fill(dst + (top + placedH) * outW, dst + std::size_t(f.height) * outW, kBlack);
    for (std::size_t y = 0; y < std::size_t(src.height); ++y) {
        const canvas::PixelWord* in = src.pixels + y * srcW;
        canvas::PixelWord* row = dst + (top + y * scale) * outW;
        std::fill(row, row + left, kBlack);
        std::fill(row + left + placedW, row + outW, kBlack);
        canvas::PixelWord* out = row + left;
        if (scale == 1) {
            std::memcpy(out, in, srcW * sizeof(canvas::PixelWord));
        } else {
            for (std::size_t x = 0; x < srcW; ++x) {
                for (std::size_t k = 0; k < scale; ++k) *out++ = in[x];
            }
        }
        for (std::size_t k = 1; k < scale; ++k)
            std::memcpy(row + k * outW, row, outW * sizeof(canvas::PixelWord));
    }
}

namespace {

// One row of words as R, G, B bytes.
void rowBytes(const canvas::PixelWord* words, std::size_t width, std::vector<png_byte>& out) {
    for (std::size_t x = 0; x < width; ++x) {
        out[3 * x] = png_byte(words[x] >> 16);
        out[3 * x + 1] = png_byte(words[x] >> 8);
        out[3 * x + 2] = png_byte(words[x]);
    }
}

// libpng reports a failure by jumping back here; the message is kept.
void pngError(png_structp png, png_const_charp message) {
    auto* reason = static_cast<std::string*>(png_get_error_ptr(png));
    *reason = message;
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// Kept out of the function that calls setjmp, so no local of it is live
// across the jump.
std::string encodePng(FILE* file, canvas::Image image) {
    std::string reason;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &reason, pngError, pngWarning);
    if (!png) return "out of memory";
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row(std::size_t(image.width) * 3);
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (std::int32_t y = 0; y < image.height; ++y) {
            rowBytes(image.pixels + std::size_t(y) * std::size_t(image.width),
                     std::size_t(image.width), row);
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
    } else if (!info) {
        reason = "out of memory";
    }
    png_destroy_write_struct(&png, &info);
    return reason;
}

} // namespace

std::string writePng(std::FILE* file, canvas::Image image) {
    if (image.width <= 0 || image.height <= 0 || !image.pixels) return "empty image";
    return encodePng(file, image);
}

} // namespace exporter
