// encoder.h -- the ffmpeg process: raw frames in through a pipe, the sound
// (or a palette) as input 1, chapters as input 2, the container out; and a
// one-frame trial run of the same settings before any frame is composed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exporter {

// Looks name up on PATH (or takes it as a path when it holds a slash).
// Returns the full path, or empty when there is no such executable.
std::string findProgram(const std::string& name);

// How a file name is handed to ffmpeg: as a file, never read as a
// protocol ("10:30.mkv", "pipe:x.mkv").
std::string fileUrl(const std::string& path);

struct EncoderSettings {
    std::string ffmpeg;                  // full path
    std::vector<std::string> frames;     // options and -i of input 0, the frames
    std::vector<std::string> second;     // options and -i of input 1, if any
    std::vector<std::string> chapters;   // options and -i of input 2, and its -map_chapters
    std::vector<std::string> outputArgs; // codecs, filters, tags, muxer
    std::string output;                  // fileUrl(path), or pipe:1
    int outputFd = -1;                   // given to ffmpeg as its standard output
    int soundFd = -1;                    // given to ffmpeg as descriptor 3
    int chaptersFd = -1;                 // given to ffmpeg as descriptor 4
};

// Input 0 as raw frames of width x height at fps on standard input: BGRX
// words, or with yuv the planes toYuv420 makes.
std::vector<std::string> rawFrameInput(std::int32_t width, std::int32_t height, std::int32_t fps,
                                       bool yuv);

// Input 1 as raw stereo float at 44100 Hz from descriptor 3.
std::vector<std::string> rawSoundInput();

// Input 2 as ffmpeg metadata (chapters) from descriptor 4.
std::vector<std::string> chapterInput();

// The ffmpeg command line for settings (program name first).
std::vector<std::string> encoderCommand(const EncoderSettings& settings);

// Runs ffmpeg on one black frame (and a moment of silence) with the same
// output options into the same output: proves the codecs, options, muxer
// and name usable before any frame is composed. Returns an empty string,
// or ffmpeg's first line of complaint.
std::string probeEncoder(const EncoderSettings& settings, std::int32_t width, std::int32_t height,
                         std::int32_t fps, bool withSound);

struct Encoder {
    int pid = -1;
    int input = -1;  // the frames go here
    int errors = -1; // what ffmpeg says, in an unlinked temporary file
    bool stalled = false;
};

// Starts ffmpeg in a process group of its own, so a Ctrl+C at the terminal
// reaches only this program, which then ends the encoder itself; ffmpeg is
// killed by the kernel when this program dies, however it dies.
std::string startEncoder(Encoder& encoder, const EncoderSettings& settings);

// Seconds the encoder may take no input (or, once the input is closed,
// neither end nor write) before it is taken as hung: 30, or
// KVA_EXPORT_STALL_SECONDS.
int stallSeconds();

// Writes all of bytes; false when the encoder has gone, has taken nothing
// for stallSeconds (encoder.stalled), or a stop was asked for.
bool feedEncoder(Encoder& encoder, const void* bytes, std::size_t count);

// Closes the input and waits while the encoder ends, or while the file at
// watch (if given) keeps growing. Returns the exit status (-1 on a signal
// or a stall); complaint gets ffmpeg's first line of error output.
int finishEncoder(Encoder& encoder, const std::string& watch, std::string& complaint);

// Ends the encoder at once and reaps it.
void killEncoder(Encoder& encoder);

} // namespace exporter
