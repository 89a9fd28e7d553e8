// Allocator for the 4 MiB of attack tables: aligned to 2 MiB and, on Linux,
// marked for transparent huge pages, so that table lookups scattered over the
// whole block do not each need their own TLB entry.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vemla {

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    static constexpr std::size_t ALIGNMENT = std::size_t{2} << 20;

    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = (n * sizeof(T) + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
        void* p = std::aligned_alloc(ALIGNMENT, bytes);
        if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        // Only advice: without huge pages the memory works just the same.
        madvise(p, bytes, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) { std::free(p); }

    template <typename U>
    bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
};

}  // namespace vemla
