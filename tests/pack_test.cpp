// pack_test.cpp -- the default asset pack: the same bytes on every run, each
// picture decodes with the show's own decoder to its intended size and kind,
// the archive gives back every file, and the song and its module version play
// for their whole length with the beat on the show's whole seconds.
#include "assets/png.h"
#include "assets/store.h"
#include "makepack/makepack.h"
#include "platform/sdl_audio.h"
#include "test_assets.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unistd.h>

namespace {

using makepack::Bytes;
using makepack::PackFile;

// Drawing the pictures takes seconds; the tests of one process share them.
const std::vector<PackFile>& pictures() {
    static const std::vector<PackFile> files = makepack::makePictures();
    return files;
}

const Bytes& fileOf(const std::string& name) {
    for (const PackFile& f : pictures())
        if (f.name == name) return f.bytes;
    static const Bytes none;
    ADD_FAILURE() << name << " is not in the pack";
    return none;
}

// What the PNG header says, read from the IHDR chunk.
struct Header {
    int width = 0, height = 0, bitDepth = 0, colourType = -1;
};

std::uint32_t big32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

Header headerOf(const Bytes& png) {
    Header h;
    if (png.size() < 33 || std::memcmp(png.data() + 12, "IHDR", 4) != 0) return h;
    h.width = static_cast<int>(big32(png.data() + 16));
    h.height = static_cast<int>(big32(png.data() + 20));
    h.bitDepth = png[24];
    h.colourType = png[25];
    return h;
}

// Decodes through the show's path: a malloc'd blob the decoder takes over.
canvas::Image decode(const std::string& name, const Bytes& bytes) {
    assets::FileBlob blob;
    std::snprintf(blob.name, sizeof blob.name, "%s", name.c_str());
    blob.data = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(blob.data, bytes.data(), bytes.size());
    blob.size = static_cast<std::int32_t>(bytes.size());
    return assets::decodePng(blob);
}

std::uint32_t alphaAt(const canvas::Image& im, int x, int y) {
    return im.pixels[static_cast<size_t>(y) * im.width + x] >> 24;
}

struct Expected {
    const char* name;
    int colourType, bitDepth;
};

// The show's load order, with the storage each picture is meant to exercise.
const Expected kPictures[] = {
    {"moose_middle.png", 6, 8}, {"moose_right.png", 6, 8}, {"moose_left.png", 6, 8},
    {"solnedgang.png", 2, 8},   {"greets.png", 3, 8},      {"credits.png", 2, 16},
    {"refreng_1.png", 6, 8},    {"refreng_2.png", 6, 8},   {"vers_1.png", 6, 16},
    {"vers_2.png", 6, 8},       {"mange_hoyre.png", 6, 8},
};

// Everything is drawn from fixed seeds and written with fixed dates, so the
// pack and its archive come out identical; and the show's store finds every
// file in that archive, deflated, at its root.
TEST(Pack, IsTheSameBytesEveryTimeAndTheStoreReadsItBack) {
    std::vector<PackFile> pack = makepack::makePack(), again = makepack::makePack();
    ASSERT_EQ(pack.size(), std::size(kPictures) + 1);
    EXPECT_EQ(pack.back().name, "elg.mp3");
    ASSERT_EQ(again.size(), pack.size());
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_TRUE(again[i].bytes == pack[i].bytes) << again[i].name;
    testassets::ScopedTempDir dir;
    ASSERT_TRUE(makepack::writeZip("pr0n.rar", pack));
    ASSERT_TRUE(makepack::writeZip("again.zip", again));
    Bytes archive = testassets::readFile("pr0n.rar");
    EXPECT_FALSE(archive.empty());
    EXPECT_TRUE(archive == testassets::readFile("again.zip"));

    unzFile zip = unzOpen("pr0n.rar");
    ASSERT_NE(zip, nullptr);
    int entries = 0;
    for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip), ++entries) {
        unz_file_info info;
        char name[64];
        ASSERT_EQ(unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0),
                  UNZ_OK);
        EXPECT_EQ(info.compression_method, 8u) << name;
        EXPECT_EQ(std::strchr(name, '/'), nullptr) << name;
    }
    unzClose(zip);
    EXPECT_EQ(entries, static_cast<int>(pack.size()));

    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    for (const PackFile& f : pack) {
        assets::FileBlob blob = assets::loadFile(f.name.c_str());
        ASSERT_EQ(blob.size, static_cast<std::int32_t>(f.bytes.size())) << f.name;
        EXPECT_EQ(std::memcmp(blob.data, f.bytes.data(), f.bytes.size()), 0) << f.name;
        assets::releaseFileBlob(blob);
    }
    assets::closeArchive();
    EXPECT_TRUE(makepack::makeModule() == makepack::makeModule());
}

