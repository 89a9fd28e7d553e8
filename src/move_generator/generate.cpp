// Candidate moves, gathered group by group in a fixed order: king steps and
// castling, knights, pawns, the rook pass and the bishop pass. Which of them
// are legal is decided in legality.cpp.
#include "move_generator/mod.hpp"
#include "move_generator/pawn_rules.hpp"

#include "move_generator/legality.hpp"

namespace vemla {

namespace {

// get_k_moves: step moves of the k-pieces, kings or knights. Pieces in
// ascending square order, each trying its offsets in table order.
void get_k_moves(Bitboard pieces, Bitboard own, const std::array<Steps, 64>& steps,
                 MoveList& list) {
    for (Bitboard b = pieces; b; b &= b - 1) {
        const int from = lsb(b);
        const Steps& s = at(steps, from);
        for (int i = 0; i < s.count; ++i) {
            const int to = s.to[static_cast<std::size_t>(i)];
            if (!(own & square_bb(to))) list.push(ChessMove::pack(from, to));
        }
    }
}

void push_promotions(MoveList& list, int from, int to) {
    for (int special = ChessMove::PROMOTE_KNIGHT; special <= ChessMove::PROMOTE_QUEEN; ++special)
        list.push(ChessMove::pack(from, to, special));
}

// Each pawn in ascending order: first capture (or its promotions), first en
// passant, second capture, second en passant, push (or its promotions), double push.
void pawn_moves(Bitboard pawns, Bitboard own, Bitboard enemy, StateWord state,
                const PawnRules& rules, MoveList& list) {
    const Bitboard occ = own | enemy;
    const unsigned ep_files = state.en_passant_files();
    for (Bitboard b = pawns; b; b &= b - 1) {
        const int from = lsb(b);
        const int rank = rank_of(from);
        for (const int step : {rules.capture1, rules.capture2}) {
            if (!step_ok(from, step, 1)) continue;
            const int to = from + step;
            if (enemy & square_bb(to)) {
                if (rank == rules.promotion_rank)
                    push_promotions(list, from, to);
                else
                    list.push(ChessMove::pack(from, to));
            }
            // The state bit alone decides; the pawn to be taken is not looked for.
            if (rank == rules.ep_rank && ((ep_files >> file_of(to)) & 1))
                list.push(ChessMove::pack(from, to, ChessMove::EN_PASSANT));
        }
        const int to = from + rules.push;
        if (to < 0 || to > 63 || (occ & square_bb(to))) continue;
        if (rank == rules.promotion_rank) {
            push_promotions(list, from, to);
            continue;
        }
        list.push(ChessMove::pack(from, to));
        const int double_to = to + rules.push;
        if (rank == rules.double_rank && double_to >= 0 && double_to <= 63 &&
            !(occ & square_bb(double_to)))
            list.push(ChessMove::pack(from, double_to, ChessMove::DOUBLE_STEP));
    }
}

}  // namespace

void MoveGenerator::magic_moves(const Board& board, int own_base, Bitboard own, Bitboard enemy,
                                Kind kind, MoveList& list) const {
    const Bitboard pieces = board.word(static_cast<Piece>(own_base + kind)) |
                            board.word(static_cast<Piece>(own_base + QUEEN));
    const Bitboard occ = own | enemy;
    for (Bitboard b = pieces; b; b &= b - 1) {
        const int from = lsb(b);
        const Bitboard attacks = kind == ROOK ? rook_attacks(from, occ) : bishop_attacks(from, occ);
        for (Bitboard targets = attacks & ~own; targets; targets &= targets - 1)
            list.push(ChessMove::pack(from, lsb(targets)));
    }
}

void MoveGenerator::candidates(const Board& board, MoveList& list) const {
    const StateWord state = board.state();
    const Colour side = state.side_to_move();
    const bool white = side == WHITE;
    const int own_base = piece_of(side, PAWN);
    const Bitboard own = board.pieces(side);
    const Bitboard enemy = board.pieces(opposite(side));
    const auto piece = [&](Kind kind) { return board.pieces(side, kind); };

    list.size = 0;
    const Bitboard kings = piece(KING);
    get_k_moves(kings, own, KING_STEPS, list);

    // Castling, by the rows of the side to move: king side before queen side.
    if (board.chess960) [[unlikely]] {
        chess960_castling(board, own, enemy, list);
    } else {
        const CastlingRules& castling = castling_rules(side);
        if ((kings & square_bb(castling.king)) && !square_in_check(board, castling.king, side)) {
            for (const CastlingRow& row : castling.rows)
                if (state.may_castle(side, row.side) && can_castle(board, row, own, enemy))
                    list.push(row.move);
        }
    }

    list.group_end[0] = list.size;
    get_k_moves(piece(KNIGHT), own, KNIGHT_STEPS, list);
    list.group_end[1] = list.size;
    pawn_moves(piece(PAWN), own, enemy, state, white ? WHITE_PAWNS : BLACK_PAWNS, list);
    list.group_end[2] = list.size;
    magic_moves(board, own_base, own, enemy, ROOK, list);
    list.group_end[3] = list.size;
    magic_moves(board, own_base, own, enemy, BISHOP, list);
    list.group_end[4] = list.size;
}

void MoveGenerator::generate(Board& board, MoveList& legal) const {
    candidates(board, legal);
    legality::filter(*this, board, legal);
}

void MoveGenerator::generate_reference(Board& board, MoveList& legal) const {
    candidates(board, legal);
    legality::filter_reference(*this, board, legal);
}

bool MoveGenerator::has_legal_move(Board& board) const {
    MoveList list;
    generate(board, list);
    return list.size != 0;
}

}  // namespace vemla
