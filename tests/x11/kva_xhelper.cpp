// kva_xhelper.cpp -- helpers for the real-desktop display tests: writes the
// test pictures and song, checks a screen grab against the background,
// sends a close request.
//   kva_xhelper pictures DIR W H       the eleven pictures: the background
//                                      pattern (W x H, RGB) and small RGBA ones
//   kva_xhelper song FILE SECONDS      a looping tone as MP3
//   kva_xhelper check FILE.xwd W H [K] an `xwd -root` grab shows the background
//                                      K times enlarged (default 1), centred on black
//   kva_xhelper checkpng FILE.png W H K  the same for a PNG grab (8 bits a channel)
//   kva_xhelper close WINDOW-ID        WM_DELETE_WINDOW to that window
//   kva_xhelper pictures DIR W H LW    the same, the first lyric LW pixels wide
//   kva_xhelper lyricx FILE W H K LW [X Y]  the first lyric's x in the frame
//                                      that an xwd, PNG or PPM grab shows K
//                                      times enlarged, centred or with its top
//                                      left at (X, Y); "none" when it does not
//                                      show, or the grab is not the frame
//   kva_xhelper still FILE.xwd STILL.png K  the grab shows the 640 x 480 still
//                                      K times enlarged, centred on black
//   kva_xhelper cover                  maps a white window over the whole
//                                      screen for a moment, then removes it
#include "test_songs.h"

#include <X11/Xlib.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Every channel runs through many values, so that truncation to 5 or 6
// bits and channel order both show in the grab.
void patternAt(int x, int y, unsigned& r, unsigned& g, unsigned& b) {
    r = unsigned(x * 3 + y) & 0xFF;
    g = unsigned(y * 5 + x / 2) & 0xFF;
    b = unsigned(x ^ y) & 0xFF;
}

// An opaque picture of the pattern, or with alpha a translucent one: either
// way a picture the show's decoder takes without complaint.
int writePicture(const std::string& path, int w, int h, bool alpha) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 2;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fclose(f);
        return 2;
    }
    const int channels = alpha ? 4 : 3;
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(std::size_t(w) * std::size_t(channels));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned r, g, b;
            patternAt(x, y, r, g, b);
            png_byte* p = row.data() + std::size_t(x) * std::size_t(channels);
            p[0] = png_byte(r);
            p[1] = png_byte(g);
            p[2] = png_byte(b);
            if (alpha) p[3] = 0x80;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return 0;
}

// None of the pictures but the first background shows in the first seven
// seconds of the show, when the grab is taken.
constexpr int kSmallWidth = 48, kSmallHeight = 32;

int writePictures(const std::string& dir, int w, int h, int lyricWidth = kSmallWidth) {
    const char* const others[] = {"moose_middle.png", "moose_right.png", "moose_left.png",
                                  "greets.png",       "credits.png",     "refreng_1.png",
                                  "refreng_2.png",    "vers_2.png",      "mange_hoyre.png"};
    if (writePicture(dir + "/solnedgang.png", w, h, false) != 0) return 2;
    if (writePicture(dir + "/vers_1.png", lyricWidth, kSmallHeight, true) != 0) return 2;
    for (const char* name : others)
        if (writePicture(dir + "/" + name, kSmallWidth, kSmallHeight, true) != 0) return 2;
    return 0;
}

int writeSong(const char* path, double seconds) {
    const std::vector<std::uint8_t> mp3 = testsongs::mp3Tone(440.0, seconds);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(mp3.data()), std::streamsize(mp3.size()));
    return !mp3.empty() && out.good() ? 0 : 2;
}

// The fields of an XWD header used here; the header is big-endian.
struct Xwd {
    std::uint32_t headerSize = 0, width = 0, height = 0, byteOrder = 0, bitsPerPixel = 0;
    std::uint32_t bytesPerLine = 0, redMask = 0, greenMask = 0, blueMask = 0, colourCount = 0;
    std::uint32_t bytesPerPixel = 0;
    std::vector<unsigned char> data;
};