void expectOpaqueBackgrounds() {
    for (const char* name : {"solnedgang.png", "greets.png", "credits.png"}) {
        canvas::Image im = decode(name, fileOf(name));
        ASSERT_EQ(im.width, 640) << name;
        ASSERT_EQ(im.height, 480) << name;
        EXPECT_EQ(im.hasAlpha, 0) << name;
        bool opaque = true;
        for (int i = 0; i < im.width * im.height; ++i)
            opaque = opaque && (im.pixels[i] >> 24) == 255;
        EXPECT_TRUE(opaque) << name;
        canvas::releaseImage(im);
    }
}

// Soft edges: many pixels between clear and solid, the corners clear, a solid
// middle; and the three poses are one animal of one size.
void expectOneMooseWithSoftEdges() {
    int width = 0, height = 0;
    for (const char* name : {"moose_middle.png", "moose_right.png", "moose_left.png"}) {
        canvas::Image im = decode(name, fileOf(name));
        ASSERT_GT(im.width, 50) << name;
        EXPECT_EQ(im.hasAlpha, 1) << name;
        if (!width) width = im.width, height = im.height;
        EXPECT_EQ(im.width, width) << name;
        EXPECT_EQ(im.height, height) << name;
        // Standing at y = 84, the hooves stay on the canvas.
        EXPECT_LE(84 + im.height, 480) << name;
        int partial = 0, solid = 0;
        for (int y = 0; y < im.height; ++y) {
            for (int x = 0; x < im.width; ++x) {
                std::uint32_t a = alphaAt(im, x, y);
                partial += a > 0 && a < 255;
                solid += a == 255;
            }
        }
        EXPECT_GT(partial, 2000) << name;
        EXPECT_GT(solid, im.width * im.height / 5) << name;
        EXPECT_EQ(alphaAt(im, 0, 0), 0u) << name;
        EXPECT_EQ(alphaAt(im, im.width - 1, 0), 0u) << name;
        EXPECT_EQ(alphaAt(im, im.width / 2, im.height / 2), 255u) << name;
        canvas::releaseImage(im);
    }
    // The leaning poses differ from the middle one and from each other.
    EXPECT_FALSE(fileOf("moose_right.png") == fileOf("moose_middle.png"));
    EXPECT_FALSE(fileOf("moose_left.png") == fileOf("moose_right.png"));
}

void expectLyricsOnClearGround() {
    for (const char* name :
         {"vers_1.png", "refreng_1.png", "refreng_2.png", "vers_2.png", "mange_hoyre.png"}) {
        canvas::Image im = decode(name, fileOf(name));
        EXPECT_EQ(im.hasAlpha, 1) << name;
        // At 150 pixels a second a banner wider than the screen by 600 takes
        // more than eight seconds to pass.
        EXPECT_GT(im.width, 640 + 600) << name;
        // Above the moose's antlers, which start at y = 84.
        EXPECT_LE(im.height, 84) << name;
        int clear = 0, ink = 0;
        for (int i = 0; i < im.width * im.height; ++i) {
            std::uint32_t a = im.pixels[i] >> 24;
            clear += a == 0;
            ink += a == 255;
        }
        EXPECT_GT(clear, im.width * im.height / 4) << name;
        // No letter, outline or shadow cut off at any edge.
        std::uint32_t edge = 0;
        for (int y = 0; y < im.height; ++y)
            edge |= alphaAt(im, 0, y) | alphaAt(im, im.width - 1, y);
        for (int x = 0; x < im.width; ++x)
            edge |= alphaAt(im, x, 0) | alphaAt(im, x, im.height - 1);
        EXPECT_EQ(edge, 0u) << name;
        EXPECT_GT(ink, im.width * im.height / 20) << name;
        canvas::releaseImage(im);
    }
}

