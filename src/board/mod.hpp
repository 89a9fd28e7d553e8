// Board: twelve piece bitboards, the state word, and the stacks that let every
// made move be taken back exactly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "board/bitboard.hpp"
#include "board/stack.hpp"
#include "chess_move/mod.hpp"

namespace vemla {

// Piece index = kind + 6 * colour; FEN letters "PNBRQKpnbrqk" in index order.
enum Piece : int {
    WHITE_PAWN, WHITE_KNIGHT, WHITE_BISHOP, WHITE_ROOK, WHITE_QUEEN, WHITE_KING,
    BLACK_PAWN, BLACK_KNIGHT, BLACK_BISHOP, BLACK_ROOK, BLACK_QUEEN, BLACK_KING,
};
enum Kind : int { PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };
inline constexpr char PIECE_LETTERS[] = "PNBRQKpnbrqk";
inline constexpr int STATE = 12;  // index of the state word in Board::bitboards
inline constexpr int ANY_KIND = -1;

// State word layout (bitboards[12]):
//   bit  0      white to move (clear: black to move)
//   bits 1-4    castling rights K, Q, k, q
//   bits 5-12   bit 5 + f: white to move and may capture en passant on file f
//   bits 13-20  bit 13 + f: black to move and may capture en passant on file f
//   bits 21-63  carry nothing; kept as they are by every operation but reflect
// The en-passant square is kept as a file only; its rank follows from the side
// to move. There is no move clock or move number.
namespace state {
inline constexpr std::uint64_t WHITE_TO_MOVE = 1;
inline constexpr std::uint64_t WHITE_KING_SIDE = 1 << 1;
inline constexpr std::uint64_t WHITE_QUEEN_SIDE = 1 << 2;
inline constexpr std::uint64_t BLACK_KING_SIDE = 1 << 3;
inline constexpr std::uint64_t BLACK_QUEEN_SIDE = 1 << 4;
inline constexpr std::uint64_t CASTLING = 0x1E;
inline constexpr int WHITE_EP_SHIFT = 5;
inline constexpr int BLACK_EP_SHIFT = 13;
inline constexpr std::uint64_t EN_PASSANT = 0xFFFFull << WHITE_EP_SHIFT;  // bits 5-20
inline constexpr std::uint64_t LOW_BITS = 0x1FFFFF;                       // bits 0-20
}  // namespace state

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
    void make_move(ChessMove move, int mover, Bitboard enemy_pieces);
    // Takes back the last made move. Panics (board unchanged) if there is none.
    void pop_move();

    bool white_to_move() const { return bitboards[STATE] & state::WHITE_TO_MOVE; }
    // Colour-swapped mirror image in place; forgets the undo history.
    void reflect();

    friend bool operator==(const Board&, const Board&) = default;
};

// The twelve piece bitboards of the FEN's placement field (the first field).
std::array<std::uint64_t, 12> pieces_from_fen(std::string_view fen);

// The castling field of FEN ("KQkq" order, "-" for none) and its en-passant
// field (the side to move's lowest file, "-" for none) for a state word.
void append_castling(std::string& out, std::uint64_t word);
void append_en_passant(std::string& out, std::uint64_t word);

// 12 x 64 cells, plane-major (cell 64 * p + k): 1 where bit k of word p is set.
using Planes = std::array<std::uint8_t, 12 * 64>;
void expand_planes(const std::uint64_t* words, Planes& cells);

}  // namespace vemla

#include "board/make_unmake.hpp"
