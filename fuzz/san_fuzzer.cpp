// SAN text in any position.
//
// Input: a FEN line, a newline, then up to four SAN texts, one per line. A
// FEN that does not read is replaced by the starting position. Each line is read by
// parse_san and by parse_san_reference, which must agree on the refusal or
// the move; a refused text leaves the board exactly as it was. A move read is
// one of the generator's legal moves; append_san and append_san_reference
// write the same SAN for it, and that SAN reads back to the same move. The
// move is then made, so the game goes on from the new position. A line of
// two bytes is also read as a raw move code for append_san, whose two paths
// must agree on it. Few lines keep each input cheap: the FEN line reaches
// any position directly.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "board/mod.hpp"
#include "fuzz_support.hpp"
#include "move_generator/legality.hpp"
#include "move_generator/mod.hpp"
#include "notation/san.hpp"

namespace vemla::fuzz {
namespace {

constexpr std::size_t MAX_LINES = 4;

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

// The words and stack sizes, enough to tell a changed board: every change
// goes through push_move and pop_move, which keep the stacks in step.
struct Snapshot {
    std::array<std::uint64_t, 13> words;
    std::size_t undo;
    explicit Snapshot(const Board& board) : words(board.bitboards), undo(board.undo_stack.size()) {}
    bool operator==(const Snapshot&) const = default;
};

// The same move, or two codes of one move that make the same change (a
// capture onto an occupied en-passant square is listed as both).
bool same_move(Board& board, ChessMove a, ChessMove b) {
    if (a == b) return true;
    if (a.from() != b.from() || a.to() != b.to()) return false;
    board.push_move(a);
    const Snapshot after_a(board);
    board.pop_move();
    board.push_move(b);
    const Snapshot after_b(board);
    board.pop_move();
    return after_a == after_b;
}

void check_text(Board& board, std::string_view text, std::string& san, std::string& again) {
    const Snapshot before(board);
    ChessMove fast = ChessMove::pack(0, 0), reference = ChessMove::pack(0, 0);
    const SanRejection a = parse_san(generator(), board, text, fast);
    CHECK(Snapshot(board) == before,
          "parse_san changed the board on " + quoted(text) + "\n" + describe(board));
    const SanRejection b = parse_san_reference(generator(), board, text, reference);
    CHECK(Snapshot(board) == before, "parse_san_reference changed the board on " + quoted(text));
    CHECK(a == b && (a != SanRejection::NONE || fast == reference),
          "the two readings of " + quoted(text) +
              " differ: " + std::to_string(static_cast<int>(a)) + " " + fast.to_string() + " / " +
              std::to_string(static_cast<int>(b)) + " " + reference.to_string() + "\n" +
              describe(board));
    if (a != SanRejection::NONE) return;

    // The reference takes its move from the list of legal moves, so the move
    // both agree on is legal; making it leaves the king safe.
    CHECK(legality::keeps_king_safe(generator(), board, fast),
          quoted(text) + " read as a move that leaves the king attacked");
    san.clear();
    again.clear();
    CHECK(append_san(generator(), board, fast, san),
          "append_san refused the move " + fast.to_string());
    CHECK(append_san_reference(generator(), board, fast, again) && san == again,
          "the two SANs of " + fast.to_string() + " differ: " + san + " / " + again + "\n" +
              describe(board));
    ChessMove back = ChessMove::pack(0, 0);
    CHECK(parse_san(generator(), board, san, back) == SanRejection::NONE &&
              same_move(board, back, fast),
          "the SAN " + san + " of " + fast.to_string() + " does not read back\n" + describe(board));
    CHECK(Snapshot(board) == before, "writing SAN changed the board");
    board.push_move(fast);
}

void check_code(Board& board, std::string_view line, std::string& san, std::string& again) {
    if (line.size() != 2) return;
    const auto value = static_cast<std::uint16_t>(static_cast<unsigned char>(line[0]) |
                                                  (static_cast<unsigned char>(line[1]) << 8));
    const Snapshot before(board);
    san.clear();
    again.clear();
    const bool a = append_san(generator(), board, ChessMove{value}, san);
    const bool b = append_san_reference(generator(), board, ChessMove{value}, again);
    CHECK(a == b && san == again, "the two SANs of code " + std::to_string(value) +
                                      " differ: " + san + " / " + again + "\n" + describe(board));
    CHECK(Snapshot(board) == before, "append_san changed the board");
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vemla;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    Board board;
    if (Board::read_fen(input.substr(0, newline), board) != FenRejection::NONE)
        board = Board::from_fen(DEFAULT_FEN);
    // Buffers kept from input to input: the search sees only the core's allocations.
    static std::string san, again;
    std::string_view rest =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    for (std::size_t lines = 0; !rest.empty() && lines < fuzz::MAX_LINES; ++lines) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        fuzz::check_code(board, line, san, again);
        fuzz::check_text(board, line, san, again);
    }
    return 0;
}