std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool readXwd(const char* path, Xwd& x) {
    std::ifstream in(path, std::ios::binary);
    x.data.assign(std::istreambuf_iterator<char>(in), {});
    if (x.data.size() < 100) return false;
    const unsigned char* h = x.data.data();
    auto field = [&](int i) { return be32(h + 4 * i); };
    x.headerSize = field(0);
    x.width = field(4);
    x.height = field(5);
    x.byteOrder = field(7);
    x.bitsPerPixel = field(11);
    x.bytesPerLine = field(12);
    x.redMask = field(14);
    x.greenMask = field(15);
    x.blueMask = field(16);
    x.colourCount = field(19);
    const std::size_t start = std::size_t(x.headerSize) + std::size_t(x.colourCount) * 12;
    // A grab composed from windows of several visuals can claim 24 bits per
    // pixel for 4-byte pixels; the row length tells the truth.
    x.bytesPerPixel = x.width ? x.bytesPerLine / x.width : 0;
    if (x.bytesPerPixel < 2 || x.bytesPerPixel > 4 ||
        x.data.size() < start + std::size_t(x.bytesPerLine) * x.height)
        return false;
    x.data.erase(x.data.begin(), x.data.begin() + std::ptrdiff_t(start));
    return true;
}

std::uint32_t pixelAt(const Xwd& x, std::uint32_t px, std::uint32_t py) {
    const unsigned n = x.bytesPerPixel;
    const unsigned char* p = x.data.data() + std::size_t(py) * x.bytesPerLine + px * n;
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned shift = x.byteOrder == 0 ? 8 * i : 8 * (n - 1 - i); // 0: LSB first
        v |= std::uint32_t(p[i]) << shift;
    }
    return v;
}

// An 8-bit channel in a mask's place, its low bits dropped.
std::uint32_t place(unsigned c, std::uint32_t mask) {
    if (!mask) return 0;
    int shift = 0, bits = 0;
    while (!((mask >> shift) & 1)) ++shift;
    while ((mask >> (shift + bits)) & 1) ++bits;
    return (std::uint32_t(c) >> (8 - bits)) << shift;
}

// A screen of width x height in the given masks, read pixel by pixel.
struct Grab {
    std::uint32_t width = 0, height = 0, redMask = 0, greenMask = 0, blueMask = 0;
    std::function<std::uint32_t(std::uint32_t, std::uint32_t)> pixel;
};

using FramePixel = std::function<void(int x, int y, unsigned& r, unsigned& g, unsigned& b)>;

// Every pixel of the screen: the frame pixel (fx, fy) repeated k x k in the
// centre, black everywhere else.
int compare(const Grab& grab, int w, int h, int k, const FramePixel& frameAt = patternAt) {
    const int left = (int(grab.width) - w * k) / 2, top = (int(grab.height) - h * k) / 2;
    const std::uint32_t colour = grab.redMask | grab.greenMask | grab.blueMask;
    long wrong = 0;
    for (int py = 0; py < int(grab.height); ++py) {
        for (int px = 0; px < int(grab.width); ++px) {
            const int dx = px - left, dy = py - top;
            std::uint32_t want = 0;
            if (dx >= 0 && dy >= 0 && dx < w * k && dy < h * k) {
                unsigned r, g, b;
                frameAt(dx / k, dy / k, r, g, b);
                want = place(r, grab.redMask) | place(g, grab.greenMask) | place(b, grab.blueMask);
            }
            const std::uint32_t got = grab.pixel(std::uint32_t(px), std::uint32_t(py)) & colour;
            if (got != want && wrong++ < 5)
                std::fprintf(stderr, "pixel (%d, %d): %#x, expected %#x\n", px, py, got, want);
        }
    }
    std::printf("%ux%u grab, masks %x/%x/%x, frame x%d at (%d, %d): %ld pixels differ\n",
                grab.width, grab.height, grab.redMask, grab.greenMask, grab.blueMask, k, left, top,
                wrong);
    return wrong == 0 ? 0 : 1;
}

int checkGrab(const char* path, int w, int h, int k) {
    Xwd x;
    if (!readXwd(path, x)) {
        std::fprintf(stderr, "cannot read the grab %s\n", path);
        return 2;
    }
    std::printf("xwd: %u bits per pixel; ", x.bitsPerPixel);
    const Grab grab{
        x.width,    x.height,
        x.redMask,  x.greenMask,
        x.blueMask, [&x](std::uint32_t px, std::uint32_t py) { return pixelAt(x, px, py); }};
    return compare(grab, w, h, k);
}

