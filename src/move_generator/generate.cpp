// Legal move generation: candidates gathered group by group in a fixed order,
// then filtered. The reference filter makes each candidate and tests the
// mover's king; positions that legal_fast applies to are filtered there
// instead, with the same result.
#include "move_generator/mod.hpp"

#include <utility>

#include "move_generator/legal_fast.hpp"

namespace vemla {

namespace {

// Step moves of kings or knights: pieces in ascending square order, each
// trying its offsets in table order.
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
    int promotion_rank, double_rank, ep_rank, ep_shift;
};
constexpr PawnRules WHITE_PAWNS{7, 9, 8, 6, 1, 4, state::WHITE_EP_SHIFT};
constexpr PawnRules BLACK_PAWNS{-7, -9, -8, 1, 6, 3, state::BLACK_EP_SHIFT};

// Each pawn in ascending order: first capture (or its promotions), first en
// passant, second capture, second en passant, push (or its promotions), double push.
void pawn_moves(Bitboard pawns, Bitboard own, Bitboard enemy, std::uint64_t word,
                const PawnRules& rules, MoveList& list) {
    const Bitboard occ = own | enemy;
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
            if (rank == rules.ep_rank && ((word >> (rules.ep_shift + file_of(to))) & 1))
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

// Castling rows: king square, the two squares crossed (empty and not
// attacked), the queen side's extra square (empty only) and the move code.
constexpr int E1 = 4, E8 = 60;
constexpr ChessMove WHITE_KING_SIDE_CASTLE{0x3184};
constexpr ChessMove WHITE_QUEEN_SIDE_CASTLE{0x3084};
constexpr ChessMove BLACK_KING_SIDE_CASTLE{0x3FBC};
constexpr ChessMove BLACK_QUEEN_SIDE_CASTLE{0x3EBC};

}  // namespace

void MoveGenerator::magic_moves(const Board& board, int own_base, Bitboard own, Bitboard enemy,
                                int kind, MoveList& list) const {
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
    const std::uint64_t word = bb[STATE];
    const bool white = word & state::WHITE_TO_MOVE;
    const int own_base = white ? 0 : 6;
    const Bitboard white_pieces = bb[0] | bb[1] | bb[2] | bb[3] | bb[4] | bb[5];
    const Bitboard black_pieces = bb[6] | bb[7] | bb[8] | bb[9] | bb[10] | bb[11];
    const Bitboard own = white ? white_pieces : black_pieces;
    const Bitboard enemy = white ? black_pieces : white_pieces;
    const auto piece = [&](int kind) { return bb[static_cast<std::size_t>(own_base + kind)]; };

    list.size = 0;
    const Bitboard kings = piece(KING);
    get_k_moves(kings, own, KING_STEPS, list);

    // Castling: king side before queen side. The rights are trusted; the rook
    // is not looked for on its corner.
    const int king_square = white ? E1 : E8;
    const unsigned side = white ? 1 : 0;
    if ((kings & square_bb(king_square)) && !square_in_check(board, king_square, side)) {
        const Bitboard occ = own | enemy;
        const std::uint64_t king_side = white ? state::WHITE_KING_SIDE : state::BLACK_KING_SIDE;
        const std::uint64_t queen_side = white ? state::WHITE_QUEEN_SIDE : state::BLACK_QUEEN_SIDE;
        if ((word & king_side) && crossing_is_safe(board, {king_square + 1, king_square + 2}, occ))
            list.push(white ? WHITE_KING_SIDE_CASTLE : BLACK_KING_SIDE_CASTLE);
        if ((word & queen_side) &&
            can_castle(board, {king_square - 2, king_square - 1}, own, enemy, king_square - 3))
            list.push(white ? WHITE_QUEEN_SIDE_CASTLE : BLACK_QUEEN_SIDE_CASTLE);
    }

    list.group_end[0] = list.size;
    get_k_moves(piece(KNIGHT), own, KNIGHT_STEPS, list);
    list.group_end[1] = list.size;
    pawn_moves(piece(PAWN), own, enemy, word, white ? WHITE_PAWNS : BLACK_PAWNS, list);
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
bool is_legal(const MoveGenerator& generator, Board& board, ChessMove move, int mover,
              std::size_t king, unsigned side, Bitboard enemy) {
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
           int mover, std::size_t king, unsigned side, Bitboard enemy, int kept) {
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
                   int end, int own_base, std::size_t king, unsigned side, Bitboard enemy, int kept) {
    const Bitboard line_pieces = board.bitboards[static_cast<std::size_t>(own_base + LINE)];
    for (int i = begin; i < end; ++i) {
        const ChessMove move = list.moves[static_cast<std::size_t>(i)];
        list.moves[static_cast<std::size_t>(kept)] = move;
        const bool legal = (line_pieces & square_bb(move.from()))
                               ? is_legal<LINE>(generator, board, move, own_base + LINE, king, side, enemy)
                               : is_legal<QUEEN>(generator, board, move, own_base + QUEEN, king, side, enemy);
        kept += legal;
    }
    return kept;
}

}  // namespace

bool MoveGenerator::keeps_king_safe(Board& board, ChessMove move) const {
    const bool white = board.white_to_move();
    return is_legal<ANY_KIND>(*this, board, move, 0, white ? WHITE_KING : BLACK_KING, white ? 1 : 0, 0);
}

void MoveGenerator::generate(Board& board, MoveList& legal) const {
    if (!legal_fast::applies(board)) return generate_reference(board, legal);
    candidates(board, legal);
    legal_fast::filter(*this, board, legal);
}

void MoveGenerator::generate_reference(Board& board, MoveList& legal) const {
    candidates(board, legal);
    const bool white = board.white_to_move();
    const std::size_t king = white ? WHITE_KING : BLACK_KING;
    const unsigned side = white ? 1 : 0;

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
    const auto& bb = board.bitboards;
    const Bitboard enemy = white ? bb[6] | bb[7] | bb[8] | bb[9] | bb[10] | bb[11]
                                 : bb[0] | bb[1] | bb[2] | bb[3] | bb[4] | bb[5];
    auto& ends = legal.group_end;
    if (overlap) {
        int kept = 0;
        int begin = 0;
        for (int& end : ends) {
            kept = filter<ANY_KIND>(*this, board, legal, begin, end, 0, king, side, enemy, kept);
            begin = std::exchange(end, kept);
        }
        legal.size = kept;
        return;
    }
    const int own_base = white ? 0 : 6;
    int kept = filter<KING>(*this, board, legal, 0, ends[0], own_base + KING, king, side, enemy, 0);
    int begin = std::exchange(ends[0], kept);
    kept = filter<KNIGHT>(*this, board, legal, begin, ends[1], own_base + KNIGHT, king, side, enemy, kept);
    begin = std::exchange(ends[1], kept);
    kept = filter<PAWN>(*this, board, legal, begin, ends[2], own_base + PAWN, king, side, enemy, kept);
    begin = std::exchange(ends[2], kept);
    kept = filter_sliders<ROOK>(*this, board, legal, begin, ends[3], own_base, king, side, enemy, kept);
    begin = std::exchange(ends[3], kept);
    kept = filter_sliders<BISHOP>(*this, board, legal, begin, ends[4], own_base, king, side, enemy, kept);
    ends[4] = kept;
    legal.size = kept;
}

}  // namespace vemla
