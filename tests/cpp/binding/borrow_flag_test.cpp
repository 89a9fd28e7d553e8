// The per-object borrow flag: many shared borrows or one exclusive borrow.
#include <atomic>
#include <thread>

#include "binding/borrow_flag.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

TEST(BorrowFlag, SharedStackExclusiveExcludes) {
    BorrowFlag flag{0};
    for (std::uintptr_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(try_borrow_shared(flag));
        EXPECT_EQ(flag.load(), i);
    }
    EXPECT_FALSE(try_borrow_exclusive(flag));
    for (int i = 0; i < 3; ++i) release_shared(flag);
    ASSERT_TRUE(try_borrow_exclusive(flag));
    EXPECT_FALSE(try_borrow_shared(flag));
    EXPECT_FALSE(try_borrow_exclusive(flag));
    EXPECT_EQ(flag.load(), EXCLUSIVE);  // failed attempts change nothing
    release_exclusive(flag);
    EXPECT_EQ(flag.load(), 0u);
}

TEST(BorrowFlag, SharedCountNeverReachesExclusiveValue) {
    BorrowFlag flag{EXCLUSIVE - 2};
    EXPECT_TRUE(try_borrow_shared(flag));
    EXPECT_FALSE(try_borrow_shared(flag));
    EXPECT_EQ(flag.load(), EXCLUSIVE - 1);
    EXPECT_FALSE(try_borrow_exclusive(flag));
}

// A borrow held by one thread refuses the other thread's conflicting borrow
// and admits a compatible one. The threads take turns by handshake, so every
// conflict is certain to happen, whatever the scheduling.
TEST(BorrowFlag, HeldBorrowDecidesTheOtherThreadsBorrow) {
    BorrowFlag flag{0};
    std::atomic<int> step{0};
    const auto wait_for = [&](int value) {
        while (step.load() != value) std::this_thread::yield();
    };
    bool shared_refused = false, exclusive_refused = false, shared_taken = false;
    std::thread other([&] {
        wait_for(1);  // this thread holds the exclusive borrow
        shared_refused = !try_borrow_shared(flag);
        exclusive_refused = !try_borrow_exclusive(flag);
        step = 2;
        wait_for(3);  // free again
        shared_taken = try_borrow_shared(flag);
        step = 4;
        wait_for(5);
        release_shared(flag);
        step = 6;
    });
    EXPECT_TRUE(try_borrow_exclusive(flag));
    step = 1;
    wait_for(2);
    release_exclusive(flag);
    step = 3;
    wait_for(4);  // the other thread holds a shared borrow
    EXPECT_FALSE(try_borrow_exclusive(flag));
    EXPECT_TRUE(try_borrow_shared(flag));
    EXPECT_EQ(flag.load(), 2u);
    release_shared(flag);
    step = 5;
    wait_for(6);
    other.join();
    EXPECT_TRUE(shared_refused);
    EXPECT_TRUE(exclusive_refused);
    EXPECT_TRUE(shared_taken);
    EXPECT_EQ(flag.load(), 0u);
}

// Two threads take shared and exclusive borrows in turn as fast as they can
// and hold each for a moment. Each records what it holds; an exclusive holder
// must never see another holder, and a shared holder never an exclusive one.
// How often they collide depends on the scheduler; that collisions are
// refused at all is certain from the test above.
TEST(BorrowFlag, ExclusiveAndSharedNeverOverlap) {
    BorrowFlag flag{0};
    std::atomic<int> shared_holders{0}, exclusive_holders{0}, ready{0};
    std::atomic<long> overlaps{0}, shared_wins{0}, exclusive_wins{0};
    constexpr int ATTEMPTS = 200'000;

    // While holding, look again and again at what the other thread holds.
    const auto hold = [&](bool exclusive) {
        for (int spin = 0; spin < 16; ++spin) {
            const bool clash = exclusive
                                   ? exclusive_holders.load() != 1 || shared_holders.load() != 0
                                   : exclusive_holders.load() != 0;
            if (clash) ++overlaps;
        }
    };
    const auto worker = [&](int offset) {
        ready.fetch_add(1);
        while (ready.load() < 2) {}
        for (int i = 0; i < ATTEMPTS; ++i) {
            const bool exclusive = (i + offset) % 3 == 0;
            if (!(exclusive ? try_borrow_exclusive(flag) : try_borrow_shared(flag))) continue;
            (exclusive ? exclusive_holders : shared_holders).fetch_add(1);
            hold(exclusive);
            ++(exclusive ? exclusive_wins : shared_wins);
            (exclusive ? exclusive_holders : shared_holders).fetch_sub(1);
            exclusive ? release_exclusive(flag) : release_shared(flag);
        }
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();

    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(flag.load(), 0u);
    EXPECT_GT(exclusive_wins.load(), 0);
    EXPECT_GT(shared_wins.load(), 0);
}

}  // namespace
}  // namespace vemla::test
