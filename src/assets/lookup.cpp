// lookup.cpp -- the search folders and the count of what was found in them.
#include "assets/lookup.h"

#include "platform/std_descriptors.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace assets {
namespace {

namespace fs = std::filesystem;

struct State {
    std::vector<std::string> folders{""};
    std::size_t loads = 0;
    std::size_t found = 0;
};
State state;

// The folder as an absolute, normalised path, for comparing and printing.
std::string absoluteFolder(const std::string& folder) {
    std::error_code error;
    const fs::path path = folder.empty() ? fs::current_path(error) : fs::path(folder);
    if (error) return folder;
    const fs::path normal = fs::weakly_canonical(path, error);
    return error ? path.lexically_normal().string() : normal.string();
}

void appendUnique(std::vector<std::string>& folders, const std::string& folder) {
    const std::string absolute = absoluteFolder(folder);
    for (const std::string& f : folders)
        if (absoluteFolder(f) == absolute) return;
    folders.push_back(folder);
}

std::string userDataFolder(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is invalid and ignored, as for every XDG variable.
    if (xdgDataHome && xdgDataHome[0] == '/') return std::string(xdgDataHome) + "/kva";
    if (home && home[0] != '\0') return std::string(home) + "/.local/share/kva";
    return {};
}

std::string executableFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

} // namespace

void setSearchFolders(std::vector<std::string> folders) {
    state.folders = std::move(folders);
}

const std::vector<std::string>& searchFolders() {
    return state.folders;
}

std::vector<std::string> standardSearchFolders(const std::string& exeFolder,
                                               const char* xdgDataHome, const char* home) {
    std::vector<std::string> folders{""};
    if (!exeFolder.empty()) {
        appendUnique(folders, exeFolder);
        const fs::path parent = fs::path(exeFolder).lexically_normal().parent_path();
        appendUnique(folders, (parent / "share/kva").string());
    }
    const std::string user = userDataFolder(xdgDataHome, home);
    if (!user.empty()) appendUnique(folders, user);
    return folders;
}

void useStandardSearchFolders() {
    setSearchFolders(standardSearchFolders(executableFolder(), std::getenv("XDG_DATA_HOME"),
                                           std::getenv("HOME")));
}

std::string pathIn(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

void noteLoad(bool found) {
    ++state.loads;
    if (found) ++state.found;
}

bool nothingFound() {
    return state.loads > 0 && state.found == 0;
}

void resetLoadCount() {
    state.loads = 0;
    state.found = 0;
}

std::string nothingFoundLine(const char* program, const char* archiveName) {
    std::string line =
        std::string(program) + ": none of the pictures or the song found; looked in ";
    for (std::size_t i = 0; i < state.folders.size(); ++i) {
        if (i > 0) line += ", ";
        line += platform::printable(absoluteFolder(state.folders[i]));
    }
    line += " (plain files, data/ and " + platform::printable(archiveName) + " in each)";
    return line;
}

bool reportNothingFound(const char* program, const char* archiveName) {
    if (!nothingFound()) return false;
    std::fprintf(stderr, "%s\n", nothingFoundLine(program, archiveName).c_str());
    return true;
}

} // namespace assets
