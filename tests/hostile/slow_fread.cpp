// slow_fread.cpp -- preloaded into kva by the start-up tests: every large
// fread (the asset store reads big files in pieces of a megabyte) takes
// 150 ms more, as from a slow network disk. Small reads stay fast.
#include <dlfcn.h>

#include <cstdio>
#include <ctime>

extern "C" std::size_t fread(void* data, std::size_t size, std::size_t count, std::FILE* file) {
    using Fread = std::size_t (*)(void*, std::size_t, std::size_t, std::FILE*);
    static const auto real = reinterpret_cast<Fread>(dlsym(RTLD_NEXT, "fread"));
    if (size * count >= 512 * 1024) {
        const timespec pause = {0, 150 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return real(data, size, count, file);
}
