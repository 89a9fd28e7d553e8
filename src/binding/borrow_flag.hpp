// The per-object access guard: any number of shared borrows, or one exclusive
// borrow. Changed only by compare-and-swap, so a conflicting borrow fails at
// once instead of waiting or corrupting the payload. No Python here: the
// binding turns a failed borrow into RuntimeError.
#pragma once

#include <atomic>
#include <cstdint>

namespace vemla {

using BorrowFlag = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};

// Fails while an exclusive borrow is active.
inline bool try_borrow_shared(BorrowFlag& flag) {
    std::uintptr_t current = flag.load();
    do {
        if (current == EXCLUSIVE || current == EXCLUSIVE - 1) return false;
    } while (!flag.compare_exchange_weak(current, current + 1));
    return true;
}

inline void release_shared(BorrowFlag& flag) { flag.fetch_sub(1); }

// Fails unless the flag is free.
inline bool try_borrow_exclusive(BorrowFlag& flag) {
    std::uintptr_t expected = 0;
    return flag.compare_exchange_strong(expected, EXCLUSIVE);
}

inline void release_exclusive(BorrowFlag& flag) { flag.store(0); }

}  // namespace vemla
