// MoveGenerator: magic-bitboard attack tables for rooks and bishops, the
// attack test, castling, and legal move generation in a fixed order.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/castling.hpp"
#include "move_generator/huge_page_allocator.hpp"
#include "move_generator/tables.hpp"

namespace vemla {

// No position, legal or not, yields more candidates than this: per square at
// most 8 king + 8 knight + 12 pawn + 14 rook-pass + 13 bishop-pass moves
// (pieces may overlap after illegal moves), 64 * 55 + 2 castling moves = 3522.
inline constexpr int MAX_CANDIDATES = 4096;

struct MoveList {
    std::array<ChessMove, MAX_CANDIDATES> moves;
    int size = 0;
    // Where the groups end: king, knights, pawns, rook pass, bishop pass. After
    // generate, the ends of each group's legal moves.
    std::array<int, 5> group_end{};

    void push(ChessMove m) { moves[static_cast<std::size_t>(size++)] = m; }
    ChessMove& operator[](int i) { return moves[static_cast<std::size_t>(i)]; }
    ChessMove operator[](int i) const { return moves[static_cast<std::size_t>(i)]; }
    const ChessMove* begin() const { return moves.data(); }
    const ChessMove* end() const { return moves.data() + size; }
};

// How a game stands for the side to move, in the order the tests are made.
// The last two end a game only when a player claims the draw.
enum class Outcome {
    ONGOING,
    CHECKMATE,
    STALEMATE,
    INSUFFICIENT_MATERIAL,
    SEVENTYFIVE_MOVES,
    FIVEFOLD_REPETITION,
    FIFTY_MOVES,
    THREEFOLD_REPETITION,
};

// The outcome's name in lower case with underscores ("checkmate",
// "fivefold_repetition"); empty for ONGOING.
std::string_view name(Outcome outcome);

struct MoveGenerator {
    // 128 tables of TABLE_SIZE words: rook table of square s at 2s, bishop
    // table at 2s + 1. Kept in one allocation; table t starts at t * TABLE_SIZE.
    std::vector<Bitboard, HugePageAllocator<Bitboard>> attack_tables;

    MoveGenerator();

    const Bitboard* table(int index) const {
        return attack_tables.data() + static_cast<std::size_t>(index) * TABLE_SIZE;
    }
    Bitboard rook_attacks(int sq, Bitboard occ) const { return table(2 * sq)[rook_index(sq, occ)]; }
    Bitboard bishop_attacks(int sq, Bitboard occ) const {
        return table(2 * sq + 1)[bishop_index(sq, occ)];
    }

    // The pieces of colour `by` that attack square sq when the squares in
    // occ are occupied (a slider's ray stops at the first of them). This is
    // the one attack test: the check after a move, the castling squares, and
    // the checkers and king steps of the fast legality filter all ask it.
    Bitboard attackers(const Board& board, int sq, Bitboard occ, Colour by) const {
        const Bitboard pawn_squares =
            at(by == BLACK ? BLACK_PAWN_ATTACKERS : WHITE_PAWN_ATTACKERS, sq);
        const Bitboard queens = board.pieces(by, QUEEN);
        Bitboard found = (at(KNIGHT_ATTACKS, sq) & board.pieces(by, KNIGHT)) |
                         (pawn_squares & board.pieces(by, PAWN)) |
                         (at(KING_ATTACKS, sq) & board.pieces(by, KING));
        // A table lookup only where a slider stands on one of sq's lines.
        const Bitboard rooks = board.pieces(by, ROOK) | queens;
        if (rooks & at(ROOK_LINES, sq)) found |= rook_attacks(sq, occ) & rooks;
        const Bitboard bishops = board.pieces(by, BISHOP) | queens;
        if (bishops & at(BISHOP_LINES, sq)) found |= bishop_attacks(sq, occ) & bishops;
        return found;
    }

    // Whether square sq is attacked by the pieces of side's opponent (side is
    // the colour whose square it is, typically the king's own colour).
    bool square_in_check(const Board& board, int sq, Colour side) const {
        return attackers(board, sq, board.occupancy(), opposite(side)) != 0;
    }

    // Whether the side to move may castle by this row: the squares the king
    // crosses empty and not attacked, in order, then the empty-only square
    // empty. The caller has checked the right and the king's own square.
    bool can_castle(const Board& board, const CastlingRow& row, Bitboard own, Bitboard enemy) const;

    // Whether the side to move of a Chess960 board may castle to side: the
    // right set, king and rook on their home squares, every square either
    // crosses or lands on empty but for the two of them, and no square of
    // the king's path attacked. A castling move that passes is legal.
    bool can_castle_chess960(const Board& board, CastlingSide side, Bitboard own,
                             Bitboard enemy) const;
    // Appends the Chess960 castling moves that pass, king side first.
    void chess960_castling(const Board& board, Bitboard own, Bitboard enemy,
                           MoveList& list) const;

    // The legal moves of the side to move, in the fixed order: the
    // candidates, filtered by legality::filter. The board may be used to try
    // candidates and ends exactly as it started.
    void generate(Board& board, MoveList& legal) const;

    // The same list by the reference filter alone (legality::filter_reference):
    // every candidate is made, the mover's king is tested and the candidate is
    // taken back.
    void generate_reference(Board& board, MoveList& legal) const;

    // Whether the side to move has a legal move. It generates the whole list
    // and looks at its size. The board ends exactly as it started.
    bool has_legal_move(Board& board) const;

    // Whether the lowest king of the side to move is attacked; false when
    // that side has no king.
    bool is_check(const Board& board) const;

    // Checkmate (no legal move, in check), stalemate (no legal move),
    // insufficient material, the seventy-five-move rule (clock at 150 or
    // more), fivefold repetition, and with claim_draw also the fifty-move rule
    // (clock at 100) and threefold repetition; or ONGOING: the first that
    // holds. The board ends as it started.
    Outcome outcome(Board& board, bool claim_draw = false) const;

    // The candidates in generation order, before legality is decided, with
    // the end of each group in group_end.
    void candidates(const Board& board, MoveList& list) const;

    // Rook-pass (kind ROOK) or bishop-pass (kind BISHOP) moves of the mover's
    // sliders; queens take part in both.
    void magic_moves(const Board& board, int own_base, Bitboard own, Bitboard enemy, Kind kind,
                     MoveList& list) const;
};

// rook_bishop_moves: one attack table of TABLE_SIZE entries for square sq
// and relevance mask, built by walking rays for every subset of the mask
// (kind ROOK for a rook table, any other kind for a bishop table).
std::vector<Bitboard> rook_bishop_moves(int sq, Bitboard mask, Kind kind);

}  // namespace vemla
