// kva-export in pieces: its arguments, the frames and stills it composes
// against the show's own step, the sound track, formats and output targets.
#include "export/codecs.h"
#include "export/compose.h"
#include "export/encoder.h"
#include "export/names.h"
#include "export/options.h"
#include "export/output.h"
#include "export/sound.h"

#include "assets/png.h"
#include "assets/store.h"
#include "export_helpers.h"
#include "test_assets.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace exporttest;

namespace {

using canvas::PixelWord;

// ---- arguments ----

exporter::ParsedArgs parse(std::vector<const char*> args) {
    args.insert(args.begin(), "kva-export");
    return exporter::parseArgs(int(args.size()), args.data());
}

TEST(ExportArgs, DefaultsAndForms) {
    auto p = parse({});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.mode, exporter::Mode::Video);
    EXPECT_EQ(p.options.fps, 60);
    EXPECT_EQ(p.options.width, 640);
    EXPECT_EQ(p.options.height, 480);
    EXPECT_EQ(p.options.output, "show.mp4");
    EXPECT_FALSE(p.options.lossless || p.options.noClobber || p.options.sound);
    EXPECT_EQ(p.options.crf, -1);
    EXPECT_EQ(p.options.maxFrames, -1);

    p = parse({"--fps=24", "--size", "1920x1440", "-o", "a.mkv"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.fps, 24);
    EXPECT_EQ(p.options.width, 1920);
    EXPECT_EQ(p.options.height, 1440);
    EXPECT_EQ(p.options.output, "a.mkv");

    p = parse({"--size=3840x2160", "--crf", "0", "--preset=slow", "--lossless", "-n", "--sound",
               "--frames", "7", "--format", "webm", "-o", "-"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.width, 3840);
    EXPECT_EQ(p.options.height, 2160);
    EXPECT_EQ(p.options.crf, 0);
    EXPECT_EQ(p.options.preset, "slow");
    EXPECT_TRUE(p.options.lossless && p.options.noClobber && p.options.sound);
    EXPECT_EQ(p.options.maxFrames, 7);
    EXPECT_EQ(p.options.format, "webm");
    EXPECT_EQ(p.options.output, "-");

    p = parse({"--still", "35.5", "--size=1280x960"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.mode, exporter::Mode::Still);
    EXPECT_DOUBLE_EQ(p.options.stillSeconds, 35.5);
    EXPECT_EQ(p.options.width, 1280);
    EXPECT_EQ(p.options.output, "frame.png");

    EXPECT_EQ(parse({"--fps", "5", "--help"}).options.mode, exporter::Mode::Help);
    EXPECT_EQ(parse({"--version"}).options.mode, exporter::Mode::Version);
    EXPECT_EQ(parse({"--still", "192"}).error, "");
    EXPECT_EQ(parse({"--still", "0"}).error, "");
}

TEST(ExportArgs, BadArgumentsNameTheProblem) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--fps", "0"}, "--fps must be a whole number from 1 to 240, not '0'"},
        {{"--fps", "241"}, "--fps must be a whole number from 1 to 240, not '241'"},
        {{"--fps", "-5"}, "--fps must be a whole number from 1 to 240, not '-5'"},
        {{"--fps", "2.5"}, "--fps must be a whole number from 1 to 240, not '2.5'"},
        {{"--fps", "99999999999"}, "--fps must be a whole number from 1 to 240"},
        {{"--fps="}, "--fps must be a whole number from 1 to 240, not ''"},
        {{"--fps"}, "--fps needs a value"},
        {{"--size", "800x600"},
         "--size must be 640x480, 1280x960, 1920x1440, 1920x1080 or 3840x2160, not '800x600'"},
        {{"--crf", "64"}, "--crf must be a whole number from 0 to 63, not '64'"},
        {{"--crf", "-1"}, "--crf must be a whole number from 0 to 63"},
        {{"--frames", "0"}, "--frames must be a whole number of at least 1, not '0'"},
        {{"--still", "5", "--lossless"}, "--still takes only --size, -n and -o"},
        {{"--still", "5", "--frames", "2"}, "--still takes only --size, -n and -o"},
        {{"--still", "-1"}, "--still must be a number of seconds from 0 to 192, not '-1'"},
        {{"--still", "192.5"}, "--still must be a number of seconds from 0 to 192"},
        {{"--still", "nan"}, "--still must be a number of seconds from 0 to 192"},
        {{"--still", "5s"}, "--still must be a number of seconds from 0 to 192"},
        {{"--still", "5", "--fps", "30"}, "--fps does not apply to --still"},
        {{"-o"}, "-o needs a value"},
        {{"-o", ""}, "-o needs a file name"},
        {{"--frobnicate"}, "unknown argument '--frobnicate' (see --help)"},
        {{"show.mp4"}, "unknown argument 'show.mp4'"},
    };
    for (const auto& c : cases) {
        const auto p = parse(c.args);
        EXPECT_EQ(p.error.find(c.message), 0u) << c.args[0] << " gave: " << p.error;
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
}

// ---- frames ----

TEST(ExportFrames, StillStepsRoundToTheNearestSixtiethWithAtLeastOne) {
    EXPECT_EQ(exporter::stillSteps(0.0), 1);
    EXPECT_EQ(exporter::stillSteps(0.004), 1);
    EXPECT_EQ(exporter::stillSteps(0.0125), 1);
    EXPECT_EQ(exporter::stillSteps(0.025), 2);
    EXPECT_EQ(exporter::stillSteps(35.5), 2130);
    EXPECT_EQ(exporter::stillSteps(192.0), 11520);
}

// Enlarged by whole pixels and centred, the border black, as the display
// places the frame on a larger screen.
TEST(ExportFrames, PlaceEnlargesAndCentresOnBlack) {
    std::vector<PixelWord> src(640 * 480);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = PixelWord(0xFF000000u + i * 0x010203u);
    const canvas::Image image{640, 480, src.data(), 0};
    const struct {
        int w, h, scale, left, top;
    } sizes[] = {{640, 480, 1, 0, 0},
                 {1280, 960, 2, 0, 0},
                 {1920, 1440, 3, 0, 0},
                 {1920, 1080, 2, 320, 60},
                 {3840, 2160, 4, 640, 120}};
    for (const auto& s : sizes) {
        const exporter::Framing f = exporter::framingFor(s.w, s.h);
        ASSERT_EQ(f.scale, s.scale) << s.w;
        ASSERT_EQ(f.left, s.left) << s.w;
        ASSERT_EQ(f.top, s.top) << s.w;
        std::vector<PixelWord> dst(std::size_t(s.w) * s.h, 0xDEADBEEF);
        exporter::place(image, f, dst.data());
        int wrong = 0;
        for (int y = 0; y < s.h; ++y) {
            for (int x = 0; x < s.w; ++x) {
                const int sx = x - s.left, sy = y - s.top;
                const bool inside = sx >= 0 && sy >= 0 && sx < 640 * s.scale && sy < 480 * s.scale;
                const PixelWord want =
                    inside ? src[std::size_t(sy / s.scale) * 640 + sx / s.scale] : 0xFF000000u;
                wrong += dst[std::size_t(y) * s.w + x] != want;
            }
        }
        EXPECT_EQ(wrong, 0) << s.w << "x" << s.h;
    }
}

// Solid and soft-alpha pictures, so frames differ visibly from time to time.
struct SyntheticPictures {
    std::vector<std::vector<PixelWord>> store;
    show::Pictures pictures;
    canvas::Image make(int w, int h, PixelWord base, bool alpha) {
        store.emplace_back(std::size_t(w) * h);
        auto& words = store.back();
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const PixelWord a = alpha ? PixelWord((x * 255) / (w - 1)) << 24 : 0xFF000000u;
                words[std::size_t(y) * w + x] = a | ((base + PixelWord(x ^ y)) & 0xFFFFFF);
            }
        }
        return canvas::Image{w, h, words.data(), alpha ? 1 : 0};
    }
    SyntheticPictures() {
        store.reserve(16);
        pictures.sunset = make(640, 480, 0x203040, false);
        pictures.greets = make(640, 480, 0x405060, false);
        pictures.credits = make(600, 400, 0x708090, false); // leaves the clear visible
        for (int p = 0; p < 3; ++p) pictures.moose[p] = make(120, 150, 0x800000 + p * 0x30, true);
        for (int l = 1; l <= 5; ++l) pictures.lyric[l] = make(400, 50, 0x008000 + l * 0x11, true);
    }
};

