// Where castling puts the king and the rook: for each colour and side, the
// squares they start on and land on, the squares the king crosses and the one
// square only the rook crosses. This is the only table of castling's squares:
// the move generator's castling rules, making and taking back castling,
// SAN's O-O and O-O-O, the policy encodings and the opening book read it.
#pragma once

#include <array>

#include "board/bitboard.hpp"
#include "board/piece.hpp"
#include "board/square.hpp"
#include "board/state_word.hpp"

namespace vemla {

struct CastlingGeometry {
    Square king_from, king_to;
    Square rook_from, rook_to;
    // The squares the king crosses, king_to among them, in the order the
    // castling test looks at them: each must be empty and not attacked.
    std::array<Square, 2> crossed;
    // The square beside the queen-side rook, which it crosses alone: it must
    // be empty but may be attacked (0 on the king side).
    Bitboard empty_only;
};

// Indexed [colour][side]: White first, the king side first.
inline constexpr std::array<std::array<CastlingGeometry, 2>, 2> CASTLING_GEOMETRY = {{
    {{{E1, G1, H1, F1, {F1, G1}, 0}, {E1, C1, A1, D1, {C1, D1}, square_bb(B1)}}},
    {{{E8, G8, H8, F8, {F8, G8}, 0}, {E8, C8, A8, D8, {C8, D8}, square_bb(B8)}}},
}};

constexpr const CastlingGeometry& castling_geometry(Colour colour, CastlingSide side) {
    return CASTLING_GEOMETRY[static_cast<std::size_t>(colour)][static_cast<std::size_t>(side)];
}

// The side a king move along its rank castles to: the king side lies toward
// the h-file.
constexpr CastlingSide castling_side_toward(int from, int to) {
    return file_of(to) > file_of(from) ? KING_SIDE : QUEEN_SIDE;
}

// The file the king lands on when castling to side, and the side whose king
// lands on the file of `to` (the queen side for any other file).
constexpr int castling_king_file(CastlingSide side) {
    return file_of(castling_geometry(WHITE, side).king_to);
}
constexpr CastlingSide castling_side_landing_on(int to) {
    return file_of(to) == castling_king_file(KING_SIDE) ? KING_SIDE : QUEEN_SIDE;
}

// How far the king moves along its rank when castling to side (signed).
constexpr int castling_king_step(CastlingSide side) {
    const CastlingGeometry& g = castling_geometry(WHITE, side);
    return g.king_to - g.king_from;
}

static_assert(castling_king_step(KING_SIDE) == 2 && castling_king_step(QUEEN_SIDE) == -2);
static_assert(castling_king_file(KING_SIDE) == 6 && castling_king_file(QUEEN_SIDE) == 2);

}  // namespace vemla
