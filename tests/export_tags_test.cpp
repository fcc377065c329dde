// kva-export's chapters (one at each lyric cue, named after its picture)
// and its tags (title, the program as encoder).
#include "export/options.h"
#include "export/plan.h"
#include "export_helpers.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace exporttest;

TEST(ExportChapters, OneAtEachLyricCueNamedAfterItsPicture) {
    const std::vector<exporter::Chapter> chapters = exporter::lyricChapters(60, 12000);
    const std::vector<std::string> titles = {"vers_1",    "refreng_1", "refreng_2",
                                             "vers_2",    "refreng_1", "refreng_2",
                                             "refreng_1", "refreng_2", "mange_hoyre"};
    const double cues[] = {7, 30, 47, 78, 100, 118, 134, 151, 168};
    ASSERT_EQ(chapters.size(), titles.size());
    for (std::size_t i = 0; i < titles.size(); ++i) {
        EXPECT_EQ(chapters[i].title, titles[i]);
        // Frame i shows show time (i + 1) / 60; the cue fires within a step.
        EXPECT_NEAR(double(chapters[i].frame + 1) / 60.0, cues[i], 1.5 / 60.0) << titles[i];
    }
    // Cut short: only the cues inside the frames.
    EXPECT_EQ(exporter::lyricChapters(60, 60 * 31).size(), 2u);
    EXPECT_EQ(exporter::chapterText({{419, "vers_1"}, {1799, "refreng_1"}}, 60, 1900),
              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/60\nSTART=419\nEND=1799\ntitle=vers_1\n"
              "[CHAPTER]\nTIMEBASE=1/60\nSTART=1799\nEND=1900\ntitle=refreng_1\n");
}

namespace {

// What ffprobe says, one line per entry.
std::string ffprobe(const std::string& args, const std::string& file) {
    const std::string command =
        "ffprobe -v error " + args + " -of default=nw=1 '" + file + "' >probe.out 2>/dev/null";
    return std::system(command.c_str()) == 0 ? slurp("probe.out") : "";
}

} // namespace

TEST(ExportProgram, ChaptersAndTagsReadableByFfprobe) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    for (const char* name : {"c.mkv", "c.mp4"}) {
        const Result r = runProgram(std::string("--fps 10 --frames 500 -o ") + name);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ffprobe("-show_entries chapter_tags=title", name),
                  "TAG:title=vers_1\nTAG:title=refreng_1\nTAG:title=refreng_2\n")
            << name;
        const std::string tags = ffprobe("-show_entries format_tags=title,encoder", name);
        EXPECT_NE(tags.find("TAG:title=KVA\n"), std::string::npos) << name << ": " << tags;
    }
    EXPECT_NE(ffprobe("-show_entries format_tags=encoder", "c.mp4")
                  .find(std::string("TAG:encoder=") + exporter::kVersion),
              std::string::npos);
    // Matroska keeps it as the writing application, which ffprobe does not show.
    EXPECT_NE(slurp("c.mkv").find(exporter::kVersion), std::string::npos);
}
