// compose.cpp -- the show's own step driven at a fixed delta, the pixel
// upscale, and frames written as PNG.
#include "export/export.h"

#include "assets/store.h"

#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace exporter {

void loadShowAssets(ShowAssets& a) {
    assets::openArchive(show::kArchiveName);
    for (int i = 0; i < 11; ++i) a.loaded[i] = show::loadPicture(show::kPictureNames[i]);
    a.pictures = show::picturesFromLoadOrder(a.loaded);
    a.song = assets::loadFile(show::kSongName);
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

void upscale(canvas::Image src, std::int32_t scale, canvas::PixelWord* dst) {
    const std::size_t srcW = std::size_t(src.width), dstW = srcW * std::size_t(scale);
    for (std::int32_t y = 0; y < src.height; ++y) {
        const canvas::PixelWord* in = src.pixels + std::size_t(y) * srcW;
        canvas::PixelWord* row = dst + std::size_t(y) * std::size_t(scale) * dstW;
        if (scale == 1) {
            std::memcpy(row, in, srcW * sizeof(canvas::PixelWord));
            continue;
        }
        canvas::PixelWord* out = row;
        for (std::size_t x = 0; x < srcW; ++x) {
            for (std::int32_t k = 0; k < scale; ++k) *out++ = in[x];
        }
        for (std::int32_t k = 1; k < scale; ++k) {
            std::memcpy(row + std::size_t(k) * dstW, row, dstW * sizeof(canvas::PixelWord));
        }
    }
}

namespace {

// One upscaled row of words as R, G, B (, A) bytes.
void rowBytes(const canvas::PixelWord* words, std::size_t width, std::int32_t scale, bool withAlpha,
              std::vector<png_byte>& out) {
    std::size_t o = 0;
    for (std::size_t x = 0; x < width; ++x) {
        const canvas::PixelWord w = words[x];
        for (std::int32_t k = 0; k < scale; ++k) {
            out[o++] = png_byte(w >> 16);
            out[o++] = png_byte(w >> 8);
            out[o++] = png_byte(w);
            if (withAlpha) out[o++] = png_byte(w >> 24);
        }
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
std::string encodePng(FILE* file, canvas::Image image, std::int32_t scale, bool withAlpha) {
    std::string reason;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &reason, pngError, pngWarning);
    if (!png) return "out of memory";
    png_infop info = png_create_info_struct(png);
    const std::size_t channels = withAlpha ? 4 : 3;
    std::vector<png_byte> row(std::size_t(image.width) * std::size_t(scale) * channels);
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(image.width * scale), png_uint_32(image.height * scale),
                     8, withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (std::int32_t y = 0; y < image.height; ++y) {
            rowBytes(image.pixels + std::size_t(y) * std::size_t(image.width),
                     std::size_t(image.width), scale, withAlpha, row);
            for (std::int32_t k = 0; k < scale; ++k) png_write_row(png, row.data());
        }
        png_write_end(png, info);
    } else if (!info) {
        reason = "out of memory";
    }
    png_destroy_write_struct(&png, &info);
    return reason;
}

} // namespace

std::string writePng(const std::string& path, canvas::Image image, std::int32_t scale,
                     bool withAlpha) {
    if (image.width <= 0 || image.height <= 0 || !image.pixels) return "empty image";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return std::strerror(errno);
    std::string reason = encodePng(file, image, scale, withAlpha);
    if (std::fclose(file) != 0 && reason.empty()) reason = std::strerror(errno);
    if (!reason.empty()) std::remove(path.c_str());
    return reason;
}

} // namespace exporter
