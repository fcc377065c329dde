// kva-export on a file system that fills up: at the start, in the middle
// and in the last few kilobytes of the new file, for every container. The
// old file must stay as it was, no partial file may stay, and the status
// is 1 with one line.
#include "export_helpers.h"
#include "test_assets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace exporttest;

namespace {

// A small tmpfs mounted for the test's lifetime.
class SmallFs {
  public:
    explicit SmallFs(const std::string& dir, std::size_t bytes) : dir_(dir) {
        mkdir(dir.c_str(), 0755);
        const std::string size = "size=" + std::to_string(bytes);
        mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~SmallFs() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
        rmdir(dir_.c_str());
    }
    SmallFs(const SmallFs&) = delete;
    SmallFs& operator=(const SmallFs&) = delete;
    bool mounted() const { return mounted_; }

    // Fills the file system until free bytes are left (in whole pages).
    bool leave(std::size_t free) {
        struct statvfs fs {};
        if (statvfs(dir_.c_str(), &fs) != 0) return false;
        const std::size_t now = std::size_t(fs.f_bavail) * fs.f_frsize;
        if (now < free) return false;
        const std::size_t fill = (now - free + 4095) / 4096 * 4096; // at most free left
        const int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return false;
        const std::vector<char> page(4096, 'f');
        bool ok = true;
        for (std::size_t done = 0; ok && done < fill; done += page.size())
            ok = write(fd, page.data(), page.size()) == ssize_t(page.size());
        close(fd);
        return ok;
    }

  private:
    std::string dir_;
    bool mounted_ = false;
};

std::size_t fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? std::size_t(st.st_size) : 0;
}

} // namespace

TEST(ExportProgram, FullDiskKeepsTheOldFile) {
    REQUIRE_FFMPEG();
    testassets::ScopedTempDir dir;
    writeTestPack();
    {
        SmallFs probeFs(dir.path() + "/probe", 1 << 20);
        if (!probeFs.mounted())
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    }
    const struct {
        const char* ext;
        const char* options;
    } containers[] = {{"mp4", "--frames 300"},
                      {"mkv", "--frames 300"},
                      {"webm", "--frames 300"},
                      {"gif", "--frames 20 --size 1280x960"}};
    for (const auto& c : containers) {
        const std::string name = std::string("show.") + c.ext;
        const Result whole = runProgram(std::string(c.options) + " -o " + name);
        ASSERT_EQ(whole.status, 0) << whole.err;
        const std::size_t size = fileSize(name);
        ASSERT_GT(size, 12u * 1024) << name << " too small to run out of room part-way";

        const struct {
            const char* where;
            std::size_t free;
        } points[] = {{"at the start", 0},
                      {"in the middle", size / 2},
                      {"at the end", size - std::min<std::size_t>(8192, size / 8)}};
        for (const auto& p : points) {
            const std::string mounted = dir.path() + "/small";
            SmallFs fs(mounted, size * 2 + (1 << 20));
            ASSERT_TRUE(fs.mounted());
            const std::string output = mounted + "/" + name;
            ASSERT_TRUE(testassets::writeFile(output, {'o', 'l', 'd'}));
            ASSERT_TRUE(fs.leave(p.free));
            const Result r = runProgram(std::string(c.options) + " -o " + output);
            EXPECT_EQ(r.status, 1) << name << " " << p.where << ": " << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.err.find("kva-export: "), 0u) << r.err;
            EXPECT_EQ(slurp(output), "old") << name << " " << p.where;
            EXPECT_EQ(filesMatching(mounted, ".partial-"), 0) << name << " " << p.where;
        }
    }
}