// A PNG grab (grim's) read as 8-bit RGB, compared in a 32-bit XRGB layout.
int checkPng(const char* path, int w, int h, int k) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "cannot read the grab %s: %s\n", path, image.message);
        return 2;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "cannot decode the grab %s: %s\n", path, image.message);
        return 2;
    }
    const std::uint32_t width = image.width;
    const Grab grab{width,
                    image.height,
                    0xFF0000,
                    0xFF00,
                    0xFF,
                    [&rgb, width](std::uint32_t px, std::uint32_t py) {
                        const unsigned char* p = rgb.data() + (std::size_t(py) * width + px) * 3;
                        return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
                    }};
    return compare(grab, w, h, k);
}

// A grab read from an xwd file or a PNG (8 bits a channel, XRGB layout).
struct GrabFile {
    Xwd xwd;
    std::vector<unsigned char> rgb;
    Grab grab;
};

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A binary PPM (grim -t ppm): "P6 W H 255" and RGB bytes.
bool readPpm(const char* path, GrabFile& file) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned width = 0, height = 0, maxval = 0;
    const bool header = std::fscanf(f, "P6 %u %u %u", &width, &height, &maxval) == 3 &&
                        maxval == 255 && std::fgetc(f) != EOF;
    file.rgb.resize(header ? std::size_t(width) * height * 3 : 0);
    const bool read =
        header && std::fread(file.rgb.data(), 1, file.rgb.size(), f) == file.rgb.size();
    std::fclose(f);
    const unsigned char* rgb = file.rgb.data();
    file.grab = Grab{
        width, height, 0xFF0000, 0xFF00, 0xFF, [rgb, width](std::uint32_t px, std::uint32_t py) {
            const unsigned char* p = rgb + (std::size_t(py) * width + px) * 3;
            return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
        }};
    return read;
}

bool readGrab(const char* path, GrabFile& file) {
    if (endsWith(path, ".ppm")) return readPpm(path, file);
    if (!endsWith(path, ".png")) {
        if (!readXwd(path, file.xwd)) return false;
        const Xwd& x = file.xwd;
        file.grab = Grab{
            x.width,    x.height,
            x.redMask,  x.greenMask,
            x.blueMask, [&x](std::uint32_t px, std::uint32_t py) { return pixelAt(x, px, py); }};
        return true;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return false;
    image.format = PNG_FORMAT_RGB;
    file.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, file.rgb.data(), 0, nullptr)) return false;
    const std::uint32_t width = image.width;
    const unsigned char* rgb = file.rgb.data();
    file.grab = Grab{width,
                     image.height,
                     0xFF0000,
                     0xFF00,
                     0xFF,
                     [rgb, width](std::uint32_t px, std::uint32_t py) {
                         const unsigned char* p = rgb + (std::size_t(py) * width + px) * 3;
                         return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
                     }};
    return true;
}

// The frame columns of the lyric's rows that differ from the background give
// its x: the left edge while that is on the frame, else the right edge less
// the lyric's width.
int lyricX(const char* path, int w, int h, int k, int lyricWidth, int left = -1, int top = -1) {
    GrabFile file;
    if (!readGrab(path, file)) {
        std::fprintf(stderr, "cannot read the grab %s\n", path);
        return 2;
    }
    const Grab& grab = file.grab;
    if (left < 0) left = (int(grab.width) - w * k) / 2;
    if (top < 0) top = (int(grab.height) - h * k) / 2;
    const int below = kSmallHeight + 8;
    if (left < 0 || top < 0 || left + w * k > int(grab.width) ||
        top + (below + 1) * k > int(grab.height))
        return 2;
    const std::uint32_t colour = grab.redMask | grab.greenMask | grab.blueMask;
    int first = -1, last = -1;
    for (int fx = 0; fx < w; ++fx) {
        for (int fy = 0; fy < kSmallHeight; ++fy) {
            unsigned r, g, b;
            patternAt(fx, fy, r, g, b);
            const std::uint32_t want =
                place(r, grab.redMask) | place(g, grab.greenMask) | place(b, grab.blueMask);
            const std::uint32_t got =
                grab.pixel(std::uint32_t(left + fx * k), std::uint32_t(top + fy * k)) & colour;
            if (got != want) {
                if (first < 0) first = fx;
                last = fx;
                break;
            }
        }
    }
    // Below the lyric only the background shows (until the moose comes):
    // anything else there is not the show's frame.
    for (int fx = 0; fx < w; ++fx) {
        unsigned r, g, b;
        patternAt(fx, below, r, g, b);
        const std::uint32_t want =
            place(r, grab.redMask) | place(g, grab.greenMask) | place(b, grab.blueMask);
        if ((grab.pixel(std::uint32_t(left + fx * k), std::uint32_t(top + below * k)) & colour) !=
            want) {
            std::puts("none");
            return 1;
        }
    }
    if (first < 0) {
        std::puts("none");
        return 1;
    }
    std::printf("%d\n", first > 0 ? first : last - (lyricWidth - 1));
    return 0;
}

