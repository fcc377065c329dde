// assets_lookup_test.cpp -- the search folders: their standard order, each
// place winning over the later ones, one archive, and the nothing-found count.
#include "assets/lookup.h"
#include "assets/store.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using testassets::Bytes;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string load(const char* name) {
    assets::FileBlob blob = assets::loadFile(name);
    std::string content(reinterpret_cast<const char*>(blob.data), std::size_t(blob.size));
    assets::releaseFileBlob(blob);
    return content;
}

TEST(SearchFolders, StandardOrderAndUserFolder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(assets::standardSearchFolders("/opt/kva/bin", "/xdg", "/home/u"),
              (V{"", "/opt/kva/bin", "/opt/kva/share/kva", "/xdg/kva"}));
    // XDG_DATA_HOME unset, empty or relative: the default under HOME.
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "rel/dir"})
        EXPECT_EQ(assets::standardSearchFolders("/b/bin", xdg, "/home/u"),
                  (V{"", "/b/bin", "/b/share/kva", "/home/u/.local/share/kva"}));
    EXPECT_EQ(assets::standardSearchFolders("", nullptr, nullptr), V{""});
}

TEST(SearchFolders, TheProgramsOwnFolderIsNotRepeated) {
    testassets::ScopedTempDir dir;
    const std::vector<std::string> folders = assets::standardSearchFolders(dir.path(), "/x", "");
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], "");
    EXPECT_NE(folders[1].find("share/kva"), std::string::npos);
    EXPECT_EQ(folders[2], "/x/kva");
}

// Four search folders: the working folder and three beside it, each holding
// the name as a plain file, under data/ and in its own archive.
class Lookup : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* f : {"b", "c", "d"}) mkdir((dir.path() + "/" + f).c_str(), 0755);
        assets::setSearchFolders({"", dir.path() + "/b", "c", dir.path() + "/d"});
    }
    void TearDown() override {
        assets::closeArchive();
        assets::setSearchFolders({""});
    }
    static std::string folderOf(int i) { return i == 0 ? "." : std::string(1, char('a' + i)); }
    static std::string place(int folder, int kind) {
        const std::string f = folderOf(folder);
        return kind == 0 ? f + "/pic.png" : kind == 1 ? f + "/data/pic.png" : f + "/pr0n.rar";
    }
    void fill() {
        for (int folder = 0; folder < 4; ++folder) {
            mkdir((folderOf(folder) + "/data").c_str(), 0755);
            for (int kind = 0; kind < 3; ++kind) {
                const std::string p = place(folder, kind);
                if (kind < 2)
                    ASSERT_TRUE(testassets::writeFile(p, text(p)));
                else
                    ASSERT_TRUE(testassets::writeZip(
                        p, {{"pic.png", text(p), true}, {"only-" + folderOf(folder), text(p)}}));
            }
        }
    }
    testassets::ScopedTempDir dir;
};

TEST_F(Lookup, EachPlaceWinsOverTheLaterOnes) {
    fill();
    for (int folder = 0; folder < 4; ++folder) {
        for (int kind = 0; kind < 3; ++kind) {
            const std::string p = place(folder, kind);
            ASSERT_EQ(assets::openArchive("pr0n.rar"), 1);
            EXPECT_EQ(load("pic.png"), p);
            ASSERT_EQ(std::remove(p.c_str()), 0);
        }
    }
    EXPECT_EQ(assets::openArchive("pr0n.rar"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("pic.png"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // no archive: silent
}

TEST_F(Lookup, OnlyTheFirstArchiveFoundIsSearched) {
    fill();
    for (int folder = 0; folder < 2; ++folder) std::remove(place(folder, 2).c_str());
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1); // the one in c
    EXPECT_EQ(load("only-c"), "c/pr0n.rar");
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("only-d"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFile only-d not found!\n");
}

TEST_F(Lookup, LaterPlainFilesStillServeWhatTheArchiveLacks) {
    fill();
    ASSERT_TRUE(testassets::writeFile("d/data/extra.png", text("d extra")));
    ASSERT_EQ(assets::openArchive("pr0n.rar"), 1); // the working folder's
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("extra.png"), "d extra");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // found in the end: no message
}

TEST_F(Lookup, AnAbsoluteArchiveNameIsOpenedAsItIs) {
    fill();
    std::remove("./pic.png");
    std::remove("./data/pic.png");
    ASSERT_EQ(assets::openArchive((dir.path() + "/d/pr0n.rar").c_str()), 1);
    EXPECT_EQ(load("pic.png"), "d/pr0n.rar"); // searched right after the working folder
    EXPECT_EQ(assets::openArchive((dir.path() + "/none.rar").c_str()), 0);
}

TEST_F(Lookup, NothingFoundCountsFromTheArchiveOpen) {
    assets::openArchive("pr0n.rar");
    EXPECT_FALSE(assets::nothingFound()); // no load yet
    load("a.png");
    load("b.mp3");
    EXPECT_TRUE(assets::nothingFound());
    const std::string line = assets::nothingFoundLine("kva", "pr0n.rar");
    EXPECT_EQ(line.rfind("kva: ", 0), 0u);
    for (const char* f : {"/b", "/c", "/d"})
        EXPECT_NE(line.find(dir.path() + f), std::string::npos);
    EXPECT_NE(line.find("pr0n.rar"), std::string::npos);
    EXPECT_EQ(line.find('\n'), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_TRUE(assets::reportNothingFound("kva", "pr0n.rar"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "\n");

    ASSERT_TRUE(testassets::writeFile("c/b.mp3", text("x")));
    load("b.mp3");
    EXPECT_FALSE(assets::nothingFound());
    assets::openArchive("pr0n.rar"); // a new start-up count
    load("a.png");
    EXPECT_TRUE(assets::nothingFound());
    ASSERT_TRUE(testassets::writeFile("empty.png", {}));
    load("empty.png"); // found, though empty
    testing::internal::CaptureStderr();
    EXPECT_FALSE(assets::reportNothingFound("kva", "pr0n.rar"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
