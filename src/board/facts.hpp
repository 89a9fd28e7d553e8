// Facts about a position that several rules ask: whether pieces are stacked,
// how many kings a side has, which piece stands on a square. Each is written
// here once; the move generator, SAN, the queries and the encodings ask these.
#pragma once

#include "board/mod.hpp"

namespace vemla {

// Exactly one square; without relying on a population-count instruction:
// b & (b - 1) clears the lowest set bit, which leaves nothing only if it was
// the only one.
constexpr bool single(Bitboard b) { return b && !(b & (b - 1)); }

// True when no square is held by two piece bitboards (pieces stack only after
// illegal moves). Bit tests only, for the same reason as single().
inline bool no_square_held_twice(const Board& board) {
    const auto& bb = board.bitboards;
    Bitboard seen = 0;
    Bitboard overlap = 0;
#pragma GCC unroll 12
    for (std::size_t i = 0; i < 12; ++i) {
        overlap |= seen & bb[i];
        seen |= bb[i];
    }
    return !overlap;
}

// Whether colour has exactly one king.
inline bool one_king(const Board& board, Colour colour) {
    return single(board.pieces(colour, KING));
}

// The first piece bitboard holding sq, which is the mover Board::push_move
// chooses and the letter fen() writes; -1 for an empty square.
inline int piece_on(const Board& board, int sq) {
    const Bitboard bb = square_bb(sq);
    for (int piece = 0; piece < 12; ++piece)
        if (board.word(static_cast<Piece>(piece)) & bb) return piece;
    return -1;
}

// The kind of colour's piece on sq (the first of its six bitboards holding
// it), or -1 if it has none there.
inline int kind_on(const Board& board, Colour colour, int sq) {
    const Bitboard bit = square_bb(sq);
    const std::size_t base = static_cast<std::size_t>(piece_of(colour, PAWN));
    for (int kind = PAWN; kind <= KING; ++kind)
        if (board.bitboards[base + static_cast<std::size_t>(kind)] & bit) return kind;
    return -1;
}

// Whether colour has a piece of kind on sq.
inline bool holds(const Board& board, Colour colour, Kind kind, int sq) {
    return (board.pieces(colour, kind) >> sq) & 1;
}

}  // namespace vemla
