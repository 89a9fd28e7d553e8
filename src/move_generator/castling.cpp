// The castling test of the candidate gathering (the attack test it asks is
// MoveGenerator::attackers, inline in mod.hpp).
#include "move_generator/mod.hpp"

namespace vemla {

bool MoveGenerator::can_castle(const Board& board, const CastlingRow& row, Bitboard own,
                               Bitboard enemy) const {
    const Bitboard occ = own | enemy;
    const Colour side = board.side_to_move();
    for (const Square sq : row.crossed) {
        if (occ & square_bb(sq)) return false;
        if (square_in_check(board, sq, side)) return false;
    }
    return !(occ & row.empty_only);
}

}  // namespace vemla
