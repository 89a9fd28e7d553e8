// The out-of-line failures of push_move: no piece to move, and a history
// stack that cannot grow.
#include "board/mod.hpp"
#include "failure.hpp"

#include <bit>
#include <cstring>
#include <new>

namespace vemla {

namespace detail {

void no_piece(int from) { panic("no piece on " + std::string(SQUARE_NAMES[from]) + " to move"); }

void out_of_memory(Board& board, unsigned mask) {
    for (; mask; mask &= mask - 1) {
        const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
        board.bitboards[piece] = board.history[piece].back();
        board.history[piece].pop_back();
    }
    throw std::bad_alloc();
}

}  // namespace detail

}  // namespace vemla
