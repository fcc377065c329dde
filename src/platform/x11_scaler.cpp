// x11_scaler.cpp -- frames enlarged by the X server through RENDER. libXrender
// is looked up at run time, as SDL itself does: without it (or without the
// extension) the SDL layer enlarges the frame itself.
#include "platform/x11_scaler.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

namespace platform {

namespace {

constexpr std::int64_t kOne = 65536; // 1.0 in the server's 16.16 fixed point

std::int64_t inverseFixed(std::int32_t factor) {
    return kOne / factor; // what XDoubleToFixed(1.0 / factor) gives
}

// Destination pixel d's centre, transformed and rounded to 16.16.
std::int64_t transformedCentre(std::int32_t factor, std::int32_t d) {
    return (std::int64_t(d) * kOne + kOne / 2) * inverseFixed(factor) / kOne;
}

// The centre floored less one unit, as the nearest filter does; `slack`
// units either way cover the server's rounding of the product.
bool samplesExactly(std::int32_t factor, std::int32_t d, std::int64_t slack) {
    const std::int64_t centre = transformedCentre(factor, d);
    for (std::int64_t v = centre - slack; v <= centre + slack; ++v)
        if ((v - 1) / kOne != d / factor) return false;
    return true;
}

} // namespace

std::int32_t serverSample(std::int32_t factor, std::int32_t d) {
    return std::int32_t((transformedCentre(factor, d) - 1) / kOne);
}

bool serverScalingExact(std::int32_t factor, std::int32_t width, std::int32_t height) {
    if (factor < 1 || width < 1 || height < 1) return false;
    const std::int32_t longest = width > height ? width : height;
    if (std::int64_t(longest) * factor > 32767) return false; // the server's coordinates are 16-bit
    for (std::int32_t d = 0; d < longest * factor; ++d)
        if (!samplesExactly(factor, d, 2)) return false;
    return true;
}

struct X11Scaler::Parts {
    void* library = nullptr;
    Display* display = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    std::int32_t width = 0, height = 0, bytesPerPixel = 0, factor = 1;
    Pixmap pixmap = 0;
    GC gc = nullptr;
    Picture source = 0, target = 0;

    decltype(&XRenderQueryExtension) queryExtension = nullptr;
    decltype(&XRenderFindVisualFormat) findVisualFormat = nullptr;
    decltype(&XRenderCreatePicture) createPicture = nullptr;
    decltype(&XRenderFreePicture) freePicture = nullptr;
    decltype(&XRenderSetPictureTransform) setTransform = nullptr;
    decltype(&XRenderSetPictureFilter) setFilter = nullptr;
    decltype(&XRenderComposite) composite = nullptr;

    bool load() {
        library = dlopen("libXrender.so.1", RTLD_LAZY | RTLD_LOCAL);
        if (!library) return false;
        const auto find = [this](auto& entry, const char* name) {
            entry =
                reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, name));
            return entry != nullptr;
        };
        return find(queryExtension, "XRenderQueryExtension") &&
               find(findVisualFormat, "XRenderFindVisualFormat") &&
               find(createPicture, "XRenderCreatePicture") &&
               find(freePicture, "XRenderFreePicture") &&
               find(setTransform, "XRenderSetPictureTransform") &&
               find(setFilter, "XRenderSetPictureFilter") && find(composite, "XRenderComposite");
    }

    // The frame's rows as an image of the window's layout; the data stays ours.
    XImage* image(const unsigned char* frame, std::int32_t pitch) {
        return XCreateImage(display, visual, unsigned(depth), ZPixmap, 0,
                            reinterpret_cast<char*>(const_cast<unsigned char*>(frame)),
                            unsigned(width), unsigned(height), 32, pitch);
    }

    bool build(Window window) {
        XWindowAttributes attributes;
        int event = 0, error = 0;
        if (!queryExtension(display, &event, &error) ||
            !XGetWindowAttributes(display, window, &attributes))
            return false;
        visual = attributes.visual;
        depth = attributes.depth;
        const XRenderPictFormat* format = findVisualFormat(display, visual);
        if (!format) return false;
        // The image must read the frame's bytes as they are.
        std::vector<unsigned char> probe(std::size_t(bytesPerPixel) * std::size_t(width) * 2);
        XImage* layout = image(probe.data(), bytesPerPixel * width);
        if (!layout) return false;
        const bool same = layout->bits_per_pixel == bytesPerPixel * 8;
        layout->data = nullptr;
        XDestroyImage(layout);
        if (!same) return false;

        pixmap = XCreatePixmap(display, window, unsigned(width), unsigned(height), unsigned(depth));
        gc = XCreateGC(display, pixmap, 0, nullptr);
        source = createPicture(display, pixmap, format, 0, nullptr);
        target = createPicture(display, window, format, 0, nullptr);
        const XFixed scale = XFixed(inverseFixed(factor));
        XTransform transform{{{scale, 0, 0}, {0, scale, 0}, {0, 0, XFixed(kOne)}}};
        setTransform(display, source, &transform);
        setFilter(display, source, const_cast<char*>(FilterNearest), nullptr, 0);
        XSync(display, False);
        return true;
    }

    ~Parts() {
        if (display) {
            if (source) freePicture(display, source);
            if (target) freePicture(display, target);
            if (gc) XFreeGC(display, gc);
            if (pixmap) XFreePixmap(display, pixmap);
            XSync(display, False);
        }
        if (library) dlclose(library);
    }
};

X11Scaler::X11Scaler(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
X11Scaler::~X11Scaler() = default;

std::unique_ptr<X11Scaler> X11Scaler::create(void* display, unsigned long window,
                                             std::int32_t width, std::int32_t height,
                                             std::int32_t bytesPerPixel, std::int32_t factor) {
    const char* wanted = std::getenv("KVA_X11_RENDER");
    if ((wanted && std::strcmp(wanted, "0") == 0) || !display || !window || factor < 2 ||
        !serverScalingExact(factor, width, height))
        return nullptr;
    auto parts = std::make_unique<Parts>();
    parts->width = width;
    parts->height = height;
    parts->bytesPerPixel = bytesPerPixel;
    parts->factor = factor;
    if (!parts->load()) return nullptr;
    parts->display = static_cast<Display*>(display);
    if (!parts->build(Window(window))) return nullptr;
    return std::unique_ptr<X11Scaler>(new X11Scaler(std::move(parts)));
}

void X11Scaler::present(const unsigned char* frame, std::int32_t pitch, std::int32_t first,
                        std::int32_t end, std::int32_t x, std::int32_t y) {
    Parts& p = *parts_;
    if (first >= end) return;
    XImage* rows = p.image(frame, pitch);
    if (!rows) return;
    XPutImage(p.display, p.pixmap, p.gc, rows, 0, first, 0, first, unsigned(p.width),
              unsigned(end - first));
    rows->data = nullptr; // the frame is not the image's to free
    XDestroyImage(rows);
    const int k = p.factor;
    p.composite(p.display, PictOpSrc, p.source, 0, p.target, 0, first * k, 0, 0, x, y + first * k,
                unsigned(p.width * k), unsigned((end - first) * k));
    // On the screen when this returns, as after SDL's own update: whoever
    // looks next sees this frame, and a slow server holds the show up.
    XSync(p.display, False);
}

} // namespace platform
