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

bool MoveGenerator::can_castle_chess960(const Board& board, CastlingSide side, Bitboard own,
                                       Bitboard enemy) const {
    const Colour colour = board.side_to_move();
    if (!board.state().may_castle(colour, side)) return false;
    const Chess960Geometry g = chess960_geometry(board.castling_files, colour, side);
    if (!(board.pieces(colour, KING) & square_bb(g.king_from)) ||
        !(board.pieces(colour, ROOK) & square_bb(g.rook_from)))
        return false;
    const Bitboard occ = own | enemy;
    if (occ & g.must_be_empty) return false;
    // No square of the king's path, its start and landing square included,
    // may be attacked, with the castling rook lifted: a rook that only
    // shields the landing square along the rank (an enemy rook or queen
    // beyond it) leaves that square once castling is made. A ray through the
    // king's own square would be a check, refused at the start square.
    const Bitboard seen = occ & ~square_bb(g.rook_from);
    for (Bitboard path = g.king_path; path; path &= path - 1)
        if (attackers(board, lsb(path), seen, opposite(colour))) return false;
    return true;
}

void MoveGenerator::chess960_castling(const Board& board, Bitboard own, Bitboard enemy,
                                      MoveList& list) const {
    const Colour colour = board.side_to_move();
    for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE})
        if (can_castle_chess960(board, side, own, enemy))
            list.push(chess960_castling_move(chess960_geometry(board.castling_files, colour, side)));
}

}  // namespace vemla
