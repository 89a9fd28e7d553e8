// Making and taking back moves, inline so that the move generator's legality
// filter (one make and one unmake per candidate) pays no call overhead. A move
// saves only the piece bitboards it changes (one to three) plus the state
// word, so undo is exact and cheap.
#pragma once

#include <array>

#include "board/castling_geometry.hpp"
#include "failure.hpp"

namespace vemla {

namespace detail {

// The castling right tied to each corner square (its rook's home).
constexpr std::array<std::uint64_t, 64> CORNER_RIGHT = [] {
    std::array<std::uint64_t, 64> table{};
    for (const Colour colour : {WHITE, BLACK})
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE})
            table[static_cast<std::size_t>(castling_geometry(colour, side).rook_from)] =
                StateWord::castling_right(colour, side);
    return table;
}();
// Kept out of line so that the hot path of push_move stays small.
[[noreturn, gnu::noinline, gnu::cold]] void no_piece(int from);
// Restores the bitboards in mask from their history stacks, then throws
// std::bad_alloc.
[[noreturn, gnu::noinline, gnu::cold]] void out_of_memory(Board& board, unsigned mask);

}  // namespace detail

inline std::uint64_t Board::rook_home_right(int sq) const {
    if (!chess960) [[likely]]
        return detail::CORNER_RIGHT[static_cast<std::size_t>(sq)];
    std::uint64_t rights = 0;
    for (const Colour colour : {WHITE, BLACK})
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE})
            if (sq == home_rank_base(colour) + castling_files.rook_file(colour, side))
                rights |= StateWord::castling_right(colour, side);
    return rights;
}

inline void Board::push_move(ChessMove move) {
    const int from = move.from();
    const Bitboard from_bb = square_bb(from);
    const std::uint64_t* const bb = bitboards.data();
    // The mover is the first piece bitboard holding the from-square. The loop
    // is kept rolled: unrolled, the compiler clones the rest of the function
    // once per piece, which costs more than it saves.
    int mover = 0;
#pragma GCC unroll 1
    while (!(bb[mover] & from_bb))
        if (++mover == 12) [[unlikely]]
            detail::no_piece(from);
    const Piece piece = static_cast<Piece>(mover);
    make_move<ANY_KIND>(move, piece, pieces(opposite(colour_of(piece))));
}

