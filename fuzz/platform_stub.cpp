// platform_stub.cpp -- the message box for fuzz builds: text to stderr, no SDL.
#include "platform/platform.h"

#include <cstdio>

namespace platform {

void showMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
}

} // namespace platform