TEST(ExportFrames, VideoFramesMatchStillsAndTheShowsOwnCount) {
    SyntheticPictures pics;
    std::vector<PixelWord> a(640 * 480), b(640 * 480);
    const canvas::Image target{640, 480, a.data(), 0}, still{640, 480, b.data(), 0};

    // Frame i of a 60 fps video shows what the still after i + 1 steps
    // shows; checked where the moose appears.
    const std::int64_t checked[] = {0, 1, 838, 839, 840, 841};
    std::int64_t index = 0;
    std::size_t next = 0;
    std::vector<PixelWord> before; // frame 838, without the moose
    const std::int64_t handed =
        exporter::composeShow(pics.pictures, 60, target, [&](canvas::Image frame) {
            if (next < std::size(checked) && index == checked[next]) {
                exporter::composeStill(pics.pictures, std::int32_t(index + 1), still);
                EXPECT_EQ(0, std::memcmp(frame.pixels, still.pixels, a.size() * 4)) << index;
                ++next;
            }
            if (index == 838) before.assign(frame.pixels, frame.pixels + a.size());
            return ++index < 842;
        });
    EXPECT_EQ(handed, 842); // stopped when asked
    ASSERT_EQ(before.size(), a.size());
    EXPECT_NE(0, std::memcmp(before.data(), a.data(), a.size() * 4)); // the moose came in

    // Every frame up to and including ShowTime 192.0 is presented.
    PixelWord word = 0;
    const canvas::Image tiny{1, 1, &word, 0};
    auto count = [&](int fps) {
        return exporter::composeShow(show::Pictures{}, fps, tiny,
                                     [](canvas::Image) { return true; });
    };
    EXPECT_EQ(count(2), 384);
    EXPECT_EQ(count(60), 11520);
    EXPECT_EQ(count(1), 192);
}