template <int KIND>
inline void Board::make_move(ChessMove move, Piece mover, Bitboard enemy_pieces) {
    const int from = move.from();
    const int to = move.to();
    const Bitboard from_bb = square_bb(from);
    const Bitboard to_bb = square_bb(to);
    std::uint64_t* const bb = bitboards.data();

    const StateWord old_state{bb[STATE]};
    const bool white_to_move = old_state.white_to_move();
    const Colour mover_colour = colour_of(mover);
    const int enemy_base = piece_of(opposite(mover_colour), PAWN);
    // A kind known at compile time lets the compiler drop the other kinds' rules.
    const int kind = KIND == ANY_KIND ? kind_of(mover) : KIND;

    // A captured piece is the opponent's first bitboard holding the to-square;
    // a piece of the mover's own colour there is neither captured nor moved.
    int captured = -1;
    if (to_bb & enemy_pieces) {
        captured = enemy_base;
#pragma GCC unroll 1
        while (!(bb[captured] & to_bb)) ++captured;
    }

    // Each changed bitboard is saved on its history stack before it changes.
    // Should a stack fail to grow, the bitboards already changed are restored
    // from their saved values before the failure is thrown: the board is then
    // exactly as it was.
    unsigned mask = 0;
    const auto save = [&](int piece) {
        if (!history[static_cast<std::size_t>(piece)].try_push(bb[piece])) [[unlikely]]
            detail::out_of_memory(*this, mask);
        mask |= 1u << piece;
    };
    save(mover);
    // Clearing from and setting to moves the piece even if to held a piece of
    // the same bitboard (a move onto an own piece merges the two).
    bb[mover] = (bb[mover] & ~from_bb) | to_bb;

    StateWord state = old_state;
    state.clear(StateWord::ALL_EN_PASSANT);
    // A pawn moving diagonally onto a square without an enemy captures en
    // passant; the state word's en-passant bits are not consulted.
    const bool en_passant = kind == PAWN && captured < 0 && file_of(to) != file_of(from);
    if (en_passant) captured = enemy_base + PAWN;
    if (captured >= 0) {
        save(captured);
        bb[captured] &= ~to_bb;
    }
    if (kind == PAWN) {
        // The side to move, not the mover's colour, picks the pawn taken en
        // passant; both candidate bitboards were saved above.
        if (en_passant) {
            if (white_to_move)
                bb[BLACK_PAWN] &= ~square_bb(StateWord::en_passant_victim(to, WHITE));
            else
                bb[WHITE_PAWN] &= ~square_bb(StateWord::en_passant_victim(to, BLACK));
        }
        if ((rank_of(to) == 0 || rank_of(to) == 7) && move.is_promotion()) {
            // Promotion codes 4-7 name knight, bishop, rook, queen, whose
            // kinds are 1-4: the code less 3 is the new piece's kind.
            const Piece promoted = piece_of(mover_colour, static_cast<Kind>(move.special() - 3));
            save(promoted);
            bb[mover] &= ~to_bb;
            bb[promoted] |= to_bb;
        }
        // A double step opens en passant for the opponent, who moves next.
        if (mover == WHITE_PAWN && rank_of(to) == rank_of(from) + 2)
            state.set(StateWord::en_passant_bit(BLACK, file_of(to)));
        else if (mover == BLACK_PAWN && rank_of(from) == rank_of(to) + 2)
            state.set(StateWord::en_passant_bit(WHITE, file_of(to)));
    }
    if (kind == KING && chess960) [[unlikely]] {
        // Chess960 castling is the king's move onto its own rook on the home
        // rank of the side to move: the king lands on the g- or c-file, the
        // rook beside it, either of them possibly where it already stood.
        const Piece rook = piece_of(mover_colour, ROOK);
        const int base = home_rank_base(white_to_move ? WHITE : BLACK);
        if ((bb[rook] & to_bb) && rank_of(from) == rank_of(to) && rank_of(to) == rank_of(base)) {
            const CastlingSide side = castling_side_toward(from, to);
            const Bitboard king_to = square_bb(base + castling_king_file(side));
            const Bitboard rook_to = square_bb(base + castling_rook_file(side));
            bb[mover] = (history[static_cast<std::size_t>(mover)].back() & ~from_bb) | king_to;
            save(rook);
            bb[rook] = (bb[rook] & ~to_bb) | rook_to;
        }
    } else if (kind == KING &&
               file_of(from) == file_of(castling_geometry(WHITE, KING_SIDE).king_from) &&
               (file_of(to) == castling_king_file(QUEEN_SIDE) ||
                file_of(to) == castling_king_file(KING_SIDE))) {
        // Castling: the side to move picks the rook's home rank. A rook that
        // is not on its corner is not conjured up: only a set bit moves.
        const Piece rook = piece_of(mover_colour, ROOK);
        save(rook);
        const CastlingGeometry& castling =
            castling_geometry(white_to_move ? WHITE : BLACK, castling_side_landing_on(to));
        const int rook_from = castling.rook_from;
        const int rook_to = castling.rook_to;
        const Bitboard was_there = bb[rook] & square_bb(rook_from);
        bb[rook] &= ~square_bb(rook_from);
        if (was_there) bb[rook] |= square_bb(rook_to);
    }

    if (state.any_castling_right()) {
        // Rights lost by moving the king or a rook off its home square count
        // only for the side to move; a rook captured on its home square loses
        // its right whoever is to move.
        const Colour side = white_to_move ? WHITE : BLACK;
        const std::uint64_t own_rights = StateWord::castling_rights(side);
        std::uint64_t lost = 0;
        if (mover == piece_of(side, KING)) lost |= own_rights;
        if (mover == piece_of(side, ROOK)) lost |= rook_home_right(from) & own_rights;
        if (captured == WHITE_ROOK)
            lost |= rook_home_right(to) & StateWord::castling_rights(WHITE);
        if (captured == BLACK_ROOK)
            lost |= rook_home_right(to) & StateWord::castling_rights(BLACK);
        state.clear(lost);
    }

    if (!undo_stack.try_push(UndoRecord{old_state.bits, static_cast<std::uint16_t>(mask)}))
        [[unlikely]]
        detail::out_of_memory(*this, mask);
    state.pass_turn();
    bb[STATE] = state.bits;
}

inline void Board::push_null() {
    // Its record saves no bitboard: only the state word changes.
    StateWord state{bitboards[STATE]};
    if (!undo_stack.try_push(UndoRecord{state.bits, 0})) [[unlikely]]
        detail::out_of_memory(*this, 0);
    state.clear(StateWord::ALL_EN_PASSANT);
    state.pass_turn();
    bitboards[STATE] = state.bits;
}

inline void Board::pop_move() {
    expect(!undo_stack.empty(), "no move to take back");
    // Field by field: copying the whole record would also load its padding,
    // which defeats store-to-load forwarding right after push_move.
    const UndoRecord& record = undo_stack.back();
    const std::uint64_t saved_state = record.saved_state;
    const unsigned pushed_mask = record.pushed_mask;
    undo_stack.pop_back();
    bitboards[STATE] = saved_state;
    // mask &= mask - 1 clears the lowest set bit: each saved bitboard in turn.
    for (unsigned mask = pushed_mask; mask; mask &= mask - 1) {
        const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
        bitboards[piece] = history[piece].back();
        history[piece].pop_back();
    }
}

}  // namespace vemla
