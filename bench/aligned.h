// aligned.h -- pixel memory for the benchmarks, aligned to a cache line as
// the program's frame buffer and pictures are.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace bench {

template <class T> struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlign{64};
    CacheLineAllocator() = default;
    template <class U> CacheLineAllocator(const CacheLineAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kAlign); }
    template <class U> bool operator==(const CacheLineAllocator<U>&) const { return true; }
};

template <class T> using AlignedVector = std::vector<T, CacheLineAllocator<T>>;

} // namespace bench