// Each picture through the show's decoder, in the show's load order.
TEST(Pack, PicturesDecodeToTheSizeAndKindMeantForThem) {
    ASSERT_EQ(pictures().size(), std::size(kPictures));
    for (size_t i = 0; i < std::size(kPictures); ++i) {
        EXPECT_EQ(pictures()[i].name, kPictures[i].name);
        Header h = headerOf(pictures()[i].bytes);
        EXPECT_EQ(h.colourType, kPictures[i].colourType) << kPictures[i].name;
        EXPECT_EQ(h.bitDepth, kPictures[i].bitDepth) << kPictures[i].name;
    }
    expectOpaqueBackgrounds();
    expectOneMooseWithSoftEdges();
    expectLyricsOnClearGround();
}

// A small raster with hard edges, translucency and a smooth ramp.
makepack::Raster testRaster(int width, int height) {
    makepack::Raster r = makepack::makeRaster(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            r.at(x, y) = makepack::rgb(
                float(x) / std::max(1, width - 1), (x + y) % 3 == 0 ? 1.0f : 0.25f,
                float(y) / std::max(1, height - 1), float((x * 37 + y * 11) % 256) / 255);
    return r;
}

int channelOf(std::uint32_t word, int shift) {
    return static_cast<int>((word >> shift) & 0xff);
}

// Each storage kind read back by the show's decoder: colours within the
// writer's dither, alpha exact where stored, palette pictures within what
// 256 colours can hold.
TEST(PackPngWriter, EveryKindDecodesBackToThePicture) {
    using makepack::PngKind;
    struct Case {
        PngKind kind;
        int colourType, bitDepth, tolerance;
        bool alpha;
    };
    const Case cases[] = {{PngKind::Rgb8, 2, 8, 1, false},
                          {PngKind::Rgb16, 2, 16, 1, false},
                          {PngKind::Rgba8, 6, 8, 1, true},
                          {PngKind::Rgba16, 6, 16, 1, true},
                          {PngKind::Palette8, 3, 8, 24, false}};
    for (int size : {1, 37}) {
        makepack::Raster r = testRaster(size, size + 3);
        for (const Case& c : cases) {
            Bytes png = makepack::encodePng(r, c.kind);
            Header h = headerOf(png);
            EXPECT_EQ(h.colourType, c.colourType);
            EXPECT_EQ(h.bitDepth, c.bitDepth);
            canvas::Image im = decode("test.png", png);
            ASSERT_EQ(im.width, r.width);
            ASSERT_EQ(im.height, r.height);
            EXPECT_EQ(im.hasAlpha, c.alpha ? 1 : 0);
            int worst = 0, worstAlpha = 0;
            for (int y = 0; y < r.height; ++y) {
                for (int x = 0; x < r.width; ++x) {
                    std::uint32_t w = im.pixels[static_cast<size_t>(y) * im.width + x];
                    const makepack::Rgba& p = r.at(x, y);
                    worst =
                        std::max({worst, std::abs(channelOf(w, 16) - int(std::lround(p.r * 255))),
                                  std::abs(channelOf(w, 8) - int(std::lround(p.g * 255))),
                                  std::abs(channelOf(w, 0) - int(std::lround(p.b * 255)))});
                    int a = c.alpha ? int(std::lround(p.a * 255)) : 255;
                    worstAlpha = std::max(worstAlpha, std::abs(channelOf(w, 24) - a));
                }
            }
            EXPECT_LE(worst, c.tolerance) << "kind " << int(c.kind) << ", size " << size;
            EXPECT_LE(worstAlpha, 1) << "kind " << int(c.kind) << ", size " << size;
            canvas::releaseImage(im);
        }
    }
}

TEST(PackPngWriter, PaletteOfFewColoursIsExact) {
    // Four flat colours need no more than four entries and lose nothing.
    makepack::Raster r = makepack::makeRaster(16, 16);
    const std::uint32_t colours[] = {0x000000, 0xffffff, 0xff8000, 0x2040c0};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) r.at(x, y) = makepack::hex(colours[(x / 4 + y / 8) % 4]);
    canvas::Image im = decode("few.png", makepack::encodePng(r, makepack::PngKind::Palette8));
    ASSERT_EQ(im.width, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(im.pixels[y * 16 + x], 0xff000000u | colours[(x / 4 + y / 8) % 4])
                << x << "," << y;
    canvas::releaseImage(im);
}

TEST(PackText, RendersNorwegianLettersAndSurvivesBrokenUtf8) {
    makepack::Font font(makepack::fontPath("DejaVuSans-Bold.ttf"), 40);
    ASSERT_TRUE(font.ok());
    EXPECT_GT(font.measure("ø"), 10);
    EXPECT_GT(font.measure("høyre"), font.measure("hyre"));
    // A sequence cut short at the end, or a byte that starts none, becomes
    // the replacement character, and nothing is read past the text.
    const std::string cut = "A\xc3";
    EXPECT_EQ(font.measure(std::string_view(cut.data(), cut.size())),
              font.measure("A\xef\xbf\xbd"));
    EXPECT_EQ(font.measure("\xff"), font.measure("\xef\xbf\xbd"));
    // Glyphs that hang over the mask's edges are clipped.
    makepack::Mask mask = makepack::makeMask(30, 20);
    font.draw(mask, "Mange", -12, 30);
    float ink = 0;
    for (float v : mask.values) ink += v;
    EXPECT_GT(ink, 10.0f);
    EXPECT_FALSE(makepack::Font("/no/such/font.ttf", 12).ok());
}

// The menu icon at each size menus ask for, drawn at that size: the PNG
// is that size with alpha, the disc's rim stays within two pixels (a picture
// shrunk from a larger one blurs it), the corners are clear and the dark
// moose fills a like share of the disc at every size.
TEST(PackIcon, EachSizeIsDrawnSharpWithTheMooseInTheDisc) {
    for (int size : {48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const Bytes png = makepack::encodePng(makepack::drawIcon(size), makepack::PngKind::Rgba8);
        const Header h = headerOf(png);
        EXPECT_EQ(h.width, size);
        EXPECT_EQ(h.height, size);
        EXPECT_EQ(h.colourType, 6);
        canvas::Image im = decode("kva.png", png);
        ASSERT_EQ(im.width, size);
        for (int corner : {0, size - 1}) {
            EXPECT_EQ(alphaAt(im, corner, 0), 0u);
            EXPECT_EQ(alphaAt(im, 0, corner), 0u);
        }
        EXPECT_EQ(alphaAt(im, size / 2, size / 2), 255u);
        for (int row : {size / 2, size / 3}) {
            int soft = 0;
            for (int x = 0; x < size / 2; ++x) {
                const std::uint32_t a = alphaAt(im, x, row);
                soft += a > 8 && a < 247;
            }
            EXPECT_LE(soft, 2) << "row " << row;
        }
        int inDisc = 0, dark = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const std::uint32_t p = im.pixels[static_cast<size_t>(y) * size + x];
                if ((p >> 24) < 255) continue;
                ++inDisc;
                dark += channelOf(p, 16) + channelOf(p, 8) + channelOf(p, 0) < 300;
            }
        }
        EXPECT_GT(dark, inDisc / 5);
        EXPECT_LT(dark, inDisc * 4 / 5);
        canvas::releaseImage(im);
    }
    EXPECT_EQ(makepack::drawIcon(1).width, makepack::kIconMinSize);
    EXPECT_EQ(makepack::drawIcon(1 << 20).width, makepack::kIconMaxSize);
}

