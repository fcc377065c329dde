// args.cpp -- the command line of kva-export and its help text.
#include "export/export.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace exporter {
namespace {

constexpr const char* kHelp =
    "Usage: kva-export [--fps N] [--size WxH] [-o FILE]\n"
    "       kva-export --still SECONDS [--size WxH] [-o FILE]\n"
    "\n"
    "Renders the KVA show, frame for frame as the show composes it, with its\n"
    "sound. Pictures and song are read as the show reads them: plain files in\n"
    "the working directory, then data/, then the archive pr0n.rar; then the same\n"
    "in the program's folder, in ../share/kva beside it and in ~/.local/share/kva.\n"
    "\n"
    "  --fps N          frames per second of the video, 1 to 240 (default 60); the\n"
    "                   show is stepped by exactly 1/N s per frame, video frame i\n"
    "                   (at i/N s) shows show time (i + 1)/N s, and the last\n"
    "                   frame stays for the ending of the song\n"
    "  --size WxH       640x480 (default), 1280x960 or 1920x1440; larger sizes\n"
    "                   repeat every pixel (nearest neighbour)\n"
    "  -o FILE          output file (default show.mp4: H.264 and AAC in MP4,\n"
    "                   through the ffmpeg program; the container follows the\n"
    "                   file's extension, MP4 when it has none); the video is\n"
    "                   written beside FILE and takes its name only when complete\n"
    "  --still SECONDS  write one frame as a PNG (default frame.png) instead: the\n"
    "                   frame composed after round(SECONDS x 60) steps of 1/60 s,\n"
    "                   at least one; SECONDS from 0 to 192\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Ctrl+C stops an export, ends ffmpeg and removes the partial file; an\n"
    "existing FILE is left as it was unless the export completes.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments, 130 stopped.\n";

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

bool parseSize(std::string_view text, std::int32_t& scale) {
    if (text == "640x480")
        scale = 1;
    else if (text == "1280x960")
        scale = 2;
    else if (text == "1920x1440")
        scale = 3;
    else
        return false;
    return true;
}

struct Parser {
    int argc;
    const char* const* argv;
    int index = 1;
    ParsedArgs result;
    bool sawFps = false, sawStill = false;

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
            sawFps = true;
        } else if (is("--size")) {
            if (!value(arg, "--size", v)) return false;
            if (!parseSize(v, o.scale))
                return fail("--size must be 640x480, 1280x960 or 1920x1440, not '" + v + "'");
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
            if (sawFps) return fail("--fps does not apply to --still (stills use 1/60 s steps)");
            o.mode = Mode::Still;
        }
        if (o.output.empty()) o.output = defaultOutput(o.mode);
        return true;
    }
};

} // namespace

ParsedArgs parseArgs(int argc, const char* const* argv) {
    Parser parser{argc, argv, 1, {}, false, false};
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
