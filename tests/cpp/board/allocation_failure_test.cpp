// Native allocation failure: make/unmake either completes or leaves the board
// exactly as it was. Allocation is made to fail through a replaced global
// operator new that refuses while `refuse_allocations` is set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"

namespace {
bool refuse_allocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (refuse_allocations) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return refuse_allocations ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace vemla;

// The undo stack full to its capacity while the pawns' history has room, so
// that a pawn move can save the pawns but must grow the undo stack.
Board board_with_full_stacks() {
    Board board = Board::from_fen(DEFAULT_FEN);
    board.push_move(ChessMove::from_str("e2e3"));
    board.pop_move();
    const auto there = ChessMove::from_str("g1f3");
    const auto back = ChessMove::from_str("f3g1");
    for (int i = 0; board.undo_stack.size() < board.undo_stack.capacity() || i == 0; ++i)
        board.push_move(i % 2 ? back : there);
    return board;
}

TEST(AllocationFailure, PushMoveThatCannotGrowItsStacksChangesNothing) {
    Board board = board_with_full_stacks();
    const Board before = board;
    const auto move = ChessMove::from_str("e2e4");
    refuse_allocations = true;
    EXPECT_THROW(board.push_move(move), std::bad_alloc);
    refuse_allocations = false;
    EXPECT_EQ(board, before);
    board.push_move(move);  // and works once memory is there
    board.pop_move();
    EXPECT_EQ(board, before);
}

// Trying candidates on the board may need room on its stacks; deciding
// legality from the position needs none.
TEST(AllocationFailure, GeneratorThatCannotGrowTheStacksLeavesTheBoardUnchanged) {
    const MoveGenerator generator;
    Board board = board_with_full_stacks();
    const Board before = board;
    MoveList moves;
    refuse_allocations = true;
    EXPECT_THROW(generator.generate_reference(board, moves), std::bad_alloc);
    EXPECT_EQ(board, before);
    EXPECT_NO_THROW(generator.generate(board, moves));
    refuse_allocations = false;
    EXPECT_EQ(board, before);
    MoveList reference;
    generator.generate_reference(board, reference);
    EXPECT_TRUE(std::equal(moves.begin(), moves.end(), reference.begin(), reference.end()));
}

}  // namespace
