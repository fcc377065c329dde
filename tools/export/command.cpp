// command.cpp -- the ffmpeg command line: the program found on PATH, its
// inputs (raw frames, raw sound, chapters) and its output named as a file.
#include "export/encoder.h"

#include "export/sound.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace exporter {

std::string findProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    const std::string_view dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string_view::npos) end = dirs.size();
        // An empty entry means the working directory.
        const std::string_view dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate(dir);
        candidate += '/';
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string fileUrl(const std::string& path) {
    return "file:" + path;
}

std::vector<std::string> rawFrameInput(std::int32_t width, std::int32_t height, std::int32_t fps,
                                       bool yuv) {
    // the composed frames, bytes B, G, R, unused; or their 4:2:0 planes
    return {"-thread_queue_size",
            "64",
            "-f",
            "rawvideo",
            "-pix_fmt",
            yuv ? "yuv420p" : "bgr0",
            "-s",
            std::to_string(width) + "x" + std::to_string(height),
            "-framerate",
            std::to_string(fps),
            "-i",
            "pipe:0"};
}

std::vector<std::string> rawSoundInput() {
    return {"-thread_queue_size",
            "1024",
            "-f",
            "f32le",
            "-ar",
            std::to_string(kSampleRate),
            "-ac",
            std::to_string(kChannels),
            "-i",
            "pipe:3"};
}

std::vector<std::string> chapterInput() {
    return {"-f", "ffmetadata", "-i", "pipe:4", "-map_chapters", "2"};
}

std::vector<std::string> encoderCommand(const EncoderSettings& s) {
    std::vector<std::string> command = {s.ffmpeg,   "-hide_banner", "-loglevel", "error",
                                        "-nostats", "-nostdin",     "-y"};
    for (const auto* part : {&s.frames, &s.second, &s.chapters, &s.outputArgs})
        command.insert(command.end(), part->begin(), part->end());
    command.push_back(s.output);
    return command;
}

} // namespace exporter
