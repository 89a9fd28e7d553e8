// Legality from the position, without making the candidate.
//
// Why this agrees with making the move and testing the king: when no square
// is held by two piece bitboards, the mover that Board::push_move finds is the
// piece that generated the move, and the piece it captures is the one enemy
// piece on `to`. Every candidate other than en passant and castling then does
// exactly this: one own piece leaves `from` and stands on `to` (a promotion
// changes only which own bitboard holds `to`), and the enemy piece on `to`,
// if any, disappears. With exactly one king of the side to move, the test
// after the move asks about that king: on `to` if it moved, else on its square.
//
// - A king step to t: afterwards the king stands on t and `from` is empty. No
//   piece attacks its own square and every ray ends on the first occupied
//   square, so neither the captured piece nor what stands on t matters: the
//   step is safe exactly when the enemy does not attack t with the king lifted
//   off the board (a slider's ray no longer stops at the king's old square).
// - Any other move: knights, pawns and kings attack the same squares wherever
//   other pieces stand, so the king is attacked afterwards exactly when a
//   checker survives (it is neither captured on t nor cut off by a piece on
//   t), or when emptying `from` opens a slider's ray to the king. The first
//   asks that t be the checker or lie between it and the king; with two
//   checkers no single square does both (they sit on different rays from the
//   king, and a knight is never on a ray). The second happens exactly when the
//   piece was the only piece between the king and an enemy slider that moves
//   along that line (the piece is pinned) and t leaves the line: on the line,
//   t is between the king and the pinner, or the pinner itself.
// - En passant removes a second piece, chosen by the side to move and not by
//   what stands where, and castling moves a rook that may be absent: those
//   candidates are decided by making them, as the reference does.
#include "move_generator/legal_fast.hpp"

#include <bit>

namespace vemla::legal_fast {

namespace {

constexpr Bitboard FILE_A = 0x0101010101010101ull;
constexpr Bitboard FILE_H = FILE_A << 7;
constexpr Bitboard RANK_1 = 0xFFull;
constexpr Bitboard RANK_3 = 0xFFull << 16;
constexpr Bitboard RANK_6 = 0xFFull << 40;
constexpr Bitboard RANK_8 = 0xFFull << 56;

// For two squares on one rank, file or diagonal: the squares strictly between
// them, and the whole line through both. Zero for squares not in line.
struct Lines {
    std::array<std::array<Bitboard, 64>, 64> between{};
    std::array<std::array<Bitboard, 64>, 64> line{};
};

constexpr Lines make_lines() {
    Lines lines;
    for (int a = 0; a < 64; ++a) {
        for (int b = 0; b < 64; ++b) {
            if (a == b) continue;
            for (const bool rook : {true, false}) {
                if (!(slider_attacks(a, 0, rook) & square_bb(b))) continue;
                const auto ia = static_cast<std::size_t>(a), ib = static_cast<std::size_t>(b);
                lines.between[ia][ib] = slider_attacks(a, square_bb(b), rook) & slider_attacks(b, square_bb(a), rook);
                lines.line[ia][ib] =
                    (slider_attacks(a, 0, rook) & slider_attacks(b, 0, rook)) | square_bb(a) | square_bb(b);
            }
        }
    }
    return lines;
}

constexpr Lines LINES = make_lines();
static_assert(LINES.between[0][63] == 0x0040201008040200ull);
static_assert(LINES.line[9][18] == 0x8040201008040201ull);
static_assert(LINES.between[0][17] == 0 && LINES.line[0][17] == 0);

Bitboard between(int a, int b) {
    return LINES.between[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
}
Bitboard line(int a, int b) { return LINES.line[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)]; }

// What the king of the side to move faces in the position as it stands.
class KingSafety {
public:
    KingSafety(const MoveGenerator& generator, const Board& board)
        : generator_(generator), white_(board.white_to_move()) {
        const auto& bb = board.bitboards;
        const std::size_t own_base = white_ ? 0 : 6;
        enemy_pieces_ = bb.data() + (6 - own_base);
        const Bitboard* own = bb.data() + own_base;
        own_ = own[PAWN] | own[KNIGHT] | own[BISHOP] | own[ROOK] | own[QUEEN] | own[KING];
        enemy_ = enemy(PAWN) | enemy(KNIGHT) | enemy(BISHOP) | enemy(ROOK) | enemy(QUEEN) | enemy(KING);
        occ_ = own_ | enemy_;
        king_ = lsb(own[KING]);
        checkers_ = attackers(king_, occ_);

        // An own piece alone between the king and an enemy slider on its line.
        const Bitboard lines = enemy(QUEEN);
        Bitboard snipers = (generator_.rook_attacks(king_, 0) & (enemy(ROOK) | lines)) |
                           (generator_.bishop_attacks(king_, 0) & (enemy(BISHOP) | lines));
        for (; snipers; snipers &= snipers - 1) {
            const Bitboard blockers = between(king_, lsb(snipers)) & occ_;
            if (std::has_single_bit(blockers)) pinned_ |= blockers & own_;
        }

        if (!checkers_)
            targets_ = ~own_;
        else if (std::has_single_bit(checkers_))
            targets_ = checkers_ | between(king_, lsb(checkers_));
        else
            targets_ = 0;
    }

