// The Polyglot position key: the 64-bit key under which opening books in the
// Polyglot format file their moves.
#pragma once

#include <cstddef>

#include "polyglot/random.hpp"

namespace vemla {

inline constexpr std::size_t POLYGLOT_CASTLING = 768;
inline constexpr std::size_t POLYGLOT_EN_PASSANT = 772;
inline constexpr std::size_t POLYGLOT_TURN = 780;

// The format numbers the pieces black pawn, white pawn, black knight, ...,
// white king: 2 * kind, plus 1 for White.
constexpr std::size_t polyglot_piece(int piece) {
    const int kind = piece % 6;
    const bool white = piece < 6;
    return static_cast<std::size_t>(2 * kind + white);
}

}  // namespace vemla
