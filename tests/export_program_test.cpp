// kva-export run end to end: help and errors, stills and videos against the
// show's own step, stops, where it writes and what it refuses.
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

std::string probeFormat(const std::string& file) {
    const std::string command = "ffprobe -v error -show_entries format=format_name "
                                "-of default=nw=1:nk=1 '" +
                                file + "' >probe.out 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    std::string s = slurp("probe.out");
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// Frames of the first video stream, counted by decoding.
std::string probeFrames(const std::string& file) {
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" +
                                file + "' >probe.out 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    std::string s = slurp("probe.out");
    while (!s.empty() && (s.back() == '\n' || s.back() == ',')) s.pop_back();
    return s;
}

// ---- the program ----

// Runs kva-export with its standard output piped into reader; gives
// kva-export's exit status.
int runInto(const std::string& args, const std::string& reader) {
    const std::string command = "{ '" KVA_EXPORT_PROGRAM "' " + args +
                                " 2>run.err </dev/null; echo $? >status.txt; } | " + reader;
    if (std::system(command.c_str()) != 0) return -1;
    return std::atoi(slurp("status.txt").c_str());
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
    EXPECT_EQ(r.err, "kva-export: --size must be 640x480, 1280x960, 1920x1440, 1920x1080 or "
                     "3840x2160, not '320x200'\n");

    r = runProgram("--fps 2", "PATH=/nonexistent");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: ffmpeg not found on PATH (install the Debian package ffmpeg)\n");

    r = runProgram("--fps 2 -o no/such/dir/show.mp4");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write no/such/dir/show.mp4: No such file or directory\n");

    r = runProgram("--fps 2 -o .");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write .: Is a directory\n");

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
    for (int i = 0; i < 1500; ++i) {
        // The trial run writes the partial file too; the real one reads raw frames.
        if (stat(partial.c_str(), &st) == 0 &&
            (!waitForData || (st.st_size > 0 && processMentions(partial, "rawvideo"))))
            break;
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

// ---- the program: where it writes, what it writes, what it refuses ----

namespace {

// ffprobe's view of file: "format_name|codec,codec|frames of the first stream".
std::string describe(const std::string& file) {
    const std::string format = probeFormat(file);
    std::string codecs = probe(file, "v", "codec_name");
    const std::string audio = probe(file, "a", "codec_name");
    if (!audio.empty()) codecs += "," + audio;
    return format + "|" + codecs + "|" + probeFrames(file);
}

// The frames the show composes at 60 fps from the test pack, first count.
std::vector<std::vector<PixelWord>> composedFrames(int count) {
    exporter::ShowAssets a;
    exporter::loadShowAssets(a);
    std::vector<std::vector<PixelWord>> frames;
    std::vector<PixelWord> words(640 * 480);
    const canvas::Image target{640, 480, words.data(), 0};
    exporter::composeShow(a.pictures, 60, target, [&](canvas::Image frame) {
        frames.emplace_back(frame.pixels, frame.pixels + words.size());
        return int(frames.size()) < count;
    });
    exporter::releaseShowAssets(a);
    return frames;
}

// Pixels (RGB only) of decoded that differ from the composed frames.
std::int64_t differingPixels(const std::string& decoded,
                             const std::vector<std::vector<PixelWord>>& frames) {
    std::int64_t differ = 0;
    const std::size_t frameBytes = 640 * 480 * 4;
    if (decoded.size() != frames.size() * frameBytes) return -1;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        for (std::size_t i = 0; i < 640 * 480; ++i) {
            PixelWord w = 0;
            std::memcpy(&w, decoded.data() + f * frameBytes + i * 4, 4); // B, G, R, unused
            differ += (w & 0xFFFFFF) != (frames[f][i] & 0xFFFFFF);
        }
    }
    return differ;
}

// PSNR over R, G and B of decoded from the composed frames; -1 when the
// sizes differ.
double rgbPsnr(const std::string& decoded, const std::vector<std::vector<PixelWord>>& frames) {
    const std::size_t frameBytes = 640 * 480 * 4;
    if (decoded.size() != frames.size() * frameBytes) return -1;
    double squares = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        for (std::size_t i = 0; i < 640 * 480; ++i) {
            for (int c = 0; c < 3; ++c) {
                const double d = double(std::uint8_t(decoded[f * frameBytes + i * 4 + c])) -
                                 double((frames[f][i] >> (8 * c)) & 0xFF);
                squares += d * d;
            }
        }
    }
    const double mse = squares / double(frames.size() * 640 * 480 * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

// Each kind of existing output ends as it should: a link stays a link, a
// FIFO and a character device are written into and stay what they are.
TEST(ExportSafeOutput, LinksFifosDevicesAndStandardOutput) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();

    ASSERT_TRUE(testassets::writeFile("real.mp4", {'o', 'l', 'd'}));
    ASSERT_EQ(symlink("real.mp4", "link.mp4"), 0);
    Result r = runProgram("--frames 2 -o link.mp4");
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(lstat("link.mp4", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
    EXPECT_EQ(describe("real.mp4"), "mov,mp4,m4a,3gp,3g2,mj2|h264,aac|2");

    // A FIFO, read by a reader as the export writes into it.
    ASSERT_EQ(mkfifo("pipe", 0644), 0);
    ASSERT_EQ(std::system("cat pipe > from-fifo.mkv &"), 0);
    r = runProgram("--frames 2 --format mkv -o pipe");
    // Whatever happened, the reader gets its end of file.
    const int writer = open("pipe", O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 600 && describe("from-fifo.mkv").find("|2") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the reader may lag
    EXPECT_EQ(describe("from-fifo.mkv"), "matroska,webm|h264,aac|2");
    ASSERT_EQ(lstat("pipe", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A null device of our own (never the system's): written into, still a device.
    if (mknod("null", S_IFCHR | 0666, makedev(1, 3)) == 0) {
        r = runProgram("--frames 2 -o null");
        EXPECT_EQ(r.status, 0) << r.err;
        r = runProgram("--still 1 -o null");
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(lstat("null", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";
    } else {
        std::printf("(character device part skipped: mknod needs root)\n");
    }

    // Standard output, piped straight into ffprobe: Matroska unless asked.
    EXPECT_EQ(runInto("--frames 3 -o -", "tee piped.mkv | ffprobe -v error -show_entries "
                                         "format=format_name -of default=nw=1:nk=1 - >piped.txt"),
              0);
    EXPECT_EQ(slurp("piped.txt"), "matroska,webm\n");
    EXPECT_EQ(describe("piped.mkv"), "matroska,webm|h264,aac|3");
    EXPECT_EQ(runInto("--frames 3 --format mp4 -o -", "cat >streamed.mp4"), 0);
    EXPECT_EQ(describe("streamed.mp4"), "mov,mp4,m4a,3gp,3g2,mj2|h264,aac|3");
    EXPECT_NE(access("-", F_OK), 0) << "a file named '-' was written";
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
}

TEST(ExportSafeOutput, NoClobberKeepsWhatIsThere) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_TRUE(testassets::writeFile("show.mp4", {'o', 'l', 'd'}));
    ASSERT_EQ(symlink("gone.png", "dangling.png"), 0);
    for (const char* args : {"-n -o show.mp4", "-n --still 2 -o dangling.png"}) {
        const Result r = runProgram(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find(": it exists (-n)\n"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(slurp("show.mp4"), "old");
    EXPECT_NE(access("gone.png", F_OK), 0);
    const Result r = runProgram("-n --still 2 -o fresh.png");
    EXPECT_EQ(r.status, 0) << r.err;
}

// Every container from a short segment: what ffprobe sees, and the sizes
// that place the frame on black.
TEST(ExportFormatsProgram, EachContainerFromAShortSegment) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    const struct {
        const char* args;
        const char* file;
        const char* want;
    } cases[] = {
        {"--frames 3", "a.mp4", "mov,mp4,m4a,3gp,3g2,mj2|h264,aac|3"},
        {"--frames 3", "a.mov", "mov,mp4,m4a,3gp,3g2,mj2|h264,aac|3"},
        {"--frames 3", "a.mkv", "matroska,webm|h264,aac|3"},
        {"--frames 3", "a.webm", "matroska,webm|vp9,opus|3"},
        {"--frames 3", "a.gif", "gif|gif|3"},
        {"--frames 2 --lossless", "l.mkv", "matroska,webm|h264,flac|2"},
        {"--frames 2 --lossless", "l.mp4", "mov,mp4,m4a,3gp,3g2,mj2|h264,aac|2"},
    };
    for (const auto& c : cases) {
        const Result r = runProgram(std::string(c.args) + " -o " + c.file);
        ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
        EXPECT_EQ(describe(c.file), c.want) << c.file;
    }
    const Result r =
        runProgram("--frames 2 --size 1920x1080 --crf 30 --preset ultrafast -o hd.mp4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe("hd.mp4", "v:0", "width,height"), "1920,1080");
}

// PNG frames are the stills, and a lossless video decodes to the composed
// frames exactly.
TEST(ExportFormatsProgram, PngFramesAndLosslessEqualTheComposedFrames) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_EQ(mkdir("frames", 0755), 0);
    Result r = runProgram("--frames 3 --sound -o frames/f%03d.png");
    ASSERT_EQ(r.status, 0) << r.err;
    r = runProgram("--still 0.05 -o still3.png"); // three 1/60 s steps
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp("frames/f003.png"), slurp("still3.png"));
    EXPECT_EQ(access("frames/f001.png", F_OK), 0) << "frames count from 1";
    EXPECT_NE(access("frames/f004.png", F_OK), 0);
    EXPECT_EQ(probe("frames/sound.wav", "a:0", "codec_name,sample_rate,channels"),
              "pcm_s16le,44100,2");
    EXPECT_EQ(probe("frames/sound.wav", "a:0", "duration").substr(0, 4), "0.05");

    const auto frames = composedFrames(4);
    for (const char* file : {"l.mkv", "l.mp4"}) {
        r = runProgram(std::string("--frames 4 --lossless -o ") + file);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string command = std::string("ffmpeg -nostdin -y -v error -i ") + file +
                                    " -f rawvideo -pix_fmt bgr0 decoded.raw 2>decode.err";
        ASSERT_EQ(std::system(command.c_str()), 0) << slurp("decode.err");
        EXPECT_EQ(differingPixels(slurp("decoded.raw"), frames), 0) << file;
    }
    // The default export is close, not exact, when decoded as its tags say
    // (BT.709, limited range, chroma at the centre of each 2x2 block, which
    // ffmpeg's converter assumes) with the chroma interpolated as players do.
    for (const char* file : {"lossy.mp4", "lossy.webm"}) {
        r = runProgram(std::string("--frames 4 -o ") + file);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(probe(file, "v:0", "color_space,color_range,chroma_location"), "tv,bt709,center")
            << file;
        const std::string command =
            std::string("ffmpeg -nostdin -y -v error -i ") + file +
            " -fps_mode passthrough -vf scale=in_color_matrix=bt709:in_range=tv:"
            "flags=bicubic+full_chroma_int+accurate_rnd -f rawvideo -pix_fmt bgr0 decoded.raw";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string decoded = slurp("decoded.raw");
        EXPECT_GT(differingPixels(decoded, frames), 0) << file;
        const double psnr = rgbPsnr(decoded, frames);
        EXPECT_GT(psnr, 40) << file;
        std::printf("%s: %.2f dB over R, G, B\n", file, psnr);
    }
}

// Bad outputs end at once, before the pictures are even loaded (the test
// pack is absent, so loading would print), with exit 1 and one line naming
// what was typed; nothing is left behind.
TEST(ExportFailsEarly, BadOutputsBeforeAnyFrame) {
    testassets::ScopedTempDir dir;
    ASSERT_EQ(mkdir("frames", 0755), 0);
    // An ffmpeg that can do nothing, as when a codec is missing.
    ASSERT_EQ(mkdir("bin", 0755), 0);
    ASSERT_TRUE(testassets::writeFile("bin/ffmpeg", [] {
        const std::string s = "#!/bin/sh\necho \"Unknown encoder 'libvpx-vp9'\" >&2\nexit 1\n";
        return std::vector<std::uint8_t>(s.begin(), s.end());
    }()));
    ASSERT_EQ(chmod("bin/ffmpeg", 0755), 0);
    const struct {
        const char* args;
        const char* line;
        const char* env;
    } cases[] = {
        {"-o no/such/x.mp4", "cannot write no/such/x.mp4: No such file or directory", ""},
        {"-o no/such/%03d.png", "cannot write no/such/%03d.png: No such file or directory", ""},
        {"-o frames", "cannot write frames: Is a directory", ""},
        {"-o x.webm", "cannot write x.webm: ffmpeg cannot make it: Unknown encoder 'libvpx-vp9'",
         "PATH=bin:$PATH"},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const Result r = runProgram(c.args, c.env);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err.find(std::string("kva-export: ") + c.line), 0u) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "") << c.args << ": the pictures were loaded";
        // A whole export takes minutes; these end before ffmpeg would start.
        EXPECT_LT(seconds, 3.0) << c.args;
    }
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
    EXPECT_EQ(filesMatching("frames", ""), 2); // "." and ".."
}