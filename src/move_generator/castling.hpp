// The castling rows of each colour: where the king must stand, the squares
// it crosses, the square beside the queen-side rook that must only be empty,
// and the move that is appended when a row passes.
#pragma once

#include <array>

#include "board/bitboard.hpp"
#include "board/piece.hpp"
#include "board/square.hpp"
#include "board/state_word.hpp"
#include "chess_move/mod.hpp"

namespace vemla {

struct CastlingRow {
    CastlingSide side;              // the castling right the row needs
    std::array<Square, 2> crossed;  // must be empty and not attacked, tested in this order
    Bitboard empty_only;            // must be empty but may be attacked (0: no such square)
    ChessMove move;
};

struct CastlingRules {
    Square king;                      // the king's home square; it must not be attacked
    std::array<CastlingRow, 2> rows;  // king side first: that is the order of the moves
};

// Indexed by Colour. The rook is not looked for on its corner: the rights are
// trusted, and making a move clears them when a king or rook leaves home or a
// rook is captured there.
inline constexpr std::array<CastlingRules, 2> CASTLING_RULES = {{
    {E1,
     {{{KING_SIDE, {F1, G1}, 0, ChessMove::pack(E1, G1, ChessMove::CASTLING)},
       {QUEEN_SIDE, {C1, D1}, square_bb(B1), ChessMove::pack(E1, C1, ChessMove::CASTLING)}}}},
    {E8,
     {{{KING_SIDE, {F8, G8}, 0, ChessMove::pack(E8, G8, ChessMove::CASTLING)},
       {QUEEN_SIDE, {C8, D8}, square_bb(B8), ChessMove::pack(E8, C8, ChessMove::CASTLING)}}}},
}};

inline constexpr const CastlingRules& castling_rules(Colour side) {
    return CASTLING_RULES[static_cast<std::size_t>(side)];
}

}  // namespace vemla
