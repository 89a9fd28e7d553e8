// Reflection, the plane expansion, and the out-of-line failure of push_move.
#include "board/mod.hpp"
#include "failure.hpp"

#include <new>

namespace vemla {

namespace detail {

constexpr std::string_view SQUARE_NAMES[64] = {
    "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2",
    "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3", "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4",
    "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5", "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6",
    "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7", "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8",
};

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
    const std::uint64_t word = bitboards[STATE];
    const std::uint64_t side = (word & state::WHITE_TO_MOVE) ^ state::WHITE_TO_MOVE;
    // Castling K,Q (bits 1-2) trade places with k,q (bits 3-4); the two
    // en-passant groups trade places as blocks of eight.
    const std::uint64_t castling = ((word >> 2) & 0x6) | ((word << 2) & 0x18);
    const std::uint64_t ep = ((word >> 8) & (0xFFull << 5)) | ((word << 8) & (0xFFull << 13));
    bitboards[STATE] = (word & ~state::LOW_BITS) | side | castling | ep;

    // Moves made before the reflection can no longer be taken back.
    for (auto& stack : history) stack.release();
    undo_stack.release();
}

void expand_planes(const std::uint64_t* words, std::uint8_t* cells) {
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            cells[64 * p + k] = static_cast<std::uint8_t>((words[p] >> k) & 1);
}

}  // namespace vemla
