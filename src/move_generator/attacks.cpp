// The queen-side castling test (the attack test itself is inline in mod.hpp).
#include "move_generator/mod.hpp"

namespace vemla {

bool MoveGenerator::crossing_is_safe(const Board& board, const std::array<int, 2>& squares,
                                     Bitboard occ) const {
    const Colour side = board.side_to_move();
    for (const int sq : squares) {
        if (occ & square_bb(sq)) return false;
        if (square_in_check(board, sq, side)) return false;
    }
    return true;
}

bool MoveGenerator::can_castle(const Board& board, const std::array<int, 2>& squares, Bitboard own,
                               Bitboard enemy, int extra) const {
    const Bitboard occ = own | enemy;
    // The square next to the rook must be empty but may be attacked.
    return crossing_is_safe(board, squares, occ) && !(occ & square_bb(extra));
}

}  // namespace vemla
