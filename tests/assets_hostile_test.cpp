// assets_hostile_test.cpp -- what the asset store and the decoder refuse or
// bound: files and entries beyond their budget, pixels one by one and
// together, unusable archives, case duplicates, and the progress hook that
// keeps a long load answering.
#include "assets/lookup.h"
#include "assets/png.h"
#include "assets/store.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using testassets::Bytes;
using testassets::ZipEntry;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string load(const char* name, std::int64_t maxBytes = assets::kMaxSongBytes) {
    assets::FileBlob blob = assets::loadFile(name, maxBytes);
    std::string content(reinterpret_cast<const char*>(blob.data), std::size_t(blob.size));
    assets::releaseFileBlob(blob);
    return content;
}

std::size_t largestRequest = 0;
void* recordingAllocator(std::size_t bytes) {
    largestRequest = std::max(largestRequest, bytes);
    return std::malloc(bytes);
}

int progressCalls = 0;
void countProgress() {
    ++progressCalls;
}

class Hostile : public ::testing::Test {
  protected:
    void SetUp() override {
        largestRequest = 0;
        progressCalls = 0;
    }
    void TearDown() override {
        assets::closeArchive();
        assets::setAllocator(nullptr);
        assets::setProgressHook(nullptr);
    }
    testassets::ScopedTempDir dir;
};

TEST_F(Hostile, FilesAndEntriesBeyondTheirBudgetAreNeverAllocated) {
    const Bytes zeros(3 << 20, 0); // deflates to a few kilobytes
    ASSERT_TRUE(testassets::writeFile("plain.mp3", zeros));
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"zipped.mp3", zeros, true}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    assets::setAllocator(recordingAllocator);

    for (const char* name : {"plain.mp3", "zipped.mp3"}) {
        SCOPED_TRACE(name);
        largestRequest = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(load(name, 1 << 20), "");
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find(name), 5u) << err;
        EXPECT_NE(err.find(" is too large (3145728 bytes, at most 1048576); not loaded\n"),
                  std::string::npos)
            << err;
        EXPECT_EQ(largestRequest, 0u);
        EXPECT_EQ(load(name, 3 << 20).size(), zeros.size()); // exactly at the budget
    }
}

// The whole-size file is sparse: refused on its size, it is never read.
// A sparse file: its size costs no disk.
bool writeSparse(const char* name, off_t bytes) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool sized = fd >= 0 && ftruncate(fd, bytes) == 0;
    if (fd >= 0) close(fd);
    return sized;
}

TEST_F(Hostile, FilesOfAnySizeBeyondTheBudgetGetTheSameLine) {
    const off_t threeGigabytes = off_t(3) << 30;
    ASSERT_TRUE(writeSparse("solnedgang.png", threeGigabytes));
    ASSERT_TRUE(writeSparse("elg.mp3", threeGigabytes));
    assets::setAllocator(recordingAllocator);
    for (auto [name, budget] : {std::pair{"solnedgang.png", assets::kMaxPictureFileBytes},
                                {"elg.mp3", assets::kMaxSongBytes}}) {
        SCOPED_TRACE(name);
        testing::internal::CaptureStderr();
        EXPECT_EQ(load(name, budget), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "kva: " + std::string(name) + " is too large (3221225472 bytes, at most " +
                      std::to_string(budget) + "); not loaded\n");
    }
    EXPECT_EQ(largestRequest, 0u);
}

