// Legality of the generated candidates: the make-and-test reference, and the
// fast filter and count that reason from the position instead.
//
// Why the fast filter agrees with the reference: when no square is held by
// two piece bitboards, the mover that Board::push_move finds is the piece that
// generated the move, and the piece it captures is the one enemy piece on
// `to`. Every candidate other than en passant and castling then does exactly
// this: one own piece leaves `from` and stands on `to` (a promotion changes
// only which own bitboard holds `to`), and the enemy piece on `to`, if any,
// disappears. With exactly one king of the side to move, the test after the
// move asks about that king: on `to` if it moved, else on its square.
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
//   what stands where: those candidates are decided by making them, as the
//   reference does. Castling also moves a rook, which may be absent; see
//   castle_keeps_king_safe.
#include "move_generator/legality.hpp"

#include <bit>
#include <utility>

#include "move_generator/castling.hpp"

// Counting leans on population counts. Where the build's baseline has no
// instruction for them (x86-64 without -mpopcnt), count_fast() is compiled
// twice, once for processors that have the instruction, and the copy is
// chosen once per process from what the processor reports. The choice is
// made here by a plain branch rather than by a load-time resolver
// (target_clones): clang 14 loses the resolver under link-time optimisation.
#if defined(__x86_64__) && !defined(__POPCNT__) && defined(__GNUC__)
#define VEMLA_POPCOUNT_COPIES 1
#endif
// Helpers of count_fast() are inlined into each of its copies.
#define VEMLA_INLINE [[gnu::always_inline]] inline

