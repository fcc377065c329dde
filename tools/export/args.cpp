// args.cpp -- the command line of kva-export and its help text.
#include "export/options.h"

#include "show/show.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace exporter {
namespace {

constexpr const char* kHelp =
    "Usage: kva-export [OPTIONS] [-o FILE]\n"
    "       kva-export --still SECONDS [--size WxH] [-n] [-o FILE.png]\n"
    "\n"
    "Renders the KVA show, frame for frame as the show composes it, with its\n"
    "sound. Pictures and song are read as the show reads them: plain files in\n"
    "the working directory, then data/, then the archive pr0n.rar; then the same\n"
    "in the program's folder, in ../share/kva beside it and in ~/.local/share/kva.\n"
    "\n"
    "  -o FILE          where to write (default show.mp4); what is written follows\n"
    "                   the extension:\n"
    "                     .mp4 .mov .mkv  H.264 and AAC (MP4 when FILE has none)\n"
    "                     .webm           VP9 and Opus\n"
    "                     .gif            a palette made for the clip, no sound,\n"
    "                                     at most 30 fps (default 30)\n"
    "                     frames/%05d.png one PNG per frame, numbered from 1: at\n"
    "                                     60 fps file N is the --still of N/60 s\n"
    "                   -o - writes to standard output (Matroska unless --format\n"
    "                   says otherwise). A FIFO or character device is written\n"
    "                   into; a symbolic link is followed by the system, under\n"
    "                   its rules for links in shared folders, and stays a link;\n"
    "                   a file is written beside FILE and takes its name only\n"
    "                   when complete. MP4, MOV and Matroska get the title KVA\n"
    "                   and a chapter at each lyric.\n"
    "  --format NAME    mp4, mov, mkv, webm or gif, whatever FILE's extension\n"
    "  -n               never overwrite an existing FILE (exit status 1)\n"
    "  --fps N          frames per second, 1 to 240 (default 60); the show is\n"
    "                   stepped by exactly 1/N s per frame, video frame i (at i/N s)\n"
    "                   shows show time (i + 1)/N s, and the last frame stays for\n"
    "                   the ending of the song\n"
    "  --size WxH       640x480 (default), 1280x960, 1920x1440, 1920x1080 or\n"
    "                   3840x2160: the frame enlarged by the largest whole factor\n"
    "                   that fits (every pixel repeated), centred on black\n"
    "  --lossless       every decoded frame equals the composed frame: H.264 in\n"
    "                   RGB at CRF 0 (libx264rgb), with FLAC in .mkv\n"
    "  --crf N          H.264 quality, 0 to 51 (default 20; lower is better and\n"
    "                   larger), or VP9 quality, 0 to 63 (default 32)\n"
    "  --preset NAME    H.264 speed, x264's own: ultrafast, superfast, veryfast,\n"
    "                   faster, fast, medium, slow, slower or veryslow\n"
    "  --frames N       stop after N frames (the sound stops with them)\n"
    "  --sound          with a PNG sequence, also write its sound as sound.wav\n"
    "                   in the same folder\n"
    "  --still SECONDS  write one frame as a PNG (default frame.png) instead: the\n"
    "                   frame composed after round(SECONDS x 60) steps of 1/60 s,\n"
    "                   at least one; SECONDS from 0 to 192\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "The default (ultrafast, CRF 20, CABAC, runs of 8 B-frames, a keyframe\n"
    "every 10 s, 4:2:0) takes about the processor time of plain ultrafast at\n"
    "CRF 18 (over 9x real time on two free cores) for 61% of its size: 13.7 MB\n"
    "for the whole show. Its frame at 20 s is 37.2 dB PSNR over R, G and B\n"
    "from the composed frame as a player shows it; 4:2:0 itself allows 38.0.\n"
    "\n"
    "Nothing is written until the output, its folder and the encoder have been\n"
    "checked. A file takes FILE's name only once ffmpeg has ended without a\n"
    "complaint and the file, flushed to the disk, reads back whole; else an\n"
    "existing FILE stays as it was. ffmpeg ends when kva-export ends, however\n"
    "it ends; one that takes no frame for 30 s is stopped. Ctrl+C stops an\n"
    "export, ends ffmpeg, removes the partial file and says what stays.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments (alone or together),\n"
    "130 stopped.\n";

// Whole-string parse; false on anything else (sign, spaces, trailing text).
bool parseInt(std::string_view text, std::int32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    std::int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    value = v;
    return true;
}

bool parseSeconds(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    value = v;
    return true;
}

constexpr struct {
    const char* name;
    std::int32_t width, height;
} kSizes[] = {{"640x480", 640, 480},
              {"1280x960", 1280, 960},
              {"1920x1440", 1920, 1440},
              {"1920x1080", 1920, 1080},
              {"3840x2160", 3840, 2160}};

bool parseSize(std::string_view text, Options& o) {
    for (const auto& size : kSizes) {
        if (text == size.name) {
            o.width = size.width;
            o.height = size.height;
            return true;
        }
    }
    return false;
}

struct Parser {
    int argc;
    const char* const* argv;
    int index = 1;
    ParsedArgs result;
    bool sawStill = false;

    bool fail(std::string message) {
        result.error = std::move(message);
        return false;
    }

    // The value of an option given as "--opt value" or "--opt=value".
    bool value(std::string_view arg, std::string_view name, std::string& out) {
        if (arg.size() > name.size() && arg[name.size()] == '=') {
            out = std::string(arg.substr(name.size() + 1));
            return true;
        }
        if (index + 1 >= argc) return fail(std::string(name) + " needs a value");
        out = argv[++index];
        return true;
    }

    bool option(std::string_view arg) {
        Options& o = result.options;
        auto is = [&](std::string_view name) {
            return arg == name ||
                   (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.mode = Mode::Help;
        } else if (arg == "--version") {
            o.mode = Mode::Version;
        } else if (is("--fps")) {
            if (!value(arg, "--fps", v)) return false;
            if (!parseInt(v, o.fps) || o.fps < 1 || o.fps > kMaxFps)
                return fail("--fps must be a whole number from 1 to 240, not '" + v + "'");
            o.fpsGiven = true;
        } else if (is("--size")) {
            if (!value(arg, "--size", v)) return false;
            if (!parseSize(v, o))
                return fail("--size must be 640x480, 1280x960, 1920x1440, 1920x1080 or "
                            "3840x2160, not '" +
                            v + "'");
        } else if (is("--crf")) {
            if (!value(arg, "--crf", v)) return false;
            if (!parseInt(v, o.crf) || o.crf > 63)
                return fail("--crf must be a whole number from 0 to 63, not '" + v + "'");
        } else if (is("--preset")) {
            if (!value(arg, "--preset", v)) return false;
            if (v.empty()) return fail("--preset needs a name");
            o.preset = v;
        } else if (is("--format")) {
            if (!value(arg, "--format", v)) return false;
            o.format = v;
        } else if (is("--frames")) {
            if (!value(arg, "--frames", v)) return false;
            std::int32_t frames = 0;
            if (!parseInt(v, frames) || frames < 1)
                return fail("--frames must be a whole number of at least 1, not '" + v + "'");
            o.maxFrames = frames;
        } else if (arg == "--lossless") {
            o.lossless = true;
        } else if (arg == "--sound") {
            o.sound = true;
        } else if (arg == "-n") {
            o.noClobber = true;
        } else if (is("--still")) {
            if (!value(arg, "--still", v)) return false;
            if (!parseSeconds(v, o.stillSeconds) || o.stillSeconds < 0.0 ||
                o.stillSeconds > show::kShowLength)
                return fail("--still must be a number of seconds from 0 to 192, not '" + v + "'");
            sawStill = true;
        } else if (arg == "-o" || is("--output")) {
            if (!value(arg, arg == "-o" ? "-o" : "--output", v)) return false;
            if (v.empty()) return fail("-o needs a file name");
            o.output = v;
        } else {
            return fail("unknown argument '" + std::string(arg) + "' (see --help)");
        }
        return true;
    }

    bool run() {
        for (; index < argc; ++index) {
            if (!option(argv[index])) return false;
        }
        Options& o = result.options;
        if (o.mode == Mode::Help || o.mode == Mode::Version) return true;
        if (sawStill) {
            if (o.fpsGiven)
                return fail("--fps does not apply to --still (stills use 1/60 s steps)");
            const bool videoOnly = !o.format.empty() || o.lossless || o.crf >= 0 ||
                                   !o.preset.empty() || o.maxFrames >= 0 || o.sound;
            if (videoOnly)
                return fail("--still takes only --size, -n and -o (a still is a lossless PNG)");
            o.mode = Mode::Still;
        }
        if (o.output.empty()) o.output = defaultOutput(o.mode);
        return true;
    }
};

} // namespace

ParsedArgs parseArgs(int argc, const char* const* argv) {
    Parser parser{argc, argv, 1, {}, false};
    parser.run();
    return parser.result;
}

const char* helpText() {
    return kHelp;
}

std::string defaultOutput(Mode mode) {
    return mode == Mode::Still ? "frame.png" : "show.mp4";
}

} // namespace exporter