    // The enemy pieces that attack sq when the squares in occ are occupied;
    // the same tests as MoveGenerator::square_in_check.
    Bitboard attackers(int sq, Bitboard occ) const {
        const auto s = static_cast<std::size_t>(sq);
        const Bitboard pawn_squares = white_ ? BLACK_PAWN_ATTACKERS[s] : WHITE_PAWN_ATTACKERS[s];
        const Bitboard queens = enemy(QUEEN);
        return (KNIGHT_ATTACKS[s] & enemy(KNIGHT)) | (pawn_squares & enemy(PAWN)) | (KING_ATTACKS[s] & enemy(KING)) |
               (generator_.rook_attacks(sq, occ) & (enemy(ROOK) | queens)) |
               (generator_.bishop_attacks(sq, occ) & (enemy(BISHOP) | queens));
    }

    bool king_may_step(int to) const { return !attackers(to, occ_ ^ square_bb(king_)); }

    // For a piece other than the king.
    bool piece_may_move(int from, int to) const {
        const Bitboard t = square_bb(to);
        return (targets_ & t) && (!(pinned_ & square_bb(from)) || (line(king_, from) & t));
    }

    Bitboard enemy(int kind) const { return enemy_pieces_[kind]; }
    bool white() const { return white_; }
    int king() const { return king_; }
    Bitboard own() const { return own_; }
    Bitboard enemy() const { return enemy_; }
    Bitboard occupied() const { return occ_; }
    Bitboard checkers() const { return checkers_; }
    Bitboard pinned() const { return pinned_; }
    // Where a piece other than the king may go: anywhere but onto an own piece
    // when not in check, onto the checker or between it and the king in
    // single check, nowhere in double check.
    Bitboard targets() const { return targets_; }

private:
    const MoveGenerator& generator_;
    bool white_;
    const Bitboard* enemy_pieces_;
    Bitboard own_ = 0, enemy_ = 0, occ_ = 0;
    int king_ = 0;
    Bitboard checkers_ = 0, pinned_ = 0, targets_ = 0;
};

// Counts a set of pawn destinations; those on the last rank are four moves.
int with_promotions(Bitboard to, Bitboard last_rank) {
    return std::popcount(to) + 3 * std::popcount(to & last_rank);
}

// Pawn moves other than en passant, by the rules of the candidate gathering:
// captures onto enemy pieces (a step that would leave the board across its
// side edge is refused), a push onto an empty square, a double push from the
// second rank over two empty squares. Only destinations in allowed count.
int pawn_count(bool white, Bitboard pawns, Bitboard enemy, Bitboard empty, Bitboard allowed) {
    if (white) {
        const Bitboard toward_a = ((pawns & ~FILE_A) << 7) & enemy & allowed;
        const Bitboard toward_h = ((pawns & ~FILE_H) << 9) & enemy & allowed;
        const Bitboard push = (pawns << 8) & empty;
        const Bitboard double_push = ((push & RANK_3) << 8) & empty & allowed;
        return with_promotions(toward_a, RANK_8) + with_promotions(toward_h, RANK_8) +
               with_promotions(push & allowed, RANK_8) + std::popcount(double_push);
    }
    const Bitboard toward_h = ((pawns & ~FILE_H) >> 7) & enemy & allowed;
    const Bitboard toward_a = ((pawns & ~FILE_A) >> 9) & enemy & allowed;
    const Bitboard push = (pawns >> 8) & empty;
    const Bitboard double_push = ((push & RANK_6) >> 8) & empty & allowed;
    return with_promotions(toward_h, RANK_1) + with_promotions(toward_a, RANK_1) +
           with_promotions(push & allowed, RANK_1) + std::popcount(double_push);
}

// En-passant candidates are gathered from the state word alone: a pawn on its
// fifth rank (fourth for Black) for each capture step whose file has its bit
// set. Each is decided by making it.
int en_passant_count(const MoveGenerator& generator, Board& board, const KingSafety& safety) {
    const std::uint64_t word = board.bitboards[STATE];
    const bool white = safety.white();
    const unsigned files = static_cast<unsigned>(word >> (white ? state::WHITE_EP_SHIFT : state::BLACK_EP_SHIFT)) & 0xFF;
    if (!files) return 0;
    const Bitboard pawns = board.bitboards[white ? WHITE_PAWN : BLACK_PAWN] & (0xFFull << (white ? 32 : 24));
    int n = 0;
    for (Bitboard b = pawns; b; b &= b - 1) {
        const int from = lsb(b);
        for (const int step : {white ? 7 : -7, white ? 9 : -9}) {
            if (!step_ok(from, step, 1) || !((files >> file_of(from + step)) & 1)) continue;
            n += generator.keeps_king_safe(board, ChessMove::pack(from, from + step, ChessMove::EN_PASSANT));
        }
    }
    return n;
}

}  // namespace

bool applies(const Board& board) {
    const auto& bb = board.bitboards;
    int pieces = 0;
    Bitboard occupied = 0;
    for (std::size_t i = 0; i < 12; ++i) {
        pieces += std::popcount(bb[i]);
        occupied |= bb[i];
    }
    return pieces == std::popcount(occupied) &&
           std::has_single_bit(bb[board.white_to_move() ? WHITE_KING : BLACK_KING]);
}

void filter(const MoveGenerator& generator, Board& board, MoveList& list) {
    const KingSafety safety(generator, board);
    auto& moves = list.moves;
    auto& ends = list.group_end;
    int kept = 0;
    int i = 0;
    for (; i < ends[0]; ++i) {
        const ChessMove move = moves[static_cast<std::size_t>(i)];
        moves[static_cast<std::size_t>(kept)] = move;
        kept += move.special() == ChessMove::CASTLING ? generator.keeps_king_safe(board, move)
                                                       : safety.king_may_step(move.to());
    }
    const int shift = ends[0] - kept;
    ends[0] = kept;
    const std::uint64_t ep_bits =
        board.bitboards[STATE] & (0xFFull << (safety.white() ? state::WHITE_EP_SHIFT : state::BLACK_EP_SHIFT));
    if (!safety.checkers() && !safety.pinned() && !ep_bits) {
        // Out of check, nothing pinned and no en passant: every other
        // candidate is legal.
        if (shift) {
            for (; i < list.size; ++i) moves[static_cast<std::size_t>(i - shift)] = moves[static_cast<std::size_t>(i)];
            for (std::size_t g = 1; g < ends.size(); ++g) ends[g] -= shift;
        }
        list.size -= shift;
        return;
    }
    for (std::size_t g = 1; g < ends.size(); ++g) {
        for (; i < ends[g]; ++i) {
            const ChessMove move = moves[static_cast<std::size_t>(i)];
            moves[static_cast<std::size_t>(kept)] = move;
            kept += move.special() == ChessMove::EN_PASSANT ? generator.keeps_king_safe(board, move)
                                                             : safety.piece_may_move(move.from(), move.to());
        }
        ends[g] = kept;
    }
    list.size = kept;
}

int count(const MoveGenerator& generator, Board& board) {
    const KingSafety safety(generator, board);
    const auto& bb = board.bitboards;
    const int king = safety.king();
    int n = 0;
    for (Bitboard b = KING_ATTACKS[static_cast<std::size_t>(king)] & ~safety.own(); b; b &= b - 1)
        n += safety.king_may_step(lsb(b));
    std::array<ChessMove, 2> castles;
    const int castle_count = generator.castling_moves(board, bb[safety.white() ? WHITE_KING : BLACK_KING],
                                                      safety.own(), safety.enemy(), castles.data());
    for (int c = 0; c < castle_count; ++c)
        n += generator.keeps_king_safe(board, castles[static_cast<std::size_t>(c)]);

    const Bitboard targets = safety.targets();
    if (!targets) return n;
    const Bitboard pinned = safety.pinned();
    const Bitboard occ = safety.occupied();
    const std::size_t own_base = safety.white() ? 0 : 6;
    const auto own = [&](int kind) { return bb[own_base + static_cast<std::size_t>(kind)]; };

    // A pinned knight can never stay on its line.
    for (Bitboard b = own(KNIGHT) & ~pinned; b; b &= b - 1)
        n += std::popcount(KNIGHT_ATTACKS[static_cast<std::size_t>(lsb(b))] & targets);
    const auto allowed = [&](int from) { return (pinned & square_bb(from)) ? targets & line(king, from) : targets; };
    for (Bitboard b = own(ROOK) | own(QUEEN); b; b &= b - 1) {
        const int from = lsb(b);
        n += std::popcount(generator.rook_attacks(from, occ) & allowed(from));
    }
    for (Bitboard b = own(BISHOP) | own(QUEEN); b; b &= b - 1) {
        const int from = lsb(b);
        n += std::popcount(generator.bishop_attacks(from, occ) & allowed(from));
    }

    const Bitboard pawns = own(PAWN);
    const Bitboard empty = ~occ;
    n += pawn_count(safety.white(), pawns & ~pinned, safety.enemy(), empty, targets);
    for (Bitboard b = pawns & pinned; b; b &= b - 1) {
        const int from = lsb(b);
        n += pawn_count(safety.white(), square_bb(from), safety.enemy(), empty, allowed(from));
    }
    return n + en_passant_count(generator, board, safety);
}

}  // namespace vemla::legal_fast