// Names come from the command line, the environment and archives: each
// message stays one line whatever they hold.
TEST_F(Hostile, NamesWithControlCharactersStayOnOneLine) {
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"other.png", text("x"), false}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("a\nb\x1b[2J.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFile a\\nb\\x1b[2J.png not found!\n");

    ASSERT_TRUE(testassets::writeFile("bad\r.png", text("not a picture")));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    canvas::Image image = assets::decodePng(assets::loadFile("bad\r.png"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bad\\r.png");
    EXPECT_EQ(image.pixels, nullptr);

    ASSERT_TRUE(testassets::writeFile("two\nlines.rar", text("not a zip")));
    testing::internal::CaptureStderr();
    EXPECT_EQ(assets::openArchive("two\nlines.rar"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kva: the archive two\\nlines.rar cannot be used: it is not a zip archive\n");

    const std::vector<std::string> folders = assets::searchFolders();
    assets::setSearchFolders({"", dir.path() + "/new\nline"});
    const std::string line = assets::nothingFoundLine("kva", "pr0n\t.rar");
    assets::setSearchFolders(folders);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("/new\\nline"), std::string::npos) << line;
    EXPECT_NE(line.find("pr0n\\t.rar in each"), std::string::npos) << line;
}

TEST_F(Hostile, PictureFileBeyondItsBudgetIsRefusedLikeADamagedPicture) {
    const char* names[] = {"huge.png"};
    ASSERT_TRUE(testassets::writeFile("huge.png", {}));
    ASSERT_EQ(0, truncate("huge.png", off_t(assets::kMaxPictureFileBytes + 1)));
    canvas::Image image;
    assets::setAllocator(recordingAllocator);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    assets::loadPictures(names, &image, 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "huge.png"); // the decoder's report
    EXPECT_NE(err.find("kva: huge.png is too large"), std::string::npos) << err;
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_LT(largestRequest, std::size_t(1) << 20);
}

Bytes opaquePicture(int width, int height) {
    return testassets::writePng(testassets::pictureFromWords(
        width, height, std::vector<std::uint32_t>(std::size_t(width) * height, 0xff336699u),
        false));
}

// Three of 4096 pixels against 10000 together: the third would pass the
// total and is refused; the small one after it still fits and loads.
TEST_F(Hostile, PicturesTogetherStayWithinTheTotal) {
    const char* names[] = {"a.png", "b.png", "c.png", "d.png"};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(testassets::writeFile(names[i], opaquePicture(64, 64)));
    ASSERT_TRUE(testassets::writeFile("d.png", opaquePicture(30, 30)));
    canvas::Image images[4];
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    assets::loadPictures(names, images, 4, 10000);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "c.png");
    EXPECT_EQ(images[0].width, 64);
    EXPECT_EQ(images[1].width, 64);
    EXPECT_EQ(images[2].pixels, nullptr);
    EXPECT_EQ(images[3].width, 30);
    for (canvas::Image& image : images) canvas::releaseImage(image);
}

TEST_F(Hostile, ExactCaseWinsOverACaseDuplicate) {
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"Elg.Mp3", text("junk"), true},
                                                  {"elg.mp3", text("song"), true},
                                                  {"moose.png", text("moose"), false},
                                                  {"MOOSE.PNG", text("MOOSE"), false}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    EXPECT_EQ(load("elg.mp3"), "song");
    EXPECT_EQ(load("Elg.Mp3"), "junk");
    EXPECT_EQ(load("ELG.mp3"), "junk"); // no exact match: the first one found
    EXPECT_EQ(load("MOOSE.PNG"), "MOOSE");
    EXPECT_EQ(load("Moose.png"), "moose");
}

struct Unusable {
    const char* what;
    Bytes bytes;
    const char* reason;
};

Bytes zipCutShort() {
    testassets::writeZip("whole.zip", {{"elg.mp3", Bytes(4000, 7), true}});
    Bytes whole = testassets::readFile("whole.zip");
    return Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() - 30));
}

TEST_F(Hostile, AnUnusableArchiveIsNamedWithTheReason) {
    Bytes noise(5000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::uint8_t(i * 2654435761u >> 13);
    const Unusable cases[] = {
        {"random bytes", noise, "it is not a zip archive"},
        {"an empty file", {}, "the file is empty"},
        {"a RAR archive", text("Rar!\x1a\x07\x01\x00 and more"), "it is a RAR archive"},
        {"a cut zip", zipCutShort(), "damaged or the file is cut short"},
    };
    for (const Unusable& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(testassets::writeFile("pr0n.rar", c.bytes));
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
        EXPECT_EQ(load("elg.mp3"), ""); // the show goes on without it, silently
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("kva: the archive pr0n.rar cannot be used: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    std::remove("pr0n.rar");
    testing::internal::CaptureStderr();
    EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // a missing archive is normal
}

TEST_F(Hostile, AnArchiveOfMoreEntriesThanAnyPackUsesIsRefused) {
    std::vector<ZipEntry> entries;
    for (std::int64_t i = 0; i <= assets::kMaxArchiveEntries; ++i)
        entries.push_back({std::to_string(i) + ".png", {}, false});
    entries.push_back({"elg.mp3", text("song"), false});
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", entries));
    testing::internal::CaptureStderr();
    EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kva: the archive pr0n.rar cannot be used: it holds 10002 entries, more than the "
              "10000 an asset pack may have\n");

    entries.erase(entries.begin(), entries.begin() + 2);
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", entries));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1); // exactly the limit
    EXPECT_EQ(load("elg.mp3"), "song");
}

TEST_F(Hostile, LongLoadsReportProgressAsTheyGo) {
    Bytes bytes(5 << 20);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7 >> 3);
    ASSERT_TRUE(testassets::writeFile("plain.mp3", bytes));
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"zipped.mp3", bytes, true}}));
    ASSERT_TRUE(testassets::writeFile("tall.png", opaquePicture(4, 256)));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    assets::setProgressHook(countProgress);

    for (const char* name : {"plain.mp3", "zipped.mp3"}) {
        SCOPED_TRACE(name);
        progressCalls = 0;
        EXPECT_EQ(load(name).size(), bytes.size());
        EXPECT_GE(progressCalls, 5);
    }
    progressCalls = 0;
    canvas::Image image = assets::decodePng(assets::loadFile("tall.png"));
    EXPECT_EQ(image.height, 256);
    EXPECT_GE(progressCalls, 8);
    canvas::releaseImage(image);
}

} // namespace
