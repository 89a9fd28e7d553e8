// FEN reading and writing on arbitrary bytes.
//
// Every input goes to pieces_from_fen and Board::from_fen. Their outcome (the
// words read, or which failure with which message) is compared with a small
// independent reader that follows the documented dialect step by step. When
// the text is accepted, the board is written back with fen() and that text
// must read back to the board's canonical form: the first piece in index
// order on each square, the castling bits, and only the lowest en-passant
// file of the side to move. Writing that board again gives the same text.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "failure.hpp"
#include "fuzz_support.hpp"

namespace vemla::fuzz {
namespace {

using Words = std::array<std::uint64_t, 13>;

struct Outcome {
    enum Kind { READ, PANIC, INVALID } kind = READ;
    std::string message;  // for the reference: empty means any message will do
    Words words{};
};

const char* kind_name(Outcome::Kind kind) {
    return kind == Outcome::READ ? "read" : kind == Outcome::PANIC ? "Panic" : "InvalidInput";
}

// The placement field: ranks in reverse order of writing, "/" never moves the
// square counter, digits add their value, letters set bit (counter mod 64).
Outcome reference_pieces(std::string_view text) {
    Outcome out;
    const std::vector<std::string_view> fields = split_fields(text);
    if (fields.empty()) return {Outcome::PANIC, "", {}};
    std::vector<std::string_view> ranks;
    std::string_view rest = fields[0];
    for (std::size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest.remove_prefix(slash + 1))
        ranks.push_back(rest.substr(0, slash));
    ranks.push_back(rest);
    std::uint64_t counter = 0;
    for (auto rank = ranks.rbegin(); rank != ranks.rend(); ++rank) {
        for (const Char& c : decode(*rank)) {
            if (c.value >= '0' && c.value <= '9') {
                counter += c.value - '0';
                continue;
            }
            const std::string_view letters(PIECE_LETTERS);
            const std::size_t piece = c.value < 0x80 ? letters.find(static_cast<char>(c.value)) : letters.npos;
            if (piece == letters.npos) return {Outcome::PANIC, "Invalid piece type", {}};
            out.words[piece] |= std::uint64_t{1} << (counter % 64);
            ++counter;
        }
    }
    return out;
}

Outcome reference_board(std::string_view text) {
    Outcome out = reference_pieces(text);
    if (out.kind != Outcome::READ) return out;
    const std::vector<std::string_view> fields = split_fields(text);
    if (fields.size() < 2) return {Outcome::PANIC, "", {}};
    // The state word's layout written out again, independently of StateWord:
    // bit 0 white to move, bits 1-4 KQkq, en-passant files from bit 5 (white
    // to move) or bit 13 (black to move).
    std::uint64_t word = 0;
    if (fields[1] == "w")
        word = 1;
    else if (fields[1] != "b")
        return {Outcome::INVALID, "Invalid fen: Invalid side-to-move", {}};
    if (fields.size() < 3) return {Outcome::PANIC, "", {}};
    for (const Char& c : decode(fields[2])) {
        if (c.value == '-') break;
        const std::size_t right = std::string_view("KQkq").find(c.value < 0x80 ? static_cast<char>(c.value) : '?');
        if (right == std::string_view::npos) return {Outcome::INVALID, "Invalid fen: Invalid castling specifier", {}};
        word |= std::uint64_t{2} << right;
    }
    if (fields.size() < 4) return {Outcome::PANIC, "", {}};
    if (fields[3] != "-") {
        const char32_t file = decode(fields[3]).front().value;
        // Any message will do for a field that does not start with a file letter.
        if (file < 'a' || file > 'h') return {Outcome::INVALID, "", {}};
        const int group = (word & 1) ? 5 : 13;
        word |= std::uint64_t{1} << (group + static_cast<int>(file - 'a'));
    }
    out.words[STATE] = word;
    return out;
}

template <typename F>
Outcome run(F&& read) {
    try {
        return {Outcome::READ, "", read()};
    } catch (const Panic& e) {
        return {Outcome::PANIC, e.what(), {}};
    } catch (const InvalidInput& e) {
        return {Outcome::INVALID, e.what(), {}};
    }
    // Anything else escapes: libFuzzer reports it as a crash.
}

void compare(const Outcome& expected, const Outcome& actual, std::string_view text, const char* reader) {
    const std::string where = std::string(reader) + " on " + quoted(text);
    CHECK(actual.kind == expected.kind, where + ": expected " + kind_name(expected.kind) + ", got " +
                                            kind_name(actual.kind) + " (" + actual.message + ")");
    if (expected.kind == Outcome::READ) {
        CHECK(actual.words == expected.words, where + ": read the wrong words");
        return;
    }
    if (!expected.message.empty())
        CHECK(actual.message == expected.message,
              where + ": message \"" + actual.message + "\", expected \"" + expected.message + "\"");
    if (expected.kind == Outcome::INVALID)
        CHECK(actual.message.rfind("Invalid fen: ", 0) == 0, where + ": message lacks its prefix: " + actual.message);
}

// What a board becomes when written and read again.
Words canonical(const Words& words) {
    Words out{};
    for (int sq = 0; sq < 64; ++sq) {
        const std::uint64_t bit = std::uint64_t{1} << sq;
        for (std::size_t piece = 0; piece < 12; ++piece) {
            if (words[piece] & bit) {
                out[piece] |= bit;
                break;
            }
        }
    }
    const std::uint64_t word = words[STATE];
    const int group = (word & 1) ? 5 : 13;
    const std::uint64_t files = (word >> group) & 0xFF;
    out[STATE] = (word & 0x1F) | ((files & (~files + 1)) << group);
    return out;
}

void check_text(std::string_view text, int depth) {
    const Outcome expected_pieces = reference_pieces(text);
    const Outcome pieces = run([&] {
        Words words{};
        const auto read = pieces_from_fen(text);
        std::copy(read.begin(), read.end(), words.begin());
        return words;
    });
    compare(expected_pieces, pieces, text, "pieces_from_fen");

    Board board;
    const Outcome expected_board = reference_board(text);
    const Outcome read = run([&] {
        board = Board::from_fen(text);
        return board.bitboards;
    });
    compare(expected_board, read, text, "Board::from_fen");
    if (read.kind != Outcome::READ) return;

    CHECK(board.undo_stack.empty(), "fresh board has undo records");
    for (const auto& h : board.history) CHECK(h.empty(), "fresh board has history");
    CHECK((board.bitboards[STATE] & StateWord::HIGH_BITS) == 0, "state word has bits above 20");

    Planes cells;
    expand_planes(board.bitboards.data(), cells);
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            CHECK(cells[64 * p + k] == ((board.bitboards[p] >> k) & 1), "expand_planes cell is wrong");

    const std::string written = board.fen();
    const Outcome reread = run([&] { return Board::from_fen(written).bitboards; });
    CHECK(reread.kind == Outcome::READ, "fen() wrote text that does not read back: " + quoted(written) + " (" +
                                            reread.message + "), from " + quoted(text));
    CHECK(reread.words == canonical(board.bitboards),
          "fen() text " + quoted(written) + " reads back to another board, from " + quoted(text));
    const Board again = Board::from_fen(written);
    CHECK(again.fen() == written, "fen() is not stable: " + quoted(written) + " then " + quoted(again.fen()));
    // The written text must also satisfy the reference reader.
    if (depth == 0) check_text(written, depth + 1);
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Reading is linear in the input; longer texts only slow the search.
    if (size > 4096) return -1;
    vemla::fuzz::check_text(std::string_view(reinterpret_cast<const char*>(data), size), 0);
    return 0;
}
