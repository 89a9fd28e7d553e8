// Polyglot books from arbitrary bytes.
//
// Every input is read as a whole book file by PolyglotBook::from_bytes. It
// must be accepted exactly when its size is a whole number of 16-byte
// entries, the keys never decrease and no move names a promotion piece above
// 4; a refusal is an InvalidInput. An accepted book is then asked about the
// key of each of its entries and about keys between them: the entries found
// are exactly those with that key, in file order, and each move turns into a
// move that writes as text, on a position that holds a king on e1.
#include <cstdint>
#include <span>
#include <vector>

#include "board/mod.hpp"
#include "failure.hpp"
#include "fuzz_support.hpp"
#include "polyglot/book.hpp"

namespace vemla::fuzz {
namespace {

std::uint64_t big_endian(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

bool acceptable(const std::uint8_t* data, std::size_t size) {
    if (size % 16) return false;
    for (std::size_t at = 0; at < size; at += 16) {
        if (at && big_endian(data + at, 8) < big_endian(data + at - 16, 8)) return false;
        if (((big_endian(data + at + 8, 2) >> 12) & 7) > 4) return false;
    }
    return true;
}

void check_lookup(const PolyglotBook& book, std::uint64_t key, const Board& board) {
    const std::span<const BookEntry> found = book.find(key);
    std::size_t expected = 0;
    for (const BookEntry& e : book.entries) expected += e.key == key;
    CHECK(found.size() == expected, "find returned " + std::to_string(found.size()) + " entries");
    for (std::size_t i = 0; i < found.size(); ++i) {
        CHECK(found[i].key == key, "find returned another key");
        if (i) CHECK(&found[i] == &found[i - 1] + 1, "entries not contiguous");
        const ChessMove move = book_move(board, found[i].move);
        CHECK(move.to_string().size() >= 4, "a book move without text");
    }
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vemla;
    using namespace vemla::fuzz;
    if (size > 16 * 64 + 15) return -1;
    static const Board board = Board::from_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    const bool expected = acceptable(data, size);
    PolyglotBook book;
    try {
        book = PolyglotBook::from_bytes({data, size});
    } catch (const InvalidInput& e) {
        CHECK(!expected, "a well-formed book refused: " + e.message());
        CHECK(e.message().starts_with("Invalid book: "), "message " + e.message());
        return 0;
    }
    CHECK(expected, "a malformed book accepted");
    CHECK(book.entries.size() == size / 16, "entry count");
    for (const BookEntry& entry : book.entries) {
        check_lookup(book, entry.key, board);
        check_lookup(book, entry.key + 1, board);
    }
    check_lookup(book, 0, board);
    return 0;
}