TEST(ExportFrames, PngRoundTrip) {
    testassets::ScopedTempDir dir;
    std::vector<PixelWord> words(7 * 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = PixelWord(0x11000000u * (i % 3) + i * 0x0A0B0C);
    const canvas::Image image{7, 4, words.data(), 1};

    std::FILE* file = std::fopen("rgb.png", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(exporter::writePng(file, image), "");
    EXPECT_EQ(exporter::writePng(file, canvas::Image{}), "empty image");
    std::fclose(file);
    canvas::Image back = assets::decodePng(assets::loadFile("rgb.png"));
    ASSERT_EQ(back.width, 7);
    ASSERT_EQ(back.height, 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        ASSERT_EQ(back.pixels[i], words[i] | 0xFF000000u) << i; // alpha is not kept
    canvas::releaseImage(back);
}

// ---- sound ----

TEST(ExportSound, SongThenEndingAtTheVideosLength) {
    EXPECT_EQ(exporter::soundFramesFor(384, 2), 192 * 44100);
    EXPECT_EQ(exporter::soundFramesFor(7, 60), 5145);
    EXPECT_EQ(exporter::videoFramesFor(22050, 2), 1);
    EXPECT_EQ(exporter::videoFramesFor(22051, 2), 2);
    EXPECT_EQ(exporter::videoFramesFor(0, 60), 0);

    const std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440.0, 1.0);
    assets::FileBlob song;
    song.data = static_cast<std::uint8_t*>(std::malloc(mp3.size()));
    std::memcpy(song.data, mp3.data(), mp3.size());
    song.size = std::int32_t(mp3.size());

    const std::int64_t songFrames = 3 * 44100 + 17; // loops the 1 s tone
    const exporter::SoundTrack track = exporter::renderSoundTrack(song, songFrames);
    assets::releaseFileBlob(song);
    ASSERT_EQ(track.songFrames, songFrames);
    ASSERT_EQ(track.samples.size(), std::size_t(songFrames + track.endingFrames) * 2);
    // The ending: 300 ms, then a 200 ms fade polled in 1 ms waits.
    EXPECT_GE(track.endingFrames, 22050);
    EXPECT_LE(track.endingFrames, 22050 + 2 * 45);

    const float* s = track.samples.data();
    EXPECT_NEAR(testsongs::pitchHz(s + 2 * 44100, 44100, 44100.0), 440.0, 4.0); // after a loop
    EXPECT_GT(testsongs::peak(track.samples, songFrames - 4410, songFrames), 0.3f);
    const std::size_t end = std::size_t(songFrames + track.endingFrames);
    EXPECT_LT(testsongs::peak(track.samples, end - 441, end), 0.01f); // faded out
}

TEST(ExportSound, MissingSongGivesSilenceAndTheShortEnding) {
    const exporter::SoundTrack track = exporter::renderSoundTrack(assets::FileBlob{}, 44100);
    EXPECT_EQ(track.endingFrames, 13230); // only the 300 ms pause
    EXPECT_EQ(testsongs::peak(track.samples, 0, track.samples.size() / 2), 0.0f);
}

// ---- formats and outputs ----

exporter::Options videoTo(const std::string& output) {
    exporter::Options o;
    o.output = output;
    return o;
}

TEST(ExportFormats, ContainerFollowsFormatThenExtension) {
    using exporter::Container;
    const struct {
        const char* output;
        const char* format;
        Container want;
    } good[] = {{"a.mp4", "", Container::Mp4},
                {"a.MOV", "", Container::Mov},
                {"d.x/a.mkv", "", Container::Mkv},
                {"a.webm", "", Container::WebM},
                {"a.gif", "", Container::Gif},
                {"noext", "", Container::Mp4},
                {"-", "", Container::Mkv},
                {"-", "mp4", Container::Mp4},
                {"x.mp4", "webm", Container::WebM},
                {"f/%05d.png", "", Container::PngFrames},
                {"f/a%d_%%.png", "", Container::PngFrames}};
    for (const auto& g : good) {
        exporter::Options o = videoTo(g.output);
        o.format = g.format;
        Container c{};
        std::string reason;
        EXPECT_TRUE(exporter::containerFor(o, c, reason)) << g.output << ": " << reason;
        EXPECT_EQ(c, g.want) << g.output;
    }
    const struct {
        const char* output;
        const char* format;
        const char* reason;
    } bad[] = {{"a.avi", "", "unknown extension '.avi'"},
               {"a.png", "", "a video as PNG needs a pattern such as frames/%05d.png"},
               {"f/%s.png", "", "a video as PNG needs a pattern"},
               {"f/%d%d.png", "", "a video as PNG needs a pattern"},
               {"%d/x.png", "", "a video as PNG needs a pattern"},
               {"a.mp4", "avi", "unknown --format 'avi'"},
               {"f/%05d.png", "mkv", "--format does not apply to a PNG sequence"}};
    for (const auto& b : bad) {
        exporter::Options o = videoTo(b.output);
        o.format = b.format;
        Container c{};
        std::string reason;
        EXPECT_FALSE(exporter::containerFor(o, c, reason)) << b.output;
        EXPECT_EQ(reason.find(b.reason), 0u) << b.output << ": " << reason;
    }
    EXPECT_EQ(exporter::frameName("f/%05d.png", 42), "f/00042.png");
    EXPECT_EQ(exporter::frameName("%d%%.png", 1234567), "1234567%.png");
    EXPECT_EQ(exporter::frameName("%02d.png", 123), "123.png");
}

TEST(ExportFormats, QualityOptionsFitTheirCodec) {
    using exporter::Container;
    auto check = [](Container c, auto set) {
        exporter::Options o;
        set(o);
        return exporter::checkQuality(o, c);
    };
    EXPECT_EQ(check(Container::Mp4, [](auto& o) { o.crf = 51, o.preset = "slow"; }), "");
    EXPECT_EQ(check(Container::WebM, [](auto& o) { o.crf = 63; }), "");
    EXPECT_EQ(check(Container::Mov, [](auto& o) { o.lossless = true, o.preset = "fast"; }), "");
    EXPECT_EQ(check(Container::PngFrames, [](auto& o) { o.lossless = true; }), "");
    EXPECT_EQ(check(Container::Mp4, [](auto& o) { o.crf = 52; }), "--crf for H.264 is 0 to 51");
    EXPECT_EQ(check(Container::Mkv, [](auto& o) { o.lossless = true, o.crf = 0; }),
              "--crf does not go with --lossless");
    EXPECT_EQ(check(Container::WebM, [](auto& o) { o.lossless = true; }),
              "--lossless needs .mkv, .mp4, .mov or a PNG sequence");
    EXPECT_EQ(check(Container::Gif, [](auto& o) { o.crf = 10; }).find("--crf applies to"), 0u);
    EXPECT_EQ(check(Container::WebM, [](auto& o) { o.preset = "fast"; }),
              "--preset applies to H.264 (.mp4, .mov, .mkv) only");
    EXPECT_EQ(check(Container::Mkv, [](auto& o) { o.lossless = true, o.preset = "fast"; }), "");
    EXPECT_NE(check(Container::Mp4, [](auto& o) { o.preset = "placebo2"; }).find("not 'placebo2'"),
              std::string::npos);
    EXPECT_EQ(check(Container::Gif, [](auto& o) { o.fps = 31; }),
              "a GIF has at most 30 frames a second");

    // Lossless picks an RGB codec; a stream that cannot seek back gets a
    // fragmented MP4.
    auto has = [](const std::vector<std::string>& args, const std::string& word) {
        return std::find(args.begin(), args.end(), word) != args.end();
    };
    exporter::Options o;
    o.lossless = true;
    EXPECT_TRUE(has(exporter::codecArguments(o, Container::Mkv), "libx264rgb"));
    EXPECT_TRUE(has(exporter::codecArguments(o, Container::Mkv), "flac"));
    EXPECT_TRUE(has(exporter::codecArguments(o, Container::Mp4), "libx264rgb"));
    EXPECT_TRUE(has(exporter::muxerArguments(Container::Mp4, true), "+faststart"));
    EXPECT_FALSE(has(exporter::muxerArguments(Container::Mov, false), "+faststart"));
    EXPECT_TRUE(has(exporter::muxerArguments(Container::Mkv, false), "matroska"));
}

// The 4:2:0 planes: exact for black, white and grey; each chroma sample from
// its own 2x2 block.
TEST(ExportFormats, YuvPlanesAreBt709LimitedRange) {
    std::vector<PixelWord> frame(4 * 2, 0xFF000000u);
    for (int x = 2; x < 4; ++x) frame[x] = frame[4 + x] = 0xFFFF0000u; // right block red
    frame[0] = 0xFFFFFFFFu;
    std::vector<std::uint8_t> planes(4 * 2 * 3 / 2);
    exporter::toYuv420(frame.data(), 4, 2, planes.data());
    EXPECT_EQ(planes[0], 235); // white
    EXPECT_EQ(planes[1], 16);  // black
    EXPECT_EQ(planes[2], 63);  // red: 16 + 0.2126 * 219
    // Left block: a quarter white; right block red.
    EXPECT_EQ(planes[8], 128);
    EXPECT_EQ(planes[10], 128);
    EXPECT_EQ(planes[9], 102);  // Cb of red: 128 - 0.1146 * 224
    EXPECT_EQ(planes[11], 240); // Cr of red
    // Both rows count: black above red is half red.
    const PixelWord blackOverRed[4] = {0xFF000000u, 0xFF000000u, 0xFFFF0000u, 0xFFFF0000u};
    exporter::toYuv420(blackOverRed, 2, 2, planes.data());
    EXPECT_EQ(planes[4], 115); // 128 - 0.1146 * 224 / 2
    EXPECT_EQ(planes[5], 184); // 128 + 112 / 2
    std::vector<PixelWord> grey(2 * 2, 0xFF808080u);
    exporter::toYuv420(grey.data(), 2, 2, planes.data());
    EXPECT_EQ(planes[0], 126);
    EXPECT_EQ(planes[4], 128);
    EXPECT_EQ(planes[5], 128);
}

// Where each kind of existing name leads; nothing is touched by looking.
TEST(ExportOutputTarget, KindsLinksAndNoClobber) {
    testassets::ScopedTempDir dir;
    using exporter::TargetKind;
    ASSERT_EQ(mkdir("sub", 0755), 0);
    ASSERT_TRUE(testassets::writeFile("sub/file.mp4", {'o', 'l', 'd'}));
    ASSERT_EQ(symlink("sub/file.mp4", "rel.mp4"), 0);
    ASSERT_EQ(symlink("file.mp4", "sub/inner.mp4"), 0); // relative to its own folder
    ASSERT_EQ(symlink("../sub/inner.mp4", "sub/chain.mp4"), 0);
    ASSERT_EQ(symlink("nothing.mp4", "dangling.mp4"), 0);
    ASSERT_EQ(symlink("loop.mp4", "loop.mp4"), 0);
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    ASSERT_EQ(symlink("fifo", "to-fifo"), 0);

    exporter::OutputTarget t;
    // A file is replaced where the kernel's own resolution leads.
    char here[4096];
    ASSERT_TRUE(realpath(".", here));
    const std::string file = std::string(here) + "/sub/file.mp4";
    const std::string nothing = std::string(here) + "/nothing.mp4";
    const struct {
        const char* typed;
        TargetKind kind;
        const char* path;
    } cases[] = {{"new.mp4", TargetKind::NewFile, "new.mp4"},
                 {"sub/file.mp4", TargetKind::File, file.c_str()},
                 {"rel.mp4", TargetKind::File, file.c_str()},
                 {"sub/chain.mp4", TargetKind::File, file.c_str()},
                 {"dangling.mp4", TargetKind::NewFile, nothing.c_str()},
                 {"fifo", TargetKind::Fifo, "fifo"},
                 {"to-fifo", TargetKind::Fifo, "to-fifo"}, // opened through the link
                 {"/dev/null", TargetKind::CharDevice, "/dev/null"},
                 {"-", TargetKind::Stdout, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(exporter::resolveOutput(c.typed, false, t), "") << c.typed;
        EXPECT_EQ(t.kind, c.kind) << c.typed;
        EXPECT_EQ(t.path, c.path) << c.typed;
    }
    EXPECT_EQ(exporter::resolveOutput("sub", false, t), "Is a directory");
    EXPECT_EQ(exporter::resolveOutput("newdir/", false, t), "Is a directory");
    EXPECT_EQ(exporter::resolveOutput("loop.mp4", false, t), std::strerror(ELOOP));
    for (const char* existing : {"sub/file.mp4", "rel.mp4", "dangling.mp4", "fifo", "/dev/null"})
        EXPECT_EQ(exporter::resolveOutput(existing, true, t), "it exists (-n)") << existing;
    EXPECT_EQ(exporter::resolveOutput("new.mp4", true, t), "");
    EXPECT_EQ(slurp("sub/file.mp4"), "old");
    EXPECT_NE(access("nothing.mp4", F_OK), 0) << "looking through a dangling link made a file";
}

// Written through a link: the link stays, its file gets the new bytes and
// keeps its permissions; with -n a file that appears meanwhile is kept.
TEST(ExportOutputTarget, PublishReplacesTheLinkedFileOnly) {
    testassets::ScopedTempDir dir;
    ASSERT_TRUE(testassets::writeFile("real.png", {'o', 'l', 'd'}));
    ASSERT_EQ(chmod("real.png", 0600), 0);
    ASSERT_EQ(symlink("real.png", "link.png"), 0);
    exporter::OutputTarget t;
    ASSERT_EQ(exporter::resolveOutput("link.png", false, t), "");
    ASSERT_EQ(exporter::openOutput(t, "7"), "");
    EXPECT_TRUE(t.partial.ends_with("/real.partial-7.png")) << t.partial;
    EXPECT_EQ(exporter::writeTarget(t,
                                    [](std::FILE* f) {
                                        std::fputs("new", f);
                                        return std::string();
                                    }),
              "");
    EXPECT_EQ(exporter::publishOutput(t, false), "");
    struct stat st {};
    ASSERT_EQ(lstat("link.png", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat("real.png", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(slurp("real.png"), "new");

    ASSERT_EQ(exporter::resolveOutput("late.png", true, t), "");
    ASSERT_EQ(exporter::openOutput(t, "8"), "");
    ASSERT_TRUE(testassets::writeFile("late.png", {'k', 'e', 'e', 'p'}));
    EXPECT_EQ(exporter::publishOutput(t, true), "it exists (-n)");
    EXPECT_EQ(slurp("late.png"), "keep");
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
}

} // namespace
