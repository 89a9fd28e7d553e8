// Legal move generation: candidates gathered group by group in a fixed order,
// then filtered. The reference filter makes each candidate and tests the
// mover's king; positions that legal_fast applies to are filtered there
// instead, with the same result.
#include "move_generator/mod.hpp"

#include <utility>

#include "move_generator/legal_fast.hpp"

namespace vemla {

namespace {

// get_k_moves: step moves of the k-pieces, kings or knights. Pieces in
// ascending square order, each trying its offsets in table order.
void get_k_moves(Bitboard pieces, Bitboard own, const std::array<Steps, 64>& steps, MoveList& list) {
    for (Bitboard b = pieces; b; b &= b - 1) {
        const int from = lsb(b);
        const Steps& s = steps[static_cast<std::size_t>(from)];
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

// Per-side constants of pawn moves.
struct PawnRules {
    int capture1, capture2, push;
    int promotion_rank, double_rank, ep_rank;
};
constexpr PawnRules WHITE_PAWNS{7, 9, 8, 6, 1, 4};
constexpr PawnRules BLACK_PAWNS{-7, -9, -8, 1, 6, 3};

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
    const auto& bb = board.bitboards;
    const Bitboard pieces = bb[static_cast<std::size_t>(own_base + kind)] |
                            bb[static_cast<std::size_t>(own_base + QUEEN)];
    const Bitboard occ = own | enemy;
    for (Bitboard b = pieces; b; b &= b - 1) {
        const int from = lsb(b);
        const Bitboard attacks = kind == ROOK ? rook_attacks(from, occ) : bishop_attacks(from, occ);
        for (Bitboard targets = attacks & ~own; targets; targets &= targets - 1)
            list.push(ChessMove::pack(from, lsb(targets)));
    }
}

void MoveGenerator::candidates(const Board& board, MoveList& list) const {
    const auto& bb = board.bitboards;
    const StateWord state = board.state();
    const Colour side = state.side_to_move();
    const bool white = side == WHITE;
    const int own_base = piece_of(side, PAWN);
    const Bitboard own = board.pieces(side);
    const Bitboard enemy = board.pieces(opposite(side));
    const auto piece = [&](Kind kind) { return bb[static_cast<std::size_t>(piece_of(side, kind))]; };

    list.size = 0;
    const Bitboard kings = piece(KING);
    get_k_moves(kings, own, KING_STEPS, list);

    // Castling, by the rows of the side to move: king side before queen side.
    const CastlingRules& castling = CASTLING_RULES[static_cast<std::size_t>(side)];
    if ((kings & square_bb(castling.king)) && !square_in_check(board, castling.king, side)) {
        for (const CastlingRow& row : castling.rows)
            if (state.may_castle(side, row.side) && can_castle(board, row, own, enemy)) list.push(row.move);
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

namespace {

// Makes a candidate, tests the mover's king, takes the candidate back. Without
// a king nothing can leave it attacked, so the candidate stays.
template <int KIND>
bool is_legal(const MoveGenerator& generator, Board& board, ChessMove move, Piece mover,
              std::size_t king, Colour side, Bitboard enemy) {
    if constexpr (KIND == ANY_KIND)
        board.push_move(move);
    else
        board.make_move<KIND>(move, mover, enemy);
    const Bitboard kings = board.bitboards[king];
    const bool attacked = kings && generator.square_in_check(board, lsb(kings), side);
    board.pop_move();
    return !attacked;
}

// Filters moves[begin, end) into moves[kept...], keeping their order.
template <int KIND>
int filter(const MoveGenerator& generator, Board& board, MoveList& list, int begin, int end,
           Piece mover, std::size_t king, Colour side, Bitboard enemy, int kept) {
    for (int i = begin; i < end; ++i) {
        const ChessMove move = list.moves[static_cast<std::size_t>(i)];
        list.moves[static_cast<std::size_t>(kept)] = move;
        kept += is_legal<KIND>(generator, board, move, mover, king, side, enemy);
    }
    return kept;
}

// The rook pass (LINE = ROOK) or bishop pass (LINE = BISHOP) holds the moves
// of those pieces and of queens; the from-square tells which.
template <int LINE>
int filter_sliders(const MoveGenerator& generator, Board& board, MoveList& list, int begin,
                   int end, std::size_t king, Colour side, Bitboard enemy, int kept) {
    const Piece line_piece = piece_of(side, static_cast<Kind>(LINE));
    const Piece queen = piece_of(side, QUEEN);
    const Bitboard line_pieces = board.bitboards[static_cast<std::size_t>(line_piece)];
    for (int i = begin; i < end; ++i) {
        const ChessMove move = list.moves[static_cast<std::size_t>(i)];
        list.moves[static_cast<std::size_t>(kept)] = move;
        const bool legal = (line_pieces & square_bb(move.from()))
                               ? is_legal<LINE>(generator, board, move, line_piece, king, side, enemy)
                               : is_legal<QUEEN>(generator, board, move, queen, king, side, enemy);
        kept += legal;
    }
    return kept;
}

}  // namespace

bool MoveGenerator::keeps_king_safe(Board& board, ChessMove move) const {
    // push_move finds the mover; the piece and enemy given here are not used.
    const Colour side = board.side_to_move();
    return is_legal<ANY_KIND>(*this, board, move, WHITE_PAWN, static_cast<std::size_t>(piece_of(side, KING)), side, 0);
}

void MoveGenerator::generate(Board& board, MoveList& legal) const {
    if (!legal_fast::applies(board)) return generate_reference(board, legal);
    candidates(board, legal);
    legal_fast::filter(*this, board, legal);
}

void MoveGenerator::generate_reference(Board& board, MoveList& legal) const {
    candidates(board, legal);
    const Colour side = board.side_to_move();
    const std::size_t king = static_cast<std::size_t>(piece_of(side, KING));

    // Each candidate is made with Board::push_move semantics. When no square
    // is held by two piece bitboards, the mover push_move would find is the
    // generating piece itself, so the search for it is skipped and the make
    // is specialised for the piece's kind; the result is the same.
    Bitboard seen = 0;
    Bitboard overlap = 0;
    for (std::size_t i = 0; i < 12; ++i) {
        overlap |= seen & board.bitboards[i];
        seen |= board.bitboards[i];
    }
    const Bitboard enemy = board.pieces(opposite(side));
    auto& ends = legal.group_end;
    if (overlap) {
        // The mover is found by push_move; the piece given here is not used.
        int kept = 0;
        int begin = 0;
        for (int& end : ends) {
            kept = filter<ANY_KIND>(*this, board, legal, begin, end, WHITE_PAWN, king, side, enemy, kept);
            begin = std::exchange(end, kept);
        }
        legal.size = kept;
        return;
    }
    int kept = filter<KING>(*this, board, legal, 0, ends[0], piece_of(side, KING), king, side, enemy, 0);
    int begin = std::exchange(ends[0], kept);
    kept = filter<KNIGHT>(*this, board, legal, begin, ends[1], piece_of(side, KNIGHT), king, side, enemy, kept);
    begin = std::exchange(ends[1], kept);
    kept = filter<PAWN>(*this, board, legal, begin, ends[2], piece_of(side, PAWN), king, side, enemy, kept);
    begin = std::exchange(ends[2], kept);
    kept = filter_sliders<ROOK>(*this, board, legal, begin, ends[3], king, side, enemy, kept);
    begin = std::exchange(ends[3], kept);
    kept = filter_sliders<BISHOP>(*this, board, legal, begin, ends[4], king, side, enemy, kept);
    ends[4] = kept;
    legal.size = kept;
}

bool MoveGenerator::has_legal_move(Board& board) const {
    MoveList list;
    generate(board, list);
    return list.size != 0;
}

}  // namespace vemla
