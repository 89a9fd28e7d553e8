// Board: twelve piece bitboards, the state word, and the stacks that let every
// made move be taken back exactly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "board/bitboard.hpp"
#include "board/castling_geometry.hpp"
#include "board/piece.hpp"
#include "board/piece_planes.hpp"
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

// Why a FEN was refused, named after the field and the rule. The first five
// are malformed text (Panic), the rest rejected values (InvalidInput);
// from_full_fen refuses every one of them as InvalidInput.
enum class FenRejection : std::uint8_t {
    NONE,
    NO_PLACEMENT,
    PIECE_TYPE,
    NO_SIDE_TO_MOVE,
    NO_CASTLING,
    NO_EN_PASSANT,
    SIDE_TO_MOVE,
    CASTLING,
    EN_PASSANT,
    HALFMOVE_CLOCK,
    MOVE_NUMBER,
    // Only from the full reader, which also checks the placement's shape.
    PLACEMENT_SHAPE,
    PLACEMENT_CHARACTER,
    // Only from the full reader of Chess960 positions: a right without its
    // king, or without its rook.
    CASTLING_KING,
    CASTLING_ROOK,
};
inline constexpr bool is_panic(FenRejection r) {
    return r >= FenRejection::NO_PLACEMENT && r <= FenRejection::NO_EN_PASSANT;
}
// The whole message of a refusal, prefix included.
std::string_view fen_rejection_message(FenRejection rejection);
// Throws what a refusal stands for: Panic or InvalidInput with its message.
[[noreturn]] void throw_fen_rejection(FenRejection rejection);

inline constexpr std::string_view DEFAULT_FEN =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

struct Board {
    std::array<std::uint64_t, 13> bitboards{};
    std::array<Stack<std::uint64_t>, 12> history;
    Stack<UndoRecord> undo_stack;

    // Reads all four FEN fields. Throws InvalidInput for a bad side-to-move,
    // castling or en-passant field, Panic for a bad placement or a missing field.
    static Board from_fen(std::string_view fen);
    // from_fen without exceptions: on NONE, board holds the position read;
    // otherwise board is left as it was. Callers that meet many bad texts
    // (a fuzzer, a bulk loader) test the result instead of catching.
    static FenRejection read_fen(std::string_view fen, Board& board);
    // The checked reader of standard FEN: the four fields as from_fen reads
    // them, but only in their standard form (eight ranks of eight squares
    // written with piece letters and the digits 1 to 8; castling "-" or each
    // of K, Q, k, q at most once; en passant "-" or a square on the rank the
    // side to move captures onto), then the two move counters of the fifth
    // and sixth fields: non-negative decimal integers, 0 and 1 where the text
    // ends before them. Fields after the sixth are ignored. Every refusal,
    // a missing field included, is InvalidInput.
    //
    // With chess960 the board is a Chess960 board and the castling field is
    // read as X-FEN or Shredder-FEN (read_chess960_castling in fen_read.cpp);
    // a right whose king or rook is missing is refused.
    static Board from_full_fen(std::string_view fen, bool chess960 = false);
    static FenRejection read_full_fen(std::string_view fen, Board& board, bool chess960 = false);
    // The Chess960 start position of number n (0 to 959; 518 is the standard
    // start), all four rights set. Throws InvalidInput for any other number.
    static Board from_chess960(long long n);
    // The placement's back rank of Chess960 start n ("RNBQKBNR" for 518);
    // n must be 0 to 959.
    static std::string chess960_back_rank(int n);

    // The counters of the position the undo history starts from. The current
    // ones are derived from these and the undo records, so making and taking
    // back moves never touches them.
    std::uint64_t start_halfmove_clock = 0;
    std::uint64_t start_fullmove_number = 1;

    // Whether castling follows the Chess960 rules: the king castles by moving
    // onto its own rook, and the home files of kings and rooks are
    // castling_files' (on a standard board they are the e-, a- and h-files and
    // castling is the king's two-square move).
    bool chess960 = false;
    CastlingFiles castling_files{};

    // The castling rights whose rook starts on sq (none for most squares).
    std::uint64_t rook_home_right(int sq) const;

    // Writes the position as four-field FEN. A Chess960 board writes its
    // castling field as X-FEN (K/Q/k/q for the outermost rook of a side, the
    // rook's file letter otherwise), or with shredder as Shredder-FEN (always
    // the file letters).
    std::string fen(bool shredder = false) const;
    // fen() followed by the half-move clock and the move number.
    std::string full_fen(bool shredder = false) const;

    // Plies since the last capture or pawn move (or since the start counter,
    // if the undo history holds none).
    std::uint64_t halfmove_clock() const;
    // The number of the move in progress: it grows by one after each move of
    // Black.
    std::uint64_t fullmove_number() const;

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
    // The side to move passes (the null move of game files): no piece moves,
    // the en-passant files clear and the other side is to move; castling
    // rights stay. pop_move takes it back like any move.
    void push_null();
    // Takes back the last made move. Panics (board unchanged) if there is none.
    void pop_move();

    // The bitboard of one piece: a colour's pieces of one kind.
    Bitboard& word(Piece piece) { return bitboards[static_cast<std::size_t>(piece)]; }
    Bitboard word(Piece piece) const { return bitboards[static_cast<std::size_t>(piece)]; }
    Bitboard pieces(Colour colour, Kind kind) const { return word(piece_of(colour, kind)); }
    // The union of one colour's six piece bitboards.
    Bitboard pieces(Colour colour) const {
        const std::uint64_t* const bb = bitboards.data() + piece_of(colour, PAWN);
        return bb[0] | bb[1] | bb[2] | bb[3] | bb[4] | bb[5];
    }
    Bitboard occupancy() const { return pieces(WHITE) | pieces(BLACK); }

    StateWord state() const { return StateWord{bitboards[STATE]}; }
    bool white_to_move() const { return state().white_to_move(); }
    Colour side_to_move() const { return state().side_to_move(); }
    // Colour-swapped mirror image in place; forgets the undo history but keeps
    // the move counters' values.
    void reflect();

    // The number of moves that can be taken back.
    std::size_t ply() const { return undo_stack.size(); }
    // How often the current position (the twelve piece bitboards and the
    // state word) occurs in the line the undo history describes: the starting
    // position and the position after each move that can be taken back, the
    // current one included. Derived from the undo records; at least 1.
    int repetitions() const;
    // The Polyglot opening-book key of the position: pieces, castling rights,
    // the en-passant file where a pawn of the side to move can capture on it,
    // and the side to move. The move counters do not count.
    std::uint64_t zobrist() const;
    // Neither side can ever mate: besides the kings the board holds nothing,
    // or one knight, or only bishops (of either colour) that all stand on
    // squares of one colour.
    bool insufficient_material() const;

    friend bool operator==(const Board&, const Board&) = default;
};

// The twelve piece bitboards of the FEN's placement field (the first field).
std::array<std::uint64_t, 12> pieces_from_fen(std::string_view fen);
// pieces_from_fen without exceptions: words is set only on NONE.
FenRejection read_pieces(std::string_view fen, std::array<std::uint64_t, 12>& words);

// The castling field of FEN ("KQkq" order, "-" for none) and its en-passant
// field (the side to move's lowest file, "-" for none) for a state word.
void append_castling(std::string& out, StateWord word);
// The castling field of a Chess960 board (X-FEN, or Shredder-FEN).
void append_chess960_castling(std::string& out, const Board& board, bool shredder);
void append_en_passant(std::string& out, StateWord word);

}  // namespace vemla

#include "board/make_unmake.hpp"
