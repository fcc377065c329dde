// assets_store_test.cpp -- lookup order, archive entries and reading of the asset store.
#include "assets/store.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using testassets::Bytes;
using testassets::ZipEntry;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string contentOf(const assets::FileBlob& blob) {
    return std::string(reinterpret_cast<const char*>(blob.data), std::size_t(blob.size));
}

// Loads name and returns its content (empty when nothing was loaded), checking
// the record the store hands back on the way.
std::string load(const char* name) {
    assets::FileBlob blob = assets::loadFile(name);
    EXPECT_STREQ(blob.name, name);
    EXPECT_EQ(blob.position, 0);
    EXPECT_EQ(blob.size == 0, blob.data == nullptr);
    std::string content = contentOf(blob);
    assets::releaseFileBlob(blob);
    return content;
}

class AssetStore : public ::testing::Test {
  protected:
    void TearDown() override {
        assets::closeArchive();
        assets::setAllocator(nullptr);
    }
    testassets::ScopedTempDir dir;
};

TEST(ReadFileBlob, CopiesAtMostWhatRemains) {
    std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    assets::FileBlob blob;
    blob.data = bytes;
    blob.size = 5;
    std::uint8_t out[8] = {};
    std::int32_t copied = -1;

    assets::readFileBlob(blob, out, 8, &copied);
    EXPECT_EQ(copied, 5);
    EXPECT_EQ(blob.position, 5);
    EXPECT_EQ(0, std::memcmp(out, bytes, 5));
    assets::readFileBlob(blob, out, 8, &copied);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(blob.position, 5);

    blob.position = 2;
    assets::readFileBlob(blob, out, 3, &copied); // exactly the remainder
    EXPECT_EQ(copied, 3);
    EXPECT_EQ(blob.position, 5);
    EXPECT_EQ(out[0], 3);

    blob.position = 0;
    assets::readFileBlob(blob, out, 2, &copied);
    assets::readFileBlob(blob, out, 2, &copied);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(blob.position, 4);
    assets::readFileBlob(blob, out, -4, &copied); // a negative count copies nothing
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(blob.position, 4);
}

TEST(ReadFileBlob, EmptyBlobIsNeverDereferenced) {
    assets::FileBlob blob; // data null, size 0
    std::uint8_t out[4] = {9, 9, 9, 9};
    std::int32_t copied = -1;
    assets::readFileBlob(blob, out, 4, &copied);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(out[0], 9);
}

TEST_F(AssetStore, WorkingDirectoryThenDataThenArchive) {
    ASSERT_TRUE(testassets::writeFile("both.png", text("cwd")));
    ASSERT_EQ(0, mkdir("data", 0755));
    ASSERT_TRUE(testassets::writeFile("data/both.png", text("data")));
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"both.png", text("zip"), true}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);

    EXPECT_EQ(load("both.png"), "cwd");
    std::remove("both.png");
    EXPECT_EQ(load("both.png"), "data");
    std::remove("data/both.png");
    EXPECT_EQ(load("both.png"), "zip");
}

TEST_F(AssetStore, OnlyRegularFilesAreFound) {
    ASSERT_EQ(0, mkdir("data", 0755));
    ASSERT_EQ(0, mkdir("pose.png", 0755));
    ASSERT_TRUE(testassets::writeFile("data/pose.png", text("data")));
    EXPECT_EQ(load("pose.png"), "data");

    // Nothing ever writes to these FIFOs: opening one must not wait for a writer.
    ASSERT_EQ(0, mkfifo("song.mp3", 0644));
    ASSERT_TRUE(testassets::writeFile("data/song.mp3", text("song")));
    EXPECT_EQ(load("song.mp3"), "song");
    ASSERT_EQ(0, mkfifo("pr0n.rar", 0644));
    EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
}

TEST_F(AssetStore, ArchiveEntriesStoredDeflatedAndByCase) {
    Bytes big(5000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = std::uint8_t(i * 7 / 3);
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"stored.png", big, false},
                                                  {"deflated.png", big, true},
                                                  {"UPPER.PNG", text("upper"), true},
                                                  {"data/prefixed.png", text("no"), false},
                                                  {"empty.png", {}, false}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);

    EXPECT_EQ(load("stored.png"), std::string(big.begin(), big.end()));
    EXPECT_EQ(load("deflated.png"), std::string(big.begin(), big.end()));
    EXPECT_EQ(load("upper.png"), "upper");
    EXPECT_EQ(load("Upper.Png"), "upper");
    EXPECT_EQ(load("empty.png"), "");

    testing::internal::CaptureStdout();
    EXPECT_EQ(load("prefixed.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFile prefixed.png not found!\n");
}

