// Board: twelve piece bitboards, the state word, and the stacks that let every
// made move be taken back exactly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "board/bitboard.hpp"
#include "board/piece.hpp"
#include "board/square.hpp"
#include "board/state_word.hpp"
#include "board/stack.hpp"
#include "chess_move/mod.hpp"

namespace vemla {

inline constexpr int STATE = 12;  // index of the state word in Board::bitboards
// make_move's KIND when the mover's kind is only known at run time.
inline constexpr int ANY_KIND = -1;

// One per made move: the state word before it, and which piece bitboards the
// move saved on their history stacks (bit i: bitboards[i]).
struct UndoRecord {
    std::uint64_t saved_state;
    std::uint16_t pushed_mask;

    friend bool operator==(const UndoRecord&, const UndoRecord&) = default;
};

inline constexpr std::string_view DEFAULT_FEN =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

struct Board {
    std::array<std::uint64_t, 13> bitboards{};
    std::array<Stack<std::uint64_t>, 12> history;
    Stack<UndoRecord> undo_stack;

    // Reads all four FEN fields. Throws InvalidInput for a bad side-to-move,
    // castling or en-passant field, Panic for a bad placement or a missing field.
    static Board from_fen(std::string_view fen);

    // Writes the position as four-field FEN.
    std::string fen() const;

    // Applies any move whose from-square holds a piece, legal or not, and
    // records what is needed to take it back. Panics (board unchanged) if the
    // from-square is empty.
    void push_move(ChessMove move);
    // push_move for a known mover, which must be the first piece bitboard
    // holding the from-square; KIND is its kind (PAWN ... KING) if known at
    // compile time, else ANY_KIND; enemy_pieces is the union of the other
    // colour's six bitboards. The move generator uses it when no two piece
    // bitboards overlap and the mover is therefore its own piece.
    template <int KIND>
    void make_move(ChessMove move, Piece mover, Bitboard enemy_pieces);
    // Takes back the last made move. Panics (board unchanged) if there is none.
    void pop_move();

    // The union of one colour's six piece bitboards.
    Bitboard pieces(Colour colour) const {
        const std::uint64_t* const bb = bitboards.data() + piece_of(colour, PAWN);
        return bb[0] | bb[1] | bb[2] | bb[3] | bb[4] | bb[5];
    }
    Bitboard occupancy() const { return pieces(WHITE) | pieces(BLACK); }

    StateWord state() const { return StateWord{bitboards[STATE]}; }
    bool white_to_move() const { return state().white_to_move(); }
    Colour side_to_move() const { return state().side_to_move(); }
    // Colour-swapped mirror image in place; forgets the undo history.
    void reflect();

    friend bool operator==(const Board&, const Board&) = default;
};

// The twelve piece bitboards of the FEN's placement field (the first field).
std::array<std::uint64_t, 12> pieces_from_fen(std::string_view fen);

// 12 x 64 cells, plane-major (cell 64 * p + k): 1 where bit k of word p is set.
using Planes = std::array<std::uint8_t, 12 * 64>;
void expand_planes(const std::uint64_t* words, Planes& cells);

}  // namespace vemla

#include "board/make_unmake.hpp"
