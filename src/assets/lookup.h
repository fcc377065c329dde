// lookup.h -- where the asset store looks: an ordered list of folders, each
// offering a plain file, a file under its data/ and the zip archive.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace assets {

// The folders searched, in order; "" is the working folder. The list starts
// as the working folder alone; programs install the standard list at start-up.
void setSearchFolders(std::vector<std::string> folders);
const std::vector<std::string>& searchFolders();

// The standard list: the working folder, the executable's folder, ../share/kva
// beside that folder, then xdgDataHome/kva (or home/.local/share/kva when
// xdgDataHome is unset, empty or relative). exeFolder, home may be empty: that
// place is left out. Later duplicates of a folder are dropped.
std::vector<std::string> standardSearchFolders(const std::string& exeFolder,
                                               const char* xdgDataHome, const char* home);

// Installs the standard list for this process (executable from /proc/self/exe,
// XDG_DATA_HOME and HOME from the environment).
void useStandardSearchFolders();

// name inside folder ("" leaves name as it is, relative to the working folder).
std::string pathIn(const std::string& folder, const std::string& name);

// Counts the loads since the last openArchive that found a file; the store
// calls it. found is 1 when a plain file or an archive entry was found.
void noteLoad(bool found);

// True when loads were made since the last openArchive and none found a file.
bool nothingFound();

// One line naming every place searched, for when nothing was found.
std::string nothingFoundLine(const char* program, const char* archiveName);

// Prints that line on standard error when nothing was found; returns
// nothingFound().
bool reportNothingFound(const char* program, const char* archiveName);

// Starts a new count (openArchive calls it: it begins the start-up's loads).
void resetLoadCount();

} // namespace assets