namespace vemla::legality {

namespace {

// ---------------------------------------------------------------------------
// The reference: make, test, take back.

// Whether the king of side (its lowest one) is safe on the board as it stands.
VEMLA_INLINE bool king_safe(const MoveGenerator& generator, const Board& board, Colour side) {
    const Bitboard kings = board.pieces(side, KING);
    return !kings || !generator.square_in_check(board, lsb(kings), side);
}

// ---------------------------------------------------------------------------
// The fast filter.

// For two squares on one rank, file or diagonal: the squares strictly between
// them, and the whole line through both. Zero for squares not in line.
struct Lines {
    std::array<std::array<Bitboard, 64>, 64> between{};
    std::array<std::array<Bitboard, 64>, 64> line{};
};

constexpr Lines make_lines() {
    Lines lines;
    for (int a = 0; a < 64; ++a) {
        for (const int step : {8, -8, 1, -1, 9, -9, 7, -7}) {
            Bitboard full = square_bb(a);
            for (const int direction : {step, -step})
                for (int p = a; step_ok(p, direction, 1); p += direction)
                    full |= square_bb(p + direction);
            Bitboard passed = 0;
            for (int p = a; step_ok(p, step, 1); p += step) {
                const auto ia = static_cast<std::size_t>(a),
                           ib = static_cast<std::size_t>(p + step);
                lines.between[ia][ib] = passed;
                lines.line[ia][ib] = full;
                passed |= square_bb(p + step);
            }
        }
    }
    return lines;
}

constexpr Lines LINES = make_lines();
static_assert(LINES.between[0][63] == 0x0040201008040200ull);
static_assert(LINES.line[9][18] == 0x8040201008040201ull);
static_assert(LINES.between[0][17] == 0 && LINES.line[0][17] == 0);

VEMLA_INLINE Bitboard between(int a, int b) {
    return LINES.between[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
}
VEMLA_INLINE Bitboard line(int a, int b) {
    return LINES.line[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
}

// What the king of the side to move faces in the position as it stands.
class KingSafety {
public:
    VEMLA_INLINE KingSafety(const MoveGenerator& generator, const Board& board)
        : generator_(generator), board_(board), side_(board.side_to_move()) {
        own_ = board.pieces(side_);
        enemy_ = board.pieces(opposite(side_));
        occ_ = own_ | enemy_;
        king_ = lsb(board.pieces(side_, KING));
        checkers_ = generator.attackers(board, king_, occ_, opposite(side_));

        // An own piece alone between the king and an enemy slider on its line.
        const Bitboard queens = enemy(QUEEN);
        Bitboard snipers = (at(ROOK_LINES, king_) & (enemy(ROOK) | queens)) |
                           (at(BISHOP_LINES, king_) & (enemy(BISHOP) | queens));
        for (; snipers; snipers &= snipers - 1) {
            const Bitboard blockers = between(king_, lsb(snipers)) & occ_;
            if (single(blockers)) pinned_ |= blockers & own_;
        }

        if (!checkers_)
            targets_ = ~own_;
        else if (single(checkers_))
            targets_ = checkers_ | between(king_, lsb(checkers_));
        else
            targets_ = 0;
    }

    // Whether the king may step to sq: the enemy does not attack it with the
    // king lifted off the board.
    VEMLA_INLINE bool king_may_step(int sq) const {
        return !generator_.attackers(board_, sq, occ_ ^ square_bb(king_), opposite(side_));
    }
    // The squares of steps (one king step each) that the king may step to.
    VEMLA_INLINE Bitboard safe_steps(Bitboard steps) const {
        Bitboard safe = 0;
        for (; steps; steps &= steps - 1)
            if (king_may_step(lsb(steps))) safe |= square_bb(lsb(steps));
        return safe;
    }

    // For a piece other than the king.
    VEMLA_INLINE bool piece_may_move(int from, int to) const {
        const Bitboard t = square_bb(to);
        return (targets_ & t) && (!(pinned_ & square_bb(from)) || (line(king_, from) & t));
    }
    // Where the piece on from may go: targets(), and for a pinned piece only
    // along its line.
    VEMLA_INLINE Bitboard allowed(int from) const {
        return (pinned_ & square_bb(from)) ? targets_ & line(king_, from) : targets_;
    }

    Bitboard enemy(Kind kind) const { return board_.pieces(opposite(side_), kind); }
    Bitboard own(Kind kind) const { return board_.pieces(side_, kind); }
    Colour side() const { return side_; }
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
    const Board& board_;
    Colour side_;
    Bitboard own_ = 0, enemy_ = 0, occ_ = 0;
    int king_ = 0;
    Bitboard checkers_ = 0, pinned_ = 0, targets_ = 0;
};

// Castling: the king crosses two squares that were found empty and not
// attacked while it stood on e1 (e8), and lands on the second. With the rook
// on its corner the move is always safe: afterwards only the king's old
// square, the rook's corner and the two squares crossed differ, and the only
// line through those to the king's new square is the home rank, which the rook
// now closes on one side; the other side ends at the board's edge beyond an
// empty corner (and, on the queen side, an empty b-file square). Without the
// rook the king's old square opens the rank: such a move is made and tested.
// A Chess960 castling move is made and tested.
bool castle_keeps_king_safe(const MoveGenerator& generator, Board& board, ChessMove move) {
    if (board.chess960) return keeps_king_safe(generator, board, move);
    const Colour side = board.side_to_move();
    const int corner = castling_geometry(side, castling_side_landing_on(move.to())).rook_from;
    if (board.pieces(side, ROOK) & square_bb(corner)) return true;
    return keeps_king_safe(generator, board, move);
}

void filter_fast(const MoveGenerator& generator, Board& board, MoveList& list) {
    const KingSafety safety(generator, board);
    auto& ends = list.group_end;
    int kept = 0;
    int i = 0;
    for (; i < ends[0]; ++i) {
        const ChessMove move = list[i];
        list[kept] = move;
        kept += move.special() == ChessMove::CASTLING
                    ? castle_keeps_king_safe(generator, board, move)
                    : safety.king_may_step(move.to());
    }
    const int shift = ends[0] - kept;
    ends[0] = kept;
    if (!safety.checkers() && !safety.pinned() && !board.state().en_passant_files()) {
        // Out of check, nothing pinned and no en passant: every other
        // candidate is legal.
        if (shift) {
            for (; i < list.size; ++i) list[i - shift] = list[i];
            for (std::size_t g = 1; g < ends.size(); ++g) ends[g] -= shift;
        }
        list.size -= shift;
        return;
    }
    for (std::size_t g = 1; g < ends.size(); ++g) {
        for (; i < ends[g]; ++i) {
            const ChessMove move = list[i];
            list[kept] = move;
            kept += move.special() == ChessMove::EN_PASSANT
                        ? keeps_king_safe(generator, board, move)
                        : safety.piece_may_move(move.from(), move.to());
        }
        ends[g] = kept;
    }
    list.size = kept;
}

// ---------------------------------------------------------------------------
// Counting, by the same reasoning, with set operations in place of the list.

// Counts a set of pawn destinations; those on the last rank are four moves.
VEMLA_INLINE int with_promotions(Bitboard to, Bitboard last_rank) {
    return std::popcount(to) + 3 * std::popcount(to & last_rank);
}

// Pawn moves other than en passant, by the rules of the candidate gathering:
// captures onto enemy pieces (a step that would leave the board across its
// side edge is refused), a push onto an empty square, a double push from the
// second rank over two empty squares. Only destinations in allowed count.
// Shifting a set by 8 moves every square one rank up (<<) or down (>>); by 7
// or 9 also one file sideways, so the pawns on the file the step would leave
// the board from are masked out first (a shift by 7 up from the a-file would
// land on the h-file). A double push is a push of the pushed pawns that
// landed on the third (sixth) rank.
VEMLA_INLINE int pawn_count(Colour side, Bitboard pawns, Bitboard enemy, Bitboard empty,
                            Bitboard allowed) {
    if (side == WHITE) {
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
VEMLA_INLINE int en_passant_count(const MoveGenerator& generator, Board& board,
                                  const KingSafety& safety) {
    const unsigned files = board.state().en_passant_files();
    if (!files) return 0;
    const bool white = safety.side() == WHITE;
    const Bitboard pawns = safety.own(PAWN) & (white ? RANK_5 : RANK_4);
    int n = 0;
    for (Bitboard b = pawns; b; b &= b - 1) {
        const int from = lsb(b);
        for (const int step : {white ? 7 : -7, white ? 9 : -9}) {
            if (!step_ok(from, step, 1) || !((files >> file_of(from + step)) & 1)) continue;
            n += keeps_king_safe(generator, board,
                                 ChessMove::pack(from, from + step, ChessMove::EN_PASSANT));
        }
    }
    return n;
}

// The castling candidates of MoveGenerator::candidates, counted: the king on
// e1 (e8) and not in check, the right set, the squares crossed empty and not
// attacked, on the queen side the b-file square empty. Out of check, lifting
// the king changes no attack on the squares it crosses (a ray through its
// square would check it), so king_may_step answers for them. One of the two
// squares crossed is a king step, found safe or not in safe_steps already.
static_assert([] {
    for (const CastlingRules& rules : CASTLING_RULES)
        for (const CastlingRow& row : rules.rows)
            if (!single(at(KING_ATTACKS, rules.king) &
                        (square_bb(row.crossed[0]) | square_bb(row.crossed[1]))))
                return false;
    return true;
}());
VEMLA_INLINE int castling_count(const MoveGenerator& generator, Board& board,
                                const KingSafety& safety, Bitboard safe_steps) {
    const Colour side = safety.side();
    const CastlingRules& rules = castling_rules(side);
    const StateWord state = board.state();
    if (!(state.bits & StateWord::castling_rights(side)) || safety.checkers()) return 0;
    if (board.chess960) [[unlikely]] {
        int n = 0;
        for (const CastlingSide castling : {KING_SIDE, QUEEN_SIDE})
            if (generator.can_castle_chess960(board, castling, safety.own(), safety.enemy()))
                n += keeps_king_safe(
                    generator, board,
                    chess960_castling_move(chess960_geometry(board.castling_files, side, castling)));
        return n;
    }
    if (safety.king() != rules.king) return 0;
    const Bitboard occ = safety.occupied();
    int n = 0;
    for (const CastlingRow& row : rules.rows) {
        const Bitboard crossed = square_bb(row.crossed[0]) | square_bb(row.crossed[1]);
        const Bitboard step = crossed & at(KING_ATTACKS, rules.king);
        if (state.may_castle(side, row.side) && !(occ & (crossed | row.empty_only)) &&
            (safe_steps & step) && safety.king_may_step(lsb(crossed ^ step)))
            n += castle_keeps_king_safe(generator, board, row.move);
    }
    return n;
}

VEMLA_INLINE int count_fast_inline(const MoveGenerator& generator, Board& board) {
    const KingSafety safety(generator, board);
    const int king = safety.king();
    const Bitboard safe_steps = safety.safe_steps(at(KING_ATTACKS, king) & ~safety.own());
    int n = std::popcount(safe_steps) + castling_count(generator, board, safety, safe_steps);

    // En passant is decided by making the move, so it is counted whatever the
    // other pieces may do: even when no square is open to them (double check,
    // or the mover holding every square).
    n += en_passant_count(generator, board, safety);
    const Bitboard targets = safety.targets();
    if (!targets) return n;
    const Bitboard pinned = safety.pinned();
    const Bitboard occ = safety.occupied();

    // A pinned knight can never stay on its line.
    for (Bitboard b = safety.own(KNIGHT) & ~pinned; b; b &= b - 1)
        n += std::popcount(at(KNIGHT_ATTACKS, lsb(b)) & targets);
    const Bitboard queens = safety.own(QUEEN);
    for (Bitboard b = safety.own(ROOK) | queens; b; b &= b - 1) {
        const int from = lsb(b);
        n += std::popcount(generator.rook_attacks(from, occ) & safety.allowed(from));
    }
    for (Bitboard b = safety.own(BISHOP) | queens; b; b &= b - 1) {
        const int from = lsb(b);
        n += std::popcount(generator.bishop_attacks(from, occ) & safety.allowed(from));
    }

    const Bitboard pawns = safety.own(PAWN);
    const Bitboard empty = ~occ;
    n += pawn_count(safety.side(), pawns & ~pinned, safety.enemy(), empty, targets);
    for (Bitboard b = pawns & pinned; b; b &= b - 1) {
        const int from = lsb(b);
        n +=
            pawn_count(safety.side(), square_bb(from), safety.enemy(), empty, safety.allowed(from));
    }
    return n;
}

#ifdef VEMLA_POPCOUNT_COPIES
[[gnu::target("popcnt")]] int count_fast_popcnt(const MoveGenerator& generator, Board& board) {
    return count_fast_inline(generator, board);
}
// Kept out of count() and so out of its callers (perft's inner loop), which
// would otherwise carry a copy they never run on these processors.
[[gnu::noinline]] int count_fast_plain(const MoveGenerator& generator, Board& board) {
    return count_fast_inline(generator, board);
}
// Read before this file's initialisers have run (a count made by another
// file's static initialiser), it is still false: the plain copy, which is
// as exact, only slower.
const bool HAS_POPCNT = (__builtin_cpu_init(), __builtin_cpu_supports("popcnt"));

int count_fast(const MoveGenerator& generator, Board& board) {
    return HAS_POPCNT ? count_fast_popcnt(generator, board) : count_fast_plain(generator, board);
}
#else
int count_fast(const MoveGenerator& generator, Board& board) {
    return count_fast_inline(generator, board);
}
#endif

}  // namespace

bool keeps_king_safe(const MoveGenerator& generator, Board& board, ChessMove move) {
    const Colour side = board.side_to_move();
    board.push_move(move);
    const bool safe = king_safe(generator, board, side);
    board.pop_move();
    return safe;
}

Kind mover_kind(const Board& board, const MoveList& list, int i) {
    const auto& ends = list.group_end;
    if (i < ends[0]) return KING;
    if (i < ends[1]) return KNIGHT;
    if (i < ends[2]) return PAWN;
    const Kind pass = i < ends[3] ? ROOK : BISHOP;
    return slider_mover(pass, board.pieces(board.side_to_move(), pass), list[i].from());
}

void filter_reference(const MoveGenerator& generator, Board& board, MoveList& list) {
    const Colour side = board.side_to_move();
    int kept = 0;
    if (!no_square_held_twice(board)) {
        // A square held twice: push_move finds the mover as it always does.
        int begin = 0;
        for (int& end : list.group_end) {
            for (int i = begin; i < end; ++i) {
                const ChessMove move = list[i];
                list[kept] = move;
                kept += keeps_king_safe(generator, board, move);
            }
            begin = std::exchange(end, kept);
        }
        list.size = kept;
        return;
    }
    // Otherwise each candidate is made with its group's kind, which finds the
    // same mover without searching for it.
    const auto keep = [&](int i) {
        list[kept] = list[i];
        kept += king_safe(generator, board, side);
        board.pop_move();
    };
    const auto group_done = [&](int g) { list.group_end[static_cast<std::size_t>(g)] = kept; };
    GroupMaker(board).make_each(board, list, keep, group_done);
    list.size = kept;
}

void filter(const MoveGenerator& generator, Board& board, MoveList& list) {
    if (fast_path_applies(board))
        filter_fast(generator, board, list);
    else
        filter_reference(generator, board, list);
}

int count(const MoveGenerator& generator, Board& board) {
    if (fast_path_applies(board)) return count_fast(generator, board);
    MoveList moves;
    generator.candidates(board, moves);
    filter_reference(generator, board, moves);
    return moves.size;
}

}  // namespace vemla::legality
