// The attack test and the castling rules.
#include "move_generator/mod.hpp"

namespace vemla {

bool MoveGenerator::square_in_check(const Board& board, int sq, unsigned side) const {
    const auto& bb = board.bitboards;
    const auto s = static_cast<std::size_t>(sq);
    const bool black_attacks = side == 1;
    const std::size_t base = black_attacks ? 6 : 0;
    if (KNIGHT_ATTACKS[s] & bb[base + KNIGHT]) return true;
    const Bitboard pawn_squares = black_attacks ? BLACK_PAWN_ATTACKERS[s] : WHITE_PAWN_ATTACKERS[s];
    if (pawn_squares & bb[base + PAWN]) return true;
    if (KING_ATTACKS[s] & bb[base + KING]) return true;
    const Bitboard occ = bb[0] | bb[1] | bb[2] | bb[3] | bb[4] | bb[5] | bb[6] | bb[7] | bb[8] |
                         bb[9] | bb[10] | bb[11];
    if (rook_attacks(sq, occ) & (bb[base + ROOK] | bb[base + QUEEN])) return true;
    return bishop_attacks(sq, occ) & (bb[base + BISHOP] | bb[base + QUEEN]);
}

bool MoveGenerator::can_castle(const Board& board, const std::array<int, 2>& squares, Bitboard own,
                               Bitboard enemy, int extra) const {
    const Bitboard occ = own | enemy;
    const unsigned side = board.bitboards[STATE] & 1;
    for (const int sq : squares) {
        if (occ & square_bb(sq)) return false;
        if (square_in_check(board, sq, side)) return false;
    }
    // The square next to the rook must be empty but may be attacked.
    return !(occ & square_bb(extra));
}

}  // namespace vemla
