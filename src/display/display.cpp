// display.cpp -- placeholder until the display lands: frames go nowhere.
#include "display/display.h"

namespace display {

std::int32_t openDisplay(const char*, std::int32_t, std::int32_t) {
    return 1;
}
std::int32_t presentFrame(const canvas::PixelWord*) {
    return 1;
}
void closeDisplay() {}

} // namespace display
