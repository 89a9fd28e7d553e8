// Reflection, the plane expansion, and the out-of-line failure of push_move.
#include "board/mod.hpp"
#include "failure.hpp"

#include <new>

namespace vemla {

namespace detail {

void no_piece(int from) {
    panic("no piece on " + std::string(SQUARE_NAMES[from]) + " to move");
}

void out_of_memory(Board& board, unsigned mask) {
    for (; mask; mask &= mask - 1) {
        const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
        board.bitboards[piece] = board.history[piece].back();
        board.history[piece].pop_back();
    }
    throw std::bad_alloc();
}

}  // namespace detail


void Board::reflect() {
    // Byte reversal mirrors top to bottom (square s -> s ^ 56).
    for (std::size_t kind = 0; kind < 6; ++kind) {
        const std::uint64_t white = bitboards[kind];
        bitboards[kind] = __builtin_bswap64(bitboards[kind + 6]);
        bitboards[kind + 6] = __builtin_bswap64(white);
    }
    bitboards[STATE] = state().reflected().bits;

    // Moves made before the reflection can no longer be taken back.
    for (auto& stack : history) stack.release();
    undo_stack.release();
}

void expand_planes(const std::uint64_t* words, Planes& cells) {
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            cells[64 * p + k] = static_cast<std::uint8_t>((words[p] >> k) & 1);
}

}  // namespace vemla
