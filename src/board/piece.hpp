// Colours, piece kinds and the twelve pieces of a Board.
#pragma once

namespace vemla {

enum Colour : int { WHITE, BLACK };

constexpr Colour opposite(Colour colour) { return static_cast<Colour>(colour ^ 1); }

// Kinds in the order of the piece bitboards. BISHOP and ROOK also select the
// bishop and rook attack tables of the move generator.
enum Kind : int { PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };

// Piece index = kind + 6 * colour: the index of the piece's bitboard in
// Board::bitboards, and its plane in the plane encoding.
enum Piece : int {
    WHITE_PAWN,
    WHITE_KNIGHT,
    WHITE_BISHOP,
    WHITE_ROOK,
    WHITE_QUEEN,
    WHITE_KING,
    BLACK_PAWN,
    BLACK_KNIGHT,
    BLACK_BISHOP,
    BLACK_ROOK,
    BLACK_QUEEN,
    BLACK_KING,
};

// FEN letters in piece-index order.
inline constexpr char PIECE_LETTERS[] = "PNBRQKpnbrqk";

constexpr Piece piece_of(Colour colour, Kind kind) { return static_cast<Piece>(kind + 6 * colour); }
constexpr Colour colour_of(Piece piece) { return piece < BLACK_PAWN ? WHITE : BLACK; }
constexpr Kind kind_of(Piece piece) {
    return static_cast<Kind>(piece < BLACK_PAWN ? piece : piece - BLACK_PAWN);
}

static_assert([] {
    for (int p = WHITE_PAWN; p <= BLACK_KING; ++p) {
        const auto piece = static_cast<Piece>(p);
        if (piece_of(colour_of(piece), kind_of(piece)) != piece) return false;
    }
    return piece_of(BLACK, QUEEN) == BLACK_QUEEN && colour_of(WHITE_KING) == WHITE &&
           opposite(WHITE) == BLACK && opposite(BLACK) == WHITE;
}());

}  // namespace vemla