// A view of the moose at half scale covers what the whole moose's raster
// does, averaged over each two-by-two block: the view maps pixels to the
// moose's own units without offset or stretch.
TEST(PackIcon, MooseViewAtHalfScaleMatchesTheWholeMoose) {
    const makepack::Raster whole = makepack::drawMoose(makepack::Pose::Middle);
    const makepack::Raster half = makepack::drawMoose(
        makepack::Pose::Middle, {whole.width / 2, whole.height / 2, {0, 0}, 0.5f});
    ASSERT_EQ(half.width, whole.width / 2);
    double difference = 0, cover = 0;
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            float mean = 0;
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) mean += whole.at(2 * x + i, 2 * y + j).a / 4;
            difference += std::fabs(mean - half.at(x, y).a);
            cover += mean;
        }
    }
    EXPECT_GT(cover, half.width * half.height * 0.2);
    EXPECT_LT(difference, cover * 0.05);
}

TEST(Pack, WriteZipFailsWhereItCannotWrite) {
    testassets::ScopedTempDir dir;
    EXPECT_FALSE(makepack::writeZip("no/such/folder/pr0n.rar", {{"elg.mp3", Bytes{1, 2, 3}}}));
    EXPECT_NE(access("no", F_OK), 0);
    EXPECT_FALSE(makepack::writeFile("no/such/folder/elg.mp3", Bytes{1, 2, 3}));
}

