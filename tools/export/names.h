// names.h -- output names: extensions, PNG sequence patterns, and the
// partial name a file is written under until it is complete.
#pragma once

#include <cstdint>
#include <string>

namespace exporter {

// The folder part of path with its slash ("" for a bare name).
std::string folderOf(const std::string& path);

// Offset of the extension's dot in path, or npos: a dot inside the last
// name and not at its start (".mp4" alone is a hidden file's name).
std::size_t extensionDot(const std::string& path);

// The extension without its dot, in lower case; empty when there is none.
std::string lowerExtension(const std::string& path);

// Whether path names a PNG sequence: a .png name whose last part holds one
// number directive (%d or %0Nd, N at most 9) and otherwise only %%. The
// folders before it are taken as they are, % and all.
bool isFramePattern(const std::string& path);

// The pattern (isFramePattern) with number filled into its last part.
std::string frameName(const std::string& pattern, std::int64_t number);

// Where a file is written until it is complete: beside path, with the
// same extension, and tag in the name (the process id), so two exports
// never share one.
std::string partialName(const std::string& path, const std::string& tag);

// Whether name (a bare name) is partialName(base, tag) for a tag of
// digits; gives the tag.
bool isPartialOf(const std::string& name, const std::string& base, std::string& tag);

} // namespace exporter
