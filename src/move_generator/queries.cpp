// Single-move queries.
#include "move_generator/queries.hpp"

#include "board/facts.hpp"
#include "move_generator/legality.hpp"
#include "move_generator/pawn_rules.hpp"

namespace vemla {

namespace {

bool pawn_candidate(const Board& board, ChessMove move, Bitboard own, Bitboard enemy) {
    const StateWord state = board.state();
    const PawnRules& steps = state.white_to_move() ? WHITE_PAWNS : BLACK_PAWNS;
    const int from = move.from();
    const int to = move.to();
    const int rank = rank_of(from);
    // From the promotion rank every move promotes, and no other move does.
    if (move.is_promotion() != (rank == steps.promotion_rank)) return false;
    const Bitboard to_bb = square_bb(to);
    for (const int step : {steps.capture1, steps.capture2}) {
        if (!step_ok(from, step, 1) || from + step != to) continue;
        if (enemy & to_bb) return true;
        return rank == steps.ep_rank && ((state.en_passant_files() >> file_of(to)) & 1);
    }
    const Bitboard occ = own | enemy;
    const int push_to = from + steps.push;
    if (push_to < 0 || push_to > 63 || (occ & square_bb(push_to))) return false;
    if (to == push_to) return true;
    return rank == steps.double_rank && to == push_to + steps.push && !(occ & to_bb);
}

// Whether move is among the generator's candidates (before the legality
// filter). Requires legality::fast_path_applies(board): no stacked pieces, so the
// piece on the from-square is the only one there.
bool is_candidate(const MoveGenerator& generator, const Board& board, ChessMove move) {
    const Colour side = board.side_to_move();
    const Bitboard own = board.pieces(side);
    const Bitboard enemy = board.pieces(opposite(side));
    const int from = move.from();
    const int to = move.to();
    const int mover = piece_on(board, from);
    if (mover < 0 || colour_of(static_cast<Piece>(mover)) != side) return false;
    const Kind kind = kind_of(static_cast<Piece>(mover));
    if (kind == PAWN) return pawn_candidate(board, move, own, enemy);

    const Bitboard to_bb = square_bb(to);
    if (kind == KING && board.chess960 && !move.is_promotion()) {
        for (const CastlingSide castling : {KING_SIDE, QUEEN_SIDE}) {
            // The files of a lost right mean nothing: the move is a king step.
            if (!board.state().may_castle(side, castling)) continue;
            const Chess960Geometry g = chess960_geometry(board.castling_files, side, castling);
            if (from == g.king_from && to == g.rook_from)
                return generator.can_castle_chess960(board, castling, own, enemy);
        }
    }
    if (move.is_promotion() || (own & to_bb)) return false;
    const Bitboard occ = own | enemy;
    switch (kind) {
        case KNIGHT: return at(KNIGHT_ATTACKS, from) & to_bb;
        case BISHOP: return generator.bishop_attacks(from, occ) & to_bb;
        case ROOK: return generator.rook_attacks(from, occ) & to_bb;
        case QUEEN:
            return (generator.rook_attacks(from, occ) | generator.bishop_attacks(from, occ)) &
                   to_bb;
        case KING: break;
        case PAWN: return false;
    }
    if (at(KING_ATTACKS, from) & to_bb) return true;
    if (board.chess960) return false;
    const CastlingRules& castling = castling_rules(side);
    if (from != castling.king || generator.square_in_check(board, from, side)) return false;
    for (const CastlingRow& row : castling.rows)
        if (row.move.to() == to)
            return board.state().may_castle(side, row.side) &&
                   generator.can_castle(board, row, own, enemy);
    return false;
}

}  // namespace

bool move_is_legal_reference(const MoveGenerator& generator, Board& board, ChessMove move) {
    MoveList legal;
    generator.generate(board, legal);
    return find_legal(legal, move) != nullptr;
}

bool move_is_legal(const MoveGenerator& generator, Board& board, ChessMove move) {
    if (!legality::fast_path_applies(board)) return move_is_legal_reference(generator, board, move);
    return is_candidate(generator, board, move) &&
           legality::keeps_king_safe(generator, board, move);
}

bool move_is_capture(const Board& board, ChessMove move) {
    const int mover = piece_on(board, move.from());
    if (mover < 0) return false;
    const Piece piece = static_cast<Piece>(mover);
    const int to = move.to();
    if (board.pieces(opposite(colour_of(piece))) & square_bb(to)) return true;
    if (kind_of(piece) != PAWN || file_of(to) == file_of(move.from())) return false;
    // En passant: the pawn taken stands behind the destination, as seen by
    // the side to move (the square push_move clears).
    const Colour side = board.side_to_move();
    const int taken = StateWord::en_passant_victim(to, side);
    return board.word(side == WHITE ? BLACK_PAWN : WHITE_PAWN) & square_bb(taken);
}

bool move_gives_check(const MoveGenerator& generator, Board& board, ChessMove move) {
    if (piece_on(board, move.from()) < 0) return false;
    board.push_move(move);
    const bool check = generator.is_check(board);
    board.pop_move();
    return check;
}

char piece_letter_at(const Board& board, int square) {
    const int piece = piece_on(board, square);
    return piece < 0 ? '\0' : PIECE_LETTERS[piece];
}

}  // namespace vemla
