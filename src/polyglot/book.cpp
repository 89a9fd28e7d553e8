// Reading Polyglot books and looking positions up in them.
#include "polyglot/book.hpp"

#include <algorithm>
#include <string>

#include "board/castling_geometry.hpp"
#include "failure.hpp"

namespace vemla {

namespace {

constexpr std::size_t ENTRY_SIZE = 16;

// Entries are big-endian: key (8 bytes), move (2), weight (2), learn (4, unused).
std::uint64_t read_big_endian(const unsigned char* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

// Move code fields: to file bits 0-2, to rank 3-5, from file 6-8, from rank
// 9-11, promotion 12-14 (0 none, 1 knight, 2 bishop, 3 rook, 4 queen).
constexpr int promotion_of(std::uint16_t move) { return (move >> 12) & 7; }

[[noreturn]] void invalid_book(const std::string& reason) {
    throw InvalidInput("Invalid book: " + reason);
}

}  // namespace

PolyglotBook PolyglotBook::from_bytes(std::span<const unsigned char> bytes) {
    if (bytes.size() % ENTRY_SIZE != 0)
        invalid_book("size " + std::to_string(bytes.size()) + " is not a multiple of 16 bytes");
    PolyglotBook book;
    book.entries.reserve(bytes.size() / ENTRY_SIZE);
    for (std::size_t offset = 0; offset < bytes.size(); offset += ENTRY_SIZE) {
        const unsigned char* const p = bytes.data() + offset;
        const BookEntry entry{read_big_endian(p, 8),
                              static_cast<std::uint16_t>(read_big_endian(p + 8, 2)),
                              static_cast<std::uint16_t>(read_big_endian(p + 10, 2))};
        const std::size_t index = offset / ENTRY_SIZE;
        if (!book.entries.empty() && entry.key < book.entries.back().key)
            invalid_book("keys are not in ascending order at entry " + std::to_string(index));
        if (promotion_of(entry.move) > 4)
            invalid_book("unknown promotion piece at entry " + std::to_string(index));
        book.entries.push_back(entry);
    }
    return book;
}

std::span<const BookEntry> PolyglotBook::find(std::uint64_t key) const {
    const auto by_key = [](const BookEntry& e, std::uint64_t k) { return e.key < k; };
    const auto first = std::lower_bound(entries.begin(), entries.end(), key, by_key);
    auto last = first;
    while (last != entries.end() && last->key == key) ++last;
    return {first, last};
}

ChessMove book_move(const Board& board, std::uint16_t move) {
    const int to = move & 63;
    const int from = (move >> 6) & 63;
    const int promotion = promotion_of(move);
    if (promotion) return ChessMove::pack(from, to, ChessMove::PROMOTE_KNIGHT + promotion - 1);

    // Castling: the king of the side to move on its home square, "taking" a
    // corner of its own rank. A Chess960 board writes castling that way too.
    if (board.chess960) return ChessMove::pack(from, to);
    const Colour side = board.side_to_move();
    const Bitboard king = board.pieces(side, KING);
    for (const CastlingSide castling : {KING_SIDE, QUEEN_SIDE}) {
        const CastlingGeometry& g = castling_geometry(side, castling);
        if (from == g.king_from && to == g.rook_from && (king & square_bb(from)))
            return ChessMove::pack(from, g.king_to, ChessMove::CASTLING);
    }
    return ChessMove::pack(from, to);
}

}  // namespace vemla
