// Opening books in the Polyglot format: a file of 16-byte entries, sorted by
// position key, each holding a move and its weight for that position.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"

namespace vemla {

struct BookEntry {
    std::uint64_t key;   // the Polyglot key of the position (Board::zobrist)
    std::uint16_t move;  // the format's move code, see book_move
    std::uint16_t weight;
};

struct PolyglotBook {
    std::vector<BookEntry> entries;  // in file order, keys ascending

    // Reads a whole book file. Throws InvalidInput ("Invalid book: ...") when
    // its size is not a whole number of entries, its keys are not in
    // ascending order (a lookup could not find them) or a move names an
    // unknown promotion piece.
    static PolyglotBook from_bytes(std::span<const unsigned char> bytes);

    // The entries for one position, in file order.
    std::span<const BookEntry> find(std::uint64_t key) const;
};

// The move of a book entry on board, as the move generator writes it. The
// format writes castling as the king taking its own rook (e1h1); it becomes
// the king's two-square move (e1g1).
ChessMove book_move(const Board& board, std::uint16_t move);

}  // namespace vemla
