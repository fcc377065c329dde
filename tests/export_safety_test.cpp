// kva-export under conditions a careful user meets: a full disk, names
// that look like URLs or hold %, links in shared folders, kill -9, set-id
// files, stops, closed standard streams, a hung or lying encoder, and
// arguments that do not fit together.
#include "export/names.h"
#include "export_helpers.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace exporttest;

namespace {

using Clock = std::chrono::steady_clock;

bool writeText(const std::string& path, const std::string& text) {
    return testassets::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// An executable shell script at path.
void writeScript(const std::string& path, const std::string& body) {
    ASSERT_TRUE(writeText(path, "#!/bin/sh\n" + body));
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

// Waits up to seconds for done(), checking every 20 ms.
template <typename Done> bool waitUntil(double seconds, Done done) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts kva-export with args; its standard output goes to out (or
// /dev/null), standard error to run.err.
pid_t startProgram(const std::vector<std::string>& args, int out = -1) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int err = open("run.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>("kva-export")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KVA_EXPORT_PROGRAM, argv.data());
    _exit(127);
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int lines(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

// Options that do not fit together are faults of the arguments: status 2,
// one line, and nothing looked at or loaded.
TEST(ExportArgsTogether, MisfitsExitTwo) {
    testassets::ScopedTempDir dir;
    const struct {
        const char* args;
        const char* line;
    } cases[] = {
        {"--crf 60 -o x.mp4", "--crf for H.264 is 0 to 51"},
        {"--format foo", "unknown --format 'foo'"},
        {"--fps 60 -o x.gif", "a GIF has at most 30 frames a second"},
        {"-o x.avi", "unknown extension '.avi'"},
        {"-o x.png", "a video as PNG needs a pattern"},
        {"--lossless -o x.webm", "--lossless needs .mkv, .mp4, .mov"},
        {"--sound -o x.mp4", "--sound applies to a PNG sequence"},
        {"--preset medium -o x.webm", "--preset applies to H.264"},
        {"--still 3 -o x.jpg", "a still is written as PNG; name it .png"},
        {"--still 3 -o frame", "a still is written as PNG; name it .png"},
    };
    for (const auto& c : cases) {
        const Result r = runProgram(c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find(std::string("kva-export: ") + c.line), 0u) << c.args << ": " << r.err;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_EQ(filesMatching(".", "x."), 0);
}

// A % in a folder is part of its name; only the last part is a pattern.
TEST(ExportNames, PatternIsTheLastPartOnly) {
    EXPECT_EQ(exporter::frameName("50%/f%03d.png", 7), "50%/f007.png");
    EXPECT_EQ(exporter::frameName("x%0/f%%%d.png", 12), "x%0/f%12.png");
    EXPECT_TRUE(exporter::isFramePattern("x%0/f%03d.png"));
    EXPECT_FALSE(exporter::isFramePattern("x%03d/f.png"));

    testassets::ScopedTempDir dir;
    writeTestPack();
    for (const std::string folder : {"x%0", "50%"}) {
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        const Result r = runProgram("--frames 2 -o '" + folder + "/f%03d.png'");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(access((folder + "/f001.png").c_str(), F_OK), 0) << folder;
        EXPECT_EQ(access((folder + "/f002.png").c_str(), F_OK), 0) << folder;
        EXPECT_EQ(filesMatching(folder, ".png"), 2) << folder;
    }
    EXPECT_EQ(filesMatching(".", "f00"), 0) << "frames landed in the working folder";
}

// Names with a colon are files to ffmpeg, never protocols.
TEST(ExportProgram, ColonNamesAreFiles) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    for (const char* name : {"10:30.mkv", "pipe:x.mkv"}) {
        const Result r = runProgram(std::string("--frames 3 -o ") + name);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out, "") << name << ": sent to standard output";
        EXPECT_EQ(probe(std::string("file:") + name, "v:0", "codec_name"), "h264") << name;
    }
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
}

// Another user's link in a shared sticky folder is not followed where the
// system forbids it: the file it points at stays as it was.
TEST(ExportSafeOutput, ForeignLinkInStickyFolderRefused) {
    if (slurp("/proc/sys/fs/protected_symlinks") != "1\n")
        GTEST_SKIP() << "fs.protected_symlinks is not 1 here: the kernel would follow the link";
    if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    testassets::ScopedTempDir dir;
    ASSERT_EQ(mkdir("shared", 01777), 0);
    ASSERT_EQ(chmod("shared", 01777), 0);
    ASSERT_TRUE(writeText("notes.png", "mine"));
    ASSERT_EQ(symlink((dir.path() + "/notes.png").c_str(), "shared/frame.png"), 0);
    ASSERT_EQ(lchown("shared/frame.png", 65534, 65534), 0);
    writeTestPack();
    const Result r = runProgram("--still 3 -o shared/frame.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: cannot write shared/frame.png: the system refuses to follow "
                     "this link (Permission denied)\n");
    EXPECT_EQ(slurp("notes.png"), "mine");
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
}

// kill -9 of the exporter takes ffmpeg with it; the next export to that
// name removes the partial file left behind.
TEST(ExportProgram, KillNineTakesTheEncoderAlong) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_TRUE(writeText("show.mp4", "old"));
    const std::string output = dir.path() + "/show.mp4";
    const pid_t pid = startProgram({"-o", output});
    const std::string partial = exporter::partialName(output, std::to_string(pid));
    ASSERT_TRUE(waitUntil(60, [&] { return processMentions(partial, "rawvideo"); }))
        << "the encoder never started";
    kill(pid, SIGKILL);
    EXPECT_EQ(exitStatusOf(pid), 128 + SIGKILL);
    EXPECT_TRUE(waitUntil(10, [&] { return !processMentions(partial, "rawvideo"); }))
        << "ffmpeg outlived the exporter";
    EXPECT_EQ(slurp("show.mp4"), "old");

    const Result r = runProgram("--frames 2 -o show.mp4");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesMatching(".", ".partial-"), 0) << "the stale partial file stayed";
    EXPECT_EQ(probe("show.mp4", "v:0", "codec_name"), "h264");
}

// A replaced file keeps its permission bits, never set-id or sticky ones.
TEST(ExportSafeOutput, ReplacedSetIdFileLosesTheSetIdBits) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_TRUE(writeText("frame.png", "old"));
    ASSERT_EQ(chmod("frame.png", 06755), 0);
    const Result r = runProgram("--still 3 -o frame.png");
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat("frame.png", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

// A stop says what stays: frames already written, bytes already sent.
TEST(ExportProgram, StopSaysWhatStays) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_EQ(mkdir("frames", 0755), 0);
    pid_t pid = startProgram({"-o", "frames/%05d.png"});
    ASSERT_TRUE(waitUntil(60, [] { return access("frames/00005.png", F_OK) == 0; }));
    kill(pid, SIGINT);
    EXPECT_EQ(exitStatusOf(pid), 130);
    const int frames = filesMatching("frames", ".png");
    EXPECT_EQ(slurp("run.err"),
              "kva-export: stopped; " + std::to_string(frames) + " frames stay in frames/\n");
    EXPECT_EQ(filesMatching("frames", ".partial-"), 0);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid = startProgram({"-o", "-"}, fds[1]);
    close(fds[1]);
    char buffer[65536];
    ASSERT_GT(read(fds[0], buffer, sizeof buffer), 0);
    kill(pid, SIGINT);
    while (read(fds[0], buffer, sizeof buffer) > 0) {
    }
    close(fds[0]);
    EXPECT_EQ(exitStatusOf(pid), 130);
    EXPECT_EQ(slurp("run.err"), "kva-export: stopped; output sent so far stays on standard "
                                "output\n");
}

// Closed standard descriptors are never taken by the exporter's own files.
TEST(ExportProgram, ClosedStandardDescriptors) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    const std::string program = "'" KVA_EXPORT_PROGRAM "'";
    int raw = std::system((program + " --frames 6 -o in.mkv <&- 2>run.err").c_str());
    EXPECT_EQ(WEXITSTATUS(raw), 0) << slurp("run.err");
    EXPECT_EQ(probe("in.mkv", "a:0", "codec_name"), "aac");

    raw = std::system((program + " --frames 6 -o - >&- 2>run.err </dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(slurp("run.err"), "kva-export: cannot write -: standard output is closed\n");
}

// With -o - standard output carries the video alone; the loader's messages
// go to standard error, and the PNG library's own lines nowhere. The
// program runs from a copy of its own, so no pack beside it is found.
TEST(ExportProgram, StandardOutputCarriesOnlyTheVideo) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    ASSERT_EQ(mkdir("solo", 0755), 0);
    ASSERT_EQ(std::system("cp '" KVA_EXPORT_PROGRAM "' solo/kva-export"), 0);
    const std::string run =
        "HOME=" + dir.path() + " XDG_DATA_HOME= " + dir.path() + "/solo/kva-export";
    auto export4 = [&](const std::string& folder) {
        const std::string command = "cd '" + folder + "' && " + run + " --frames 4 -o - >'" +
                                    dir.path() + "/run.out' 2>'" + dir.path() + "/run.err'";
        const int raw = std::system(command.c_str());
        return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp("run.out"), slurp("run.err")};
    };
    ASSERT_EQ(mkdir("pack", 0755), 0);
    ASSERT_EQ(chdir("pack"), 0);
    writeTestPack();
    ASSERT_TRUE(writeText("vers_1.png", "not a picture")); // its name is printed
    ASSERT_EQ(chdir(".."), 0);
    const Result r = export4("pack");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 4), "\x1A\x45\xDF\xA3") << "not Matroska from the first byte";
    EXPECT_EQ(r.out.find("vers_1"), std::string::npos);
    EXPECT_NE(r.err.find("vers_1.png"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("libpng"), std::string::npos) << r.err;

    ASSERT_EQ(mkdir("empty", 0755), 0);
    const Result none = export4("empty");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(lines(none.err), 1) << none.err;
    EXPECT_EQ(none.err.find("kva-export: none of the pictures or the song found"), 0u) << none.err;
}

// An encoder that stops reading is stopped; one that claims success but
// leaves a broken file is not believed. Either way the old file stays.
TEST(ExportProgram, HungOrLyingEncoder) {
    testassets::ScopedTempDir dir;
    writeTestPack();
    ASSERT_EQ(mkdir("bin", 0755), 0);
    ASSERT_TRUE(writeText("show.mkv", "old"));
    const std::string trial = "case \"$*\" in *lavfi*) exit 0;; esac\n";
    writeScript("bin/ffmpeg", trial + "exec sleep 600\n");
    const auto start = Clock::now();
    Result r = runProgram("--frames 200 -o show.mkv", "KVA_EXPORT_STALL_SECONDS=2 PATH=bin:$PATH");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(120));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: ffmpeg took nothing for 2 s and was stopped; show.mkv not "
                     "written\n");
    EXPECT_FALSE(processMentions("sleep", "600")) << "the hung encoder was left running";

    writeScript("bin/ffmpeg", trial + "for a; do last=$a; done\ncat >/dev/null\n"
                                      "printf garbage >\"${last#file:}\"\n");
    r = runProgram("--frames 20 -o show.mkv", "PATH=bin:$PATH");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kva-export: ffmpeg left an incomplete file (its header is missing); "
                     "show.mkv not written\n");
    EXPECT_EQ(slurp("show.mkv"), "old");
    EXPECT_EQ(filesMatching(".", ".partial-"), 0);
}
