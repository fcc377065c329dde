// aligned.h -- pixel memory for the benchmarks, starting on a page as the
// program's frame buffer, its pictures and a shared-memory window surface
// do. Left to malloc, two buffers' offsets within a page would follow the
// allocator's history, and with them the timings.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace bench {

template <class T> struct PageAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlign{4096};
    PageAllocator() = default;
    template <class U> PageAllocator(const PageAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kAlign); }
    template <class U> bool operator==(const PageAllocator<U>&) const { return true; }
};

template <class T> using AlignedVector = std::vector<T, PageAllocator<T>>;

} // namespace bench
