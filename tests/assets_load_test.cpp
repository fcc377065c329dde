// assets_load_test.cpp -- the show's eleven pictures, placed as plain files,
// under data/ or in the archive, reach the show as decoded Images.
#include "assets/png.h"
#include "assets/store.h"
#include "show/show.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

using testassets::Bytes;

// Picture i: the three moose poses and the lyrics carry alpha, the
// backgrounds are opaque and full-sized; every word tells its picture apart.
struct Expected {
    int width, height;
    bool withAlpha;
    std::vector<std::uint32_t> words;
};

Expected expectedPicture(int i) {
    const bool background = i >= 3 && i <= 5;
    Expected e{background ? 640 : 24 + i, background ? 480 : 10 + i, !background, {}};
    for (int y = 0; y < e.height; ++y)
        for (int x = 0; x < e.width; ++x) {
            const std::uint32_t alpha = e.withAlpha ? std::uint32_t((x * 11 + y) & 0xff) : 0xff;
            e.words.push_back(alpha << 24 | std::uint32_t(i) << 16 | std::uint32_t(x & 0xff) << 8 |
                              std::uint32_t(y & 0xff));
        }
    return e;
}

Bytes encoded(const Expected& e) {
    return testassets::writePng(
        testassets::pictureFromWords(e.width, e.height, e.words, e.withAlpha));
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

enum class Place { WorkingDirectory, DataDirectory, Archive };

// Writes the eleven pictures where place says; false when a write fails.
bool placeAll(Place place) {
    std::vector<testassets::ZipEntry> entries;
    if (place == Place::DataDirectory && mkdir("data", 0755) != 0) return false;
    for (int i = 0; i < 11; ++i) {
        const std::string name = show::kPictureNames[i];
        const Bytes bytes = encoded(expectedPicture(i));
        bool ok = !bytes.empty();
        switch (place) {
        case Place::WorkingDirectory:
            ok = ok && testassets::writeFile(name, bytes);
            break;
        case Place::DataDirectory:
            ok = ok && testassets::writeFile("data/" + name, bytes);
            break;
        case Place::Archive: // stored and deflated, some under upper-case names
            entries.push_back({i % 3 ? name : upper(name), bytes, i % 2 == 0});
            break;
        }
        if (!ok) return false;
    }
    return place != Place::Archive || testassets::writeZip(show::kArchiveName, entries);
}

class ShowPictures : public ::testing::TestWithParam<Place> {
  protected:
    void TearDown() override { assets::closeArchive(); }
    testassets::ScopedTempDir dir;
};

TEST_P(ShowPictures, ReachTheShowDecoded) {
    ASSERT_TRUE(placeAll(GetParam()));
    assets::openArchive(show::kArchiveName);
    testing::internal::CaptureStdout();
    canvas::Image images[11];
    assets::loadPictures(show::kPictureNames, images, 11); // as the show loads them
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE(show::kPictureNames[i]);
        const Expected e = expectedPicture(i);
        canvas::Image& image = images[i];
        EXPECT_EQ(image.width, e.width);
        EXPECT_EQ(image.height, e.height);
        EXPECT_EQ(image.hasAlpha, e.withAlpha ? 1 : 0);
        if (image.pixels && image.width == e.width && image.height == e.height) {
            EXPECT_EQ(std::vector<std::uint32_t>(image.pixels, image.pixels + e.words.size()),
                      e.words);
        }
        canvas::releaseImage(image);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

INSTANTIATE_TEST_SUITE_P(Everywhere, ShowPictures,
                         ::testing::Values(Place::WorkingDirectory, Place::DataDirectory,
                                           Place::Archive));

TEST(ShowPicturesMissing, ArchiveWithoutThemReportsEachOnce) {
    testassets::ScopedTempDir dir;
    ASSERT_TRUE(testassets::writeZip(show::kArchiveName, {{"other.png", {1, 2, 3}, true}}));
    ASSERT_EQ(assets::openArchive(show::kArchiveName), 1);
    std::string expected;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    canvas::Image images[11];
    assets::loadPictures(show::kPictureNames, images, 11);
    for (int i = 0; i < 11; ++i) {
        const char* name = show::kPictureNames[i];
        const canvas::Image& image = images[i];
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.pixels, nullptr);
        // The store's message, then the decoder's report of the empty data.
        expected += std::string("\nFile ") + name + " not found!\n" + name;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    assets::closeArchive();
}

} // namespace