// 8-bit RGB rows of a PNG file; empty when it cannot be read.
std::vector<unsigned char> readPngRgb(const char* path, std::uint32_t& width,
                                      std::uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    width = image.width;
    height = image.height;
    return rgb;
}

int checkStill(const char* grabPath, const char* stillPath, int k) {
    Xwd x;
    std::uint32_t w = 0, h = 0;
    const std::vector<unsigned char> still = readPngRgb(stillPath, w, h);
    if (!readXwd(grabPath, x) || still.empty()) {
        std::fprintf(stderr, "cannot read %s or %s\n", grabPath, stillPath);
        return 2;
    }
    const Grab grab{
        x.width,    x.height,
        x.redMask,  x.greenMask,
        x.blueMask, [&x](std::uint32_t px, std::uint32_t py) { return pixelAt(x, px, py); }};
    return compare(
        grab, int(w), int(h), k, [&](int fx, int fy, unsigned& r, unsigned& g, unsigned& b) {
            const unsigned char* p = still.data() + (std::size_t(fy) * w + std::size_t(fx)) * 3;
            r = p[0];
            g = p[1];
            b = p[2];
        });
}

// A white window over the whole screen, shown until the server has drawn
// it, then destroyed: what lay under it is exposed again.
int cover() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 2;
    const int screen = DefaultScreen(d);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(d, screen);
    const Window w =
        XCreateWindow(d, RootWindow(d, screen), 0, 0, unsigned(DisplayWidth(d, screen)),
                      unsigned(DisplayHeight(d, screen)), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XSelectInput(d, w, ExposureMask);
    XMapRaised(d, w);
    XEvent event;
    do XNextEvent(d, &event);
    while (event.type != Expose);
    XSync(d, False);
    XDestroyWindow(d, w);
    XCloseDisplay(d);
    return 0;
}

int sendClose(const char* id) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 2;
    const Window window = Window(std::strtoul(id, nullptr, 0));
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(d, window, False, NoEventMask, &event);
    XCloseDisplay(d); // flushes
    return sent ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pictures" && argc == 5)
        return writePictures(argv[2], atoi(argv[3]), atoi(argv[4]));
    if (command == "pictures" && argc == 6)
        return writePictures(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
    if (command == "lyricx" && argc == 7)
        return lyricX(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6]));
    if (command == "lyricx" && argc == 9)
        return lyricX(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6]),
                      atoi(argv[7]), atoi(argv[8]));
    if (command == "song" && argc == 4) return writeSong(argv[2], std::atof(argv[3]));
    if (command == "check" && (argc == 5 || argc == 6))
        return checkGrab(argv[2], atoi(argv[3]), atoi(argv[4]), argc == 6 ? atoi(argv[5]) : 1);
    if (command == "checkpng" && argc == 6)
        return checkPng(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
    if (command == "close" && argc == 3) return sendClose(argv[2]);
    if (command == "still" && argc == 5) return checkStill(argv[2], argv[3], atoi(argv[4]));
    if (command == "cover" && argc == 2) return cover();
    std::fprintf(stderr, "usage: kva_xhelper pictures DIR W H | song FILE SECONDS |"
                         " check FILE W H [K] | checkpng FILE W H K | close WINDOW-ID |"
                         " lyricx FILE W H K LW [X Y] |"
                         " still FILE STILL.png K | cover\n");
    return 2;
}