TEST_F(AssetStore, NotFoundIsSilentWithoutArchive) {
    EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
    ASSERT_TRUE(testassets::writeFile("junk.rar", text("not a zip archive at all")));
    testing::internal::CaptureStdout();
    EXPECT_EQ(assets::openArchive("junk.rar"), 0);
    EXPECT_EQ(load("missing.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AssetStore, ClosedArchiveIsNoLongerSearched) {
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"a.png", text("a"), true}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    EXPECT_EQ(load("a.png"), "a");
    assets::closeArchive();
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("a.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // A failed open leaves no archive behind, not a flag without a handle.
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    EXPECT_EQ(assets::openArchive("missing.rar"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("a.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AssetStore, EmptyPlainFileLoadsAsNothing) {
    ASSERT_TRUE(testassets::writeFile("empty.png", {}));
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"empty.png", text("zip"), true}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    EXPECT_EQ(load("empty.png"), ""); // found first, so the archive is not consulted
}

TEST_F(AssetStore, NamesLongerThan31AreRefused) {
    const std::string fits(31, 'f');
    const std::string tooLong(32, 'l');
    ASSERT_TRUE(testassets::writeFile(fits, text("fits")));
    ASSERT_TRUE(testassets::writeFile(tooLong, text("long")));
    EXPECT_EQ(load(fits.c_str()), "fits");

    assets::FileBlob blob = assets::loadFile(tooLong.c_str());
    EXPECT_EQ(blob.size, 0);
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(std::string(blob.name), tooLong.substr(0, 31));
}

// Flips one byte of the entry's data in the archive file.
void damage(const std::string& path, const Bytes& marker) {
    Bytes zip = testassets::readFile(path);
    auto at = std::search(zip.begin(), zip.end(), marker.begin(), marker.end());
    ASSERT_NE(at, zip.end());
    at[marker.size() / 2] ^= 0x20;
    ASSERT_TRUE(testassets::writeFile(path, zip));
}

TEST_F(AssetStore, DamagedEntryGivesNothing) {
    const Bytes stored = text("stored entry whose CRC will not match");
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"crc.png", stored, false}}));
    damage("pr0n.rar", stored);
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("crc.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // found, only unreadable
}

// Rewrites the uncompressed size the central directory records for the first entry.
void claimSize(const std::string& path, std::uint32_t size) {
    Bytes zip = testassets::readFile(path);
    const Bytes signature = {'P', 'K', 1, 2};
    auto at = std::search(zip.begin(), zip.end(), signature.begin(), signature.end());
    ASSERT_NE(at, zip.end());
    for (int i = 0; i < 4; ++i) at[24 + i] = std::uint8_t(size >> (8 * i));
    ASSERT_TRUE(testassets::writeFile(path, zip));
}

std::size_t largestRequest = 0;
void* recordingAllocator(std::size_t bytes) {
    largestRequest = std::max(largestRequest, bytes);
    return std::malloc(bytes);
}

TEST_F(AssetStore, ImplausibleEntrySizeIsRefusedBeforeAllocating) {
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"s.png", text("stored"), false}}));
    claimSize("pr0n.rar", 0x7ffffff0u);
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    assets::setAllocator(recordingAllocator);
    largestRequest = 0;
    EXPECT_EQ(load("s.png"), "");
    EXPECT_EQ(largestRequest, 0u);
}

TEST_F(AssetStore, ShorterClaimedSizeIsNotTakenAsTheWholeEntry) {
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"d.png", text("deflated data"), true}}));
    claimSize("pr0n.rar", 4);
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    EXPECT_EQ(load("d.png"), ""); // the CRC covers the whole entry, not 4 bytes of it
}

void* failingAllocator(std::size_t) {
    return nullptr;
}

TEST_F(AssetStore, AllocationFailureGivesNothing) {
    ASSERT_TRUE(testassets::writeFile("plain.png", text("plain")));
    ASSERT_TRUE(testassets::writeZip("pr0n.rar", {{"zipped.png", text("zipped"), true}}));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
    assets::setAllocator(failingAllocator);
    EXPECT_EQ(load("plain.png"), "");
    EXPECT_EQ(load("zipped.png"), "");
    assets::setAllocator(nullptr);
    EXPECT_EQ(load("zipped.png"), "zipped"); // no entry was left open
}

} // namespace
