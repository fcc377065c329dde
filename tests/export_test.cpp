// kva-export: its arguments, the frames and stills it composes against the
// show's own step, the sound track, and the program run end to end.
#include "export/export.h"

#include "assets/png.h"
#include "assets/store.h"
#include "test_assets.h"
#include "test_songs.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
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
    EXPECT_EQ(p.options.scale, 1);
    EXPECT_EQ(p.options.output, "show.mp4");

    p = parse({"--fps=24", "--size", "1920x1440", "-o", "a.mkv"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.fps, 24);
    EXPECT_EQ(p.options.scale, 3);
    EXPECT_EQ(p.options.output, "a.mkv");

    p = parse({"--still", "35.5", "--size=1280x960"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.mode, exporter::Mode::Still);
    EXPECT_DOUBLE_EQ(p.options.stillSeconds, 35.5);
    EXPECT_EQ(p.options.scale, 2);
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
        {{"--size", "800x600"}, "--size must be 640x480, 1280x960 or 1920x1440, not '800x600'"},
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

TEST(ExportOutput, PartialFileKeepsTheContainerAndNoExtensionMeansMp4) {
    EXPECT_EQ(exporter::partialName("show.mp4", "77"), "show.partial-77.mp4");
    EXPECT_EQ(exporter::partialName("a.b/show", "77"), "a.b/show.partial-77");
    EXPECT_EQ(exporter::partialName("dir/.mkv", "1"), "dir/.mkv.partial-1");
    EXPECT_EQ(exporter::partialName("x.tar.mkv", "1"), "x.tar.partial-1.mkv");
    EXPECT_EQ(exporter::formatFor("out/show.mkv"), "");
    EXPECT_EQ(exporter::formatFor("out.d/show"), "mp4");
    EXPECT_EQ(exporter::formatFor("show."), "mp4");

    exporter::EncoderSettings settings;
    settings.ffmpeg = "/usr/bin/ffmpeg";
    settings.output = "show.partial-1";
    settings.format = "mp4";
    auto command = exporter::encoderCommand(settings);
    ASSERT_GE(command.size(), 3u);
    EXPECT_EQ(command.front(), "/usr/bin/ffmpeg");
    // An output option applies to the file named after it.
    EXPECT_EQ(std::vector<std::string>(command.end() - 3, command.end()),
              (std::vector<std::string>{"-f", "mp4", "show.partial-1"}));
    settings.format.clear();
    command = exporter::encoderCommand(settings);
    EXPECT_EQ(command.back(), "show.partial-1");
    EXPECT_NE(command[command.size() - 3], "-f");
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

TEST(ExportFrames, UpscaleRepeatsEveryPixel) {
    std::vector<PixelWord> src(5 * 3);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = PixelWord(0xFF000000u + i * 0x010203u);
    const canvas::Image image{5, 3, src.data(), 0};
    for (int scale = 1; scale <= 3; ++scale) {
        std::vector<PixelWord> dst(src.size() * scale * scale, 0xDEADBEEF);
        exporter::upscale(image, scale, dst.data());
        for (int y = 0; y < 3 * scale; ++y) {
            for (int x = 0; x < 5 * scale; ++x) {
                ASSERT_EQ(dst[y * 5 * scale + x], src[(y / scale) * 5 + x / scale])
                    << "scale " << scale << " at " << x << "," << y;
            }
        }
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

TEST(ExportFrames, PngRoundTripAndUnwritablePath) {
    testassets::ScopedTempDir dir;
    std::vector<PixelWord> words(7 * 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = PixelWord(0x11000000u * (i % 3) + i * 0x0A0B0C);
    const canvas::Image image{7, 4, words.data(), 1};

    ASSERT_EQ(exporter::writePng("rgba.png", image, 2, true), "");
    canvas::Image back = assets::decodePng(assets::loadFile("rgba.png"));
    ASSERT_EQ(back.width, 14);
    ASSERT_EQ(back.height, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 14; ++x) ASSERT_EQ(back.pixels[y * 14 + x], words[(y / 2) * 7 + x / 2]);
    }
    canvas::releaseImage(back);

    const std::string reason = exporter::writePng("no/such/dir/x.png", image, 1, false);
    EXPECT_NE(reason.find("No such file"), std::string::npos) << reason;
    EXPECT_EQ(exporter::writePng("empty.png", canvas::Image{}, 1, false), "empty image");
    EXPECT_NE(access("empty.png", F_OK), 0);
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

// ---- the program ----

// A pack of plain files: eleven pictures (opaque and soft alpha) and a
// one-second tone as the song.
void writeTestPack() {
    // Bands of colour and a soft left edge: distinct, yet cheap to encode.
    auto words = [](int w, int h, std::uint32_t base, bool alpha) {
        std::vector<std::uint32_t> v(std::size_t(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t a = alpha ? std::uint32_t(std::min(255, x * 8)) : 0xFF;
                v[std::size_t(y) * w + x] = (a << 24) | ((base + std::uint32_t(y / 16)) & 0xFFFFFF);
            }
        }
        return v;
    };
    auto write = [&](const char* name, int w, int h, std::uint32_t base, bool alpha) {
        ASSERT_TRUE(testassets::writeFile(name, testassets::writePng(testassets::pictureFromWords(
                                                    w, h, words(w, h, base, alpha), alpha))));
    };
    write("moose_middle.png", 120, 160, 0x804020, true);
    write("moose_right.png", 130, 160, 0x208040, true);
    write("moose_left.png", 130, 160, 0x402080, true);
    write("solnedgang.png", 640, 480, 0x301000, false);
    write("greets.png", 640, 480, 0x003010, false);
    write("credits.png", 640, 480, 0x100030, false);
    const char* lyrics[] = {"refreng_1.png", "refreng_2.png", "vers_1.png", "vers_2.png",
                            "mange_hoyre.png"};
    for (int i = 0; i < 5; ++i) write(lyrics[i], 500, 60, 0x606000 + i * 0x20, true);
    ASSERT_TRUE(testassets::writeFile("elg.mp3", testsongs::mp3Tone(330.0, 1.0)));
}

struct Result {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs kva-export in the working directory through the shell.
Result runProgram(const std::string& args, const std::string& env = "") {
    const std::string command =
        env + " '" KVA_EXPORT_PROGRAM "' " + args + " >run.out 2>run.err </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp("run.out"), slurp("run.err")};
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entry) {
    const std::string command = "ffprobe -v error -select_streams " + stream +
                                " -show_entries stream=" + entry + " -of csv=p=0 '" + file +
                                "' >probe.out 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    std::string s = slurp("probe.out");
    while (!s.empty() && (s.back() == '\n' || s.back() == ',')) s.pop_back();
    return s;
}

int filesMatching(const std::string& dir, const std::string& part) {
    DIR* d = opendir(dir.c_str());
    int n = 0;
    while (dirent* e = d ? readdir(d) : nullptr)
        n += std::strstr(e->d_name, part.c_str()) != nullptr;
    if (d) closedir(d);
    return n;
}

TEST(ExportProgram, HelpVersionAndErrors) {
    testassets::ScopedTempDir dir;
    Result r = runProgram("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("round(SECONDS x 60) steps of 1/60 s"), std::string::npos);
    r = runProgram("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(exporter::kVersion) + "\n");

    r = runProgram("--size 320x200");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kva-export: --size must be 640x480, 1280x960 or 1920x1440, not '320x200'\n");

    r = runProgram("--fps 2", "PATH=/nonexistent");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: ffmpeg not found on PATH (install the Debian package ffmpeg)\n");

    r = runProgram("--fps 2 -o no/such/dir/show.mp4");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write no/such/dir/show.mp4: No such file or directory\n");

    r = runProgram("--fps 2 -o .");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write .: Is a directory\n");

    // A container ffmpeg does not know: the export fails and the file that
    // was there is left as it was, with no partial file beside it. (With no
    // pictures found it would stop before ffmpeg.)
    writeTestPack();
    ASSERT_TRUE(testassets::writeFile("keep.nosuchformat", {'o', 'l', 'd'}));
    r = runProgram("--fps 1 -o keep.nosuchformat");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("kva-export: ffmpeg failed (exit status 1); keep.nosuchformat not written"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(slurp("keep.nosuchformat"), "old");
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);

    r = runProgram("--still 3 -o .");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write .: Is a directory\n");

    r = runProgram("--still 3 -o no/such/dir/frame.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kva-export: cannot write no/such/dir/frame.png: "), std::string::npos);
}

// The still the program writes equals the canvas the show's step composes
// after that many 1/60 s steps, here and in-process from the same files.
TEST(ExportProgram, StillEqualsTheStepsCanvas) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    exporter::ShowAssets a;
    exporter::loadShowAssets(a);
    ASSERT_GT(a.pictures.moose[show::kMiddle].width, 0) << "pictures did not decode";

    const struct {
        double seconds;
        const char* size;
        int scale;
    } stills[] = {{35.5, "640x480", 1}, {170.3, "1280x960", 2}};
    for (const auto& s : stills) {
        Result r = runProgram("--still " + std::to_string(s.seconds) + " --size " + s.size +
                              " -o still.png");
        ASSERT_EQ(r.status, 0) << r.err;

        std::vector<PixelWord> words(640 * 480);
        const canvas::Image expected{640, 480, words.data(), 0};
        show::ShowState state;
        show::initShowState(state);
        const int steps = int(std::lround(s.seconds * 60));
        for (int i = 0; i < steps; ++i) show::stepShow(state, 1.0f / 60.0f, a.pictures, expected);

        canvas::Image got = assets::decodePng(assets::loadFile("still.png"));
        ASSERT_EQ(got.width, 640 * s.scale);
        ASSERT_EQ(got.height, 480 * s.scale);
        int mismatches = 0;
        for (int y = 0; y < got.height; ++y) {
            for (int x = 0; x < got.width; ++x) {
                const PixelWord e = words[(y / s.scale) * 640 + x / s.scale] & 0xFFFFFF;
                mismatches += (got.pixels[std::size_t(y) * got.width + x] & 0xFFFFFF) != e;
            }
        }
        EXPECT_EQ(mismatches, 0) << "at " << s.seconds << " s";
        canvas::releaseImage(got);
    }
    exporter::releaseShowAssets(a);
    EXPECT_EQ(filesMatching(".", ".partial-"), 0) << "the second still replaced the first";
}

TEST(ExportProgram, LowRateVideoHasEveryFrameAndTheWholeSound) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    const Result r = runProgram("--fps 2 -o show.mp4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe("show.mp4", "v:0", "codec_name"), "h264");
    EXPECT_EQ(probe("show.mp4", "a:0", "codec_name"), "aac");
    EXPECT_EQ(probe("show.mp4", "v:0", "width,height"), "640,480");

    // 384 presented frames (ShowTime 0.5 to 192.0), then the last one held
    // for the 0.5 s of the ending: one more frame at 2 fps.
    EXPECT_EQ(probe("show.mp4", "v:0", "nb_frames"), "385");
    const double audio = std::atof(probe("show.mp4", "a:0", "duration").c_str());
    EXPECT_NEAR(audio, 192.5, 0.05);
    EXPECT_EQ(probe("show.mp4", "a:0", "sample_rate,channels"), "44100,2");
}

// True while some process runs with both words on its command line.
bool processMentions(const std::string& text, const std::string& also = "libx264") {
    DIR* proc = opendir("/proc");
    bool found = false;
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string cmdline = slurp(std::string("/proc/") + e->d_name + "/cmdline");
        found = found || (cmdline.find(text) != std::string::npos &&
                          cmdline.find(also) != std::string::npos);
    }
    if (proc) closedir(proc);
    return found;
}

// Starts kva-export with args (standard error discarded), waits until its
// partial file has appeared, then presses Ctrl+C; gives the exit status.
int interruptOnceStarted(const std::vector<std::string>& args, const std::string& output,
                         bool waitForData, bool& encoderSeen) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        freopen("/dev/null", "w", stderr);
        std::vector<char*> argv{const_cast<char*>("kva-export")};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KVA_EXPORT_PROGRAM, argv.data());
        _exit(127);
    }
    const std::string partial = exporter::partialName(output, std::to_string(pid));
    struct stat st {};
    for (int i = 0; i < 300; ++i) {
        if (stat(partial.c_str(), &st) == 0 && (!waitForData || st.st_size > 0)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    encoderSeen = processMentions(partial);
    EXPECT_TRUE(access(output.c_str(), F_OK) != 0 || slurp(output) == "old")
        << "an unfinished file under the output's name";
    kill(pid, SIGINT);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    EXPECT_NE(access(partial.c_str(), F_OK), 0) << "partial output left behind";
    EXPECT_FALSE(processMentions(partial)) << "ffmpeg still running";
    return WEXITSTATUS(status);
}

TEST(ExportProgram, InterruptEndsTheEncoderAndRemovesThePartialFile) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    const std::string output = dir.path() + "/interrupted.mp4";
    bool encoderSeen = false;
    EXPECT_EQ(interruptOnceStarted({"-o", output}, output, true, encoderSeen), 130);
    EXPECT_TRUE(encoderSeen) << "the encoder never started";
    EXPECT_NE(access(output.c_str(), F_OK), 0);
}

// A still stopped part-way leaves the file that was there as it was.
TEST(ExportProgram, InterruptedStillKeepsTheOldFile) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    const std::string output = dir.path() + "/frame.png";
    ASSERT_TRUE(testassets::writeFile(output, {'o', 'l', 'd'}));
    bool encoderSeen = false;
    const std::vector<std::string> args{"--still", "192", "--size", "1920x1440", "-o", output};
    EXPECT_EQ(interruptOnceStarted(args, output, false, encoderSeen), 130);
    EXPECT_EQ(slurp(output), "old");
}

} // namespace