// All frames of a source, interleaved stereo.
std::vector<float> drain(audio::detail::Source& source) {
    std::vector<float> all, chunk(2 * 4096);
    for (std::int32_t n; (n = source.read(chunk.data(), 4096)) > 0;)
        all.insert(all.end(), chunk.begin(), chunk.begin() + 2 * n);
    return all;
}

double level(const std::vector<float>& s, double from, double to) {
    long a = std::lround(from * makepack::kSampleRate), b = std::lround(to * makepack::kSampleRate);
    double sum = 0;
    for (long i = std::max(a, 0L); i < b && 2 * i + 1 < static_cast<long>(s.size()); ++i)
        sum += s[2 * i] * s[2 * i] + s[2 * i + 1] * s[2 * i + 1];
    return std::sqrt(sum / std::max(1L, b - a));
}

// The moose steps once a second: the drums must hit at (nearly) every whole
// second, louder just after it than just before. A tune off that grid, or
// drifting from it, passes almost none: 60 ms either way already gives 0.
void expectBeatOnWholeSeconds(const std::vector<float>& s, double seconds, double share) {
    int onBeat = 0, beats = 0;
    for (int t = 1; t + 1 < seconds; ++t, ++beats)
        onBeat += level(s, t, t + 0.05) > 1.3 * level(s, t - 0.07, t - 0.02);
    EXPECT_GE(onBeat, beats * share) << onBeat << " of " << beats;
}

TEST(Pack, SongIsAStrictMp3OfTheWholeTuneAtCdRate) {
    const Bytes mp3 = makepack::encodeMp3(makepack::renderSong());
    ASSERT_TRUE(audio::detail::decodesAsMp3(mp3.data(), mp3.size()));
    auto source = audio::detail::openMp3(mp3.data(), mp3.size(), true);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->rate(), 44100u);
    std::vector<float> s = drain(*source);
    const double seconds = double(s.size() / 2) / makepack::kSampleRate;
    EXPECT_GE(seconds, 30.0);
    // Gapless: the encoder's padding is dropped, so the loop keeps the beat.
    EXPECT_NEAR(static_cast<long>(s.size() / 2), makepack::kSongFrames, 1152);
    float peak = 0;
    for (float v : s) peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 1.0f);
    EXPECT_GT(level(s, 0, seconds), 0.05);
    expectBeatOnWholeSeconds(s, seconds, 0.95);
    // It starts on the downbeat and its end runs into its start: no silence
    // at either side of the loop.
    EXPECT_GT(level(s, 0, 0.1), 0.02);
    EXPECT_GT(level(s, seconds - 0.1, seconds), 0.02);
}

TEST(Pack, ModuleIsTheSameTuneAtTheSameLength) {
    Bytes mod = makepack::makeModule();
    ASSERT_GT(mod.size(), 1084u);
    EXPECT_EQ(std::memcmp(mod.data() + 1080, "M.K.", 4), 0);
    EXPECT_TRUE(audio::detail::looksLikeModule(mod.data(), mod.size()));
    auto source = audio::detail::openModule(mod.data(), mod.size(), 44100, false);
    ASSERT_NE(source, nullptr);
    std::vector<float> s = drain(*source);
    const double seconds = double(s.size() / 2) / 44100;
    EXPECT_NEAR(seconds, double(makepack::kSongFrames) / makepack::kSampleRate, 0.2);
    // Four channels: some beats sit under a held note or a snare roll.
    expectBeatOnWholeSeconds(s, seconds, 0.75);
}

} // namespace
