// The legal move a move text names. Move text gives a move's squares and, for
// a promotion, its piece; the generator's codes also tell castling, en passant
// and double steps apart, which the text leaves to the position. Every path
// that looks up the move a text stands for in a list of legal moves asks
// these two.
#pragma once

#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"

namespace vemla {

// Whether the two moves are written alike: same squares, and the same
// promotion piece or none. The generator's special codes for castling, en
// passant and double steps are not part of the text.
constexpr bool same_text(ChessMove a, ChessMove b) {
    const auto key = [](ChessMove m) {
        return (m.value & 0xFFF) | (m.is_promotion() ? m.special() << 12 : 0);
    };
    return key(a) == key(b);
}

// The move of list written like move, or nullptr if there is none. Where the
// list holds it twice (a capture onto an en-passant square that holds an
// enemy piece comes as a capture and as en passant, a position only a FEN can
// give: the two make the same change), the one with move's own code, else
// the first.
inline const ChessMove* find_legal(const MoveList& list, ChessMove move) {
    const ChessMove* found = nullptr;
    for (const ChessMove& m : list) {
        if (!same_text(m, move)) continue;
        if (m == move) return &m;
        if (!found) found = &m;
    }
    return found;
}

}  // namespace vemla
