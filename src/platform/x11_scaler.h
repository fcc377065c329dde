// x11_scaler.h -- the X server enlarges the frame: changed rows go to a
// pixmap of the frame's own size, and the RENDER extension draws them onto
// the window scaled by a whole factor with nearest-pixel sampling. The
// show then sends a factor squared fewer bytes than it would enlarged, and
// a server that draws with a graphics processor does the enlarging there.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// True when the server's 16.16 fixed-point transform of 1/factor still
// samples every destination pixel of a width x height frame, enlarged by
// factor, from the source pixel a whole-number enlargement would (the
// rounding error of 1/factor grows along the row). Powers of two are exact.
bool serverScalingExact(std::int32_t factor, std::int32_t width, std::int32_t height);

// The source pixel the server samples for destination pixel `d` under that
// transform, as its nearest-pixel filter computes it.
std::int32_t serverSample(std::int32_t factor, std::int32_t d);

class X11Scaler {
  public:
    // A scaler for a width x height frame of bytesPerPixel bytes in the
    // window's own layout, enlarged by factor; none where the server lacks
    // RENDER, libXrender cannot be loaded, the layout does not match the
    // window's, the scaling would not be exact, or KVA_X11_RENDER is 0.
    // display is the X connection (Display*), window the X window.
    static std::unique_ptr<X11Scaler> create(void* display, unsigned long window,
                                             std::int32_t width, std::int32_t height,
                                             std::int32_t bytesPerPixel, std::int32_t factor);
    ~X11Scaler();
    X11Scaler(const X11Scaler&) = delete;
    X11Scaler& operator=(const X11Scaler&) = delete;

    // Sends rows [first, end) of the frame (pitch bytes a row) and draws
    // them enlarged with the frame's top left at (x, y) on the window.
    void present(const unsigned char* frame, std::int32_t pitch, std::int32_t first,
                 std::int32_t end, std::int32_t x, std::int32_t y);

    struct Parts; // the X objects and the library's entry points

  private:
    explicit X11Scaler(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

} // namespace platform
