// stale.cpp -- partial files whose export was killed outright (kill -9, a
// power cut) are removed by the next export to the same name.
#include "export/names.h"
#include "export/output.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace exporter {

int removeStalePartials(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string base = path.substr(folder.size());
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    std::string tag;
    while (const dirent* e = readdir(dir)) {
        if (!isPartialOf(e->d_name, base, tag)) continue;
        const long pid = std::strtol(tag.c_str(), nullptr, 10);
        // Only a process that no longer exists; a live one may be another
        // export at work.
        if (pid <= 0 || pid == long(getpid()) || kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        const std::string name = folder + e->d_name;
        struct stat st {};
        if (lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && unlink(name.c_str()) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

} // namespace exporter
