// check.h -- whether a finished file is whole: on the disk, and with the
// structure its format ends with, read back from the file itself.
#pragma once

#include <string>

namespace exporter {

enum class FileShape { Mp4, Matroska, Gif, Png, Any };

// Flushes path to the disk and reads it back: not empty, and for each
// shape the parts only a complete file has (MP4 and MOV: top-level boxes
// that end exactly at the file's end, with moov and mdat; Matroska and
// WebM: a segment whose size is written and ends at the file's end; GIF
// and PNG: their closing bytes). Returns an empty string, or what is wrong.
std::string checkWholeFile(const std::string& path, FileShape shape);

} // namespace exporter
