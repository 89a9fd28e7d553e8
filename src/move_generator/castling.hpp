// The castling rules of each colour: where the king must stand, the squares
// it crosses, the square beside the queen-side rook that must only be empty,
// and the move that is appended when a row passes; all read from the castling
// geometry (board/castling_geometry.hpp). The test itself is
// MoveGenerator::can_castle (castling.cpp).
//
// A Chess960 board's castling moves are the king's moves onto its own rook;
// their test is MoveGenerator::can_castle_chess960, on the board's own
// geometry (chess960_geometry of its castling files).
#pragma once

#include <array>

#include "board/bitboard.hpp"
#include "board/castling_geometry.hpp"
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

// Each colour's rows, from the castling geometry.
constexpr CastlingRow castling_row(Colour colour, CastlingSide side) {
    const CastlingGeometry& g = castling_geometry(colour, side);
    return {side, g.crossed, g.empty_only,
            ChessMove::pack(g.king_from, g.king_to, ChessMove::CASTLING)};
}
constexpr CastlingRules castling_rules_of(Colour colour) {
    return {castling_geometry(colour, KING_SIDE).king_from,
            {{castling_row(colour, KING_SIDE), castling_row(colour, QUEEN_SIDE)}}};
}

// Indexed by Colour. The rook is not looked for on its corner: the rights are
// trusted, and making a move clears them when a king or rook leaves home or a
// rook is captured there.
inline constexpr std::array<CastlingRules, 2> CASTLING_RULES = {
    {castling_rules_of(WHITE), castling_rules_of(BLACK)}};

inline constexpr const CastlingRules& castling_rules(Colour side) {
    return CASTLING_RULES[static_cast<std::size_t>(side)];
}

// The Chess960 castling move of one right: the king's move onto its rook.
constexpr ChessMove chess960_castling_move(const Chess960Geometry& g) {
    return ChessMove::pack(g.king_from, g.rook_from, ChessMove::CASTLING);
}

}  // namespace vemla
