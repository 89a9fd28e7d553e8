// FEN reading and writing on arbitrary bytes.
//
// Every input goes to read_pieces and Board::read_fen. Their outcome (the
// words read, or which failure with which message) is compared with a small
// independent reader that follows the documented dialect step by step, and
// so is that of the throwing forms pieces_from_fen and Board::from_fen. When
// the text is accepted, the board is written back with fen() and that text
// must read back to the board's canonical form: the first piece in index
// order on each square, the castling bits, and only the lowest en-passant
// file of the side to move. Writing that board again gives the same text.
//
// The same text is also read as a Chess960 position (X-FEN or Shredder-FEN
// castling): a refusal leaves the board alone; a board read holds, for every
// right, its king and rook on their home squares on the right sides, and
// both castling forms it writes read back to the same board; its move lists
// by the fast filter and by making every move agree.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "failure.hpp"
#include "move_generator/mod.hpp"
#include "fuzz_support.hpp"

namespace vemla::fuzz {
namespace {

using Words = std::array<std::uint64_t, 13>;

struct Outcome {
    enum Kind { READ, PANIC, INVALID } kind = READ;
    // A text of the reader's own or kept by the caller (see run); for the
    // reference, empty means any message will do.
    std::string_view message;
    Words words{};
};

const char* kind_name(Outcome::Kind kind) {
    return kind == Outcome::READ ? "read" : kind == Outcome::PANIC ? "Panic" : "InvalidInput";
}

// Scratch buffers of the reference reader, reused from input to input so
// that the harness adds no allocations of its own to each run.
struct Scratch {
    std::vector<std::string_view> fields;
    std::vector<std::string_view> ranks;
    std::vector<Char> chars;
};

// The placement field: ranks in reverse order of writing, "/" never moves the
// square counter, digits add their value, letters set bit (counter mod 64).
// fields: the white-space separated fields of the text.
Outcome reference_pieces(const std::vector<std::string_view>& fields, Scratch& scratch) {
    Outcome out;
    if (fields.empty()) return {Outcome::PANIC, "", {}};
    std::vector<std::string_view>& ranks = scratch.ranks;
    ranks.clear();
    std::string_view rest = fields[0];
    for (std::size_t slash; (slash = rest.find('/')) != std::string_view::npos;
         rest.remove_prefix(slash + 1))
        ranks.push_back(rest.substr(0, slash));
    ranks.push_back(rest);
    std::uint64_t counter = 0;
    for (auto rank = ranks.rbegin(); rank != ranks.rend(); ++rank) {
        decode_into(*rank, scratch.chars);
        for (const Char& c : scratch.chars) {
            if (c.value >= '0' && c.value <= '9') {
                counter += c.value - '0';
                continue;
            }
            const std::string_view letters(PIECE_LETTERS);
            const std::size_t piece =
                c.value < 0x80 ? letters.find(static_cast<char>(c.value)) : letters.npos;
            if (piece == letters.npos) return {Outcome::PANIC, "Invalid piece type", {}};
            out.words[piece] |= std::uint64_t{1} << (counter % 64);
            ++counter;
        }
    }
    return out;
}

Outcome reference_board(const std::vector<std::string_view>& fields, Scratch& scratch) {
    Outcome out = reference_pieces(fields, scratch);
    if (out.kind != Outcome::READ) return out;
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
    decode_into(fields[2], scratch.chars);
    for (const Char& c : scratch.chars) {
        if (c.value == '-') break;
        const std::size_t right =
            std::string_view("KQkq").find(c.value < 0x80 ? static_cast<char>(c.value) : '?');
        if (right == std::string_view::npos)
            return {Outcome::INVALID, "Invalid fen: Invalid castling specifier", {}};
        word |= std::uint64_t{2} << right;
    }
    if (fields.size() < 4) return {Outcome::PANIC, "", {}};
    if (fields[3] != "-") {
        decode_into(fields[3], scratch.chars);
        const char32_t file = scratch.chars.front().value;
        // Any message will do for a field that does not start with a file letter.
        if (file < 'a' || file > 'h') return {Outcome::INVALID, "", {}};
        const int group = (word & 1) ? 5 : 13;
        word |= std::uint64_t{1} << (group + static_cast<int>(file - 'a'));
    }
    out.words[STATE] = word;
    return out;
}

// The outcome of a throwing reader; the message of what it threw is kept in
// storage, which must outlive the outcome.
template <typename F>
Outcome run(F&& read, std::string& storage) {
    try {
        return {Outcome::READ, "", read()};
    } catch (const Panic& e) {
        storage = e.message();
        return {Outcome::PANIC, storage, {}};
    } catch (const InvalidInput& e) {
        storage = e.message();
        return {Outcome::INVALID, storage, {}};
    }
    // Anything else escapes: libFuzzer reports it as a crash.
}

// Twelve piece words with an empty state word after them.
Words with_empty_state(const std::array<std::uint64_t, 12>& pieces) {
    Words out{};
    std::copy(pieces.begin(), pieces.end(), out.begin());
    return out;
}

Outcome outcome_of(FenRejection rejection, const Words& words) {
    if (rejection == FenRejection::NONE) return {Outcome::READ, "", words};
    return {is_panic(rejection) ? Outcome::PANIC : Outcome::INVALID,
            fen_rejection_message(rejection),
            {}};
}

// The throwing readers are the non-throwing ones plus a throw chosen by the
// rejection alone. A throw under the sanitizers costs more than everything
// else an input does, so each rejection's throw is compared the first time
// it turns up; an accepted text throws nothing and is always compared.
bool first_time(FenRejection rejection, int reader) {
    static std::array<std::array<bool, 16>, 2> seen{};
    bool& slot = seen[static_cast<std::size_t>(reader)][static_cast<std::size_t>(rejection) & 15];
    if (rejection != FenRejection::NONE && slot) return false;
    slot = true;
    return true;
}

void compare(const Outcome& expected, const Outcome& actual, std::string_view text,
             const char* reader) {
    // Built only for a failure message.
    const auto where = [&] { return std::string(reader) + " on " + quoted(text); };
    CHECK(actual.kind == expected.kind, where() + ": expected " + kind_name(expected.kind) +
                                            ", got " + kind_name(actual.kind) + " (" +
                                            std::string(actual.message) + ")");
    if (expected.kind == Outcome::READ) {
        CHECK(actual.words == expected.words, where() + ": read the wrong words");
        return;
    }
    if (!expected.message.empty())
        CHECK(actual.message == expected.message,
              where() + ": message \"" + std::string(actual.message) + "\", expected \"" +
                  std::string(expected.message) + "\"");
    if (expected.kind == Outcome::INVALID)
        CHECK(actual.message.starts_with("Invalid fen: "),
              where() + ": message lacks its prefix: " + std::string(actual.message));
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

void check_chess960(std::string_view text) {
    static const Board before = Board::from_fen(DEFAULT_FEN);
    Board board = before;
    if (Board::read_full_fen(text, board, true) != FenRejection::NONE) {
        check_same(before, board, "a refused Chess960 FEN changed the board");
        return;
    }
    CHECK(board.chess960, "a Chess960 read gave a standard board");
    const StateWord state = board.state();
    for (const Colour colour : {WHITE, BLACK})
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE}) {
            if (!state.may_castle(colour, side)) continue;
            const Chess960Geometry g = chess960_geometry(board.castling_files, colour, side);
            CHECK(board.pieces(colour, KING) & square_bb(g.king_from), "a right without its king");
            CHECK(board.pieces(colour, ROOK) & square_bb(g.rook_from), "a right without its rook");
            CHECK((side == KING_SIDE) == (g.rook_from > g.king_from), "a rook on the wrong side");
        }
    for (const bool shredder : {false, true}) {
        const std::string written = board.full_fen(shredder);
        Board again;
        CHECK(Board::read_full_fen(written, again, true) == FenRejection::NONE,
              "a Chess960 FEN written does not read back: " + quoted(written));
        CHECK(again.bitboards == board.bitboards && again.castling_files == board.castling_files,
              "a Chess960 FEN reads back to another board: " + quoted(written));
    }
    static const MoveGenerator generator;
    MoveList fast, reference;
    generator.generate(board, fast);
    generator.generate_reference(board, reference);
    CHECK(fast.size == reference.size &&
              std::equal(fast.begin(), fast.end(), reference.begin(), reference.end()),
          "the Chess960 move lists differ for " + quoted(board.full_fen()));
}

void check_text(std::string_view text, int depth) {
    static Scratch scratch;
    split_fields(text, scratch.fields);
    const Outcome expected_pieces = reference_pieces(scratch.fields, scratch);
    std::array<std::uint64_t, 12> read_words{};
    const FenRejection pieces_rejection = read_pieces(text, read_words);
    const Outcome pieces = outcome_of(pieces_rejection, with_empty_state(read_words));
    compare(expected_pieces, pieces, text, "read_pieces");
    if (pieces.kind != Outcome::READ)
        CHECK(read_words == decltype(read_words){}, "a refused placement changed the words");
    if (first_time(pieces_rejection, 0)) {
        std::string storage;
        const Outcome thrown =
            run([&] { return with_empty_state(pieces_from_fen(text)); }, storage);
        compare(expected_pieces, thrown, text, "pieces_from_fen");
    }

    // A refused text must leave the board it was to be read into as it was.
    static const Board before = Board::from_fen(DEFAULT_FEN);
    Board board = before;
    const Outcome expected_board = reference_board(scratch.fields, scratch);
    const FenRejection board_rejection = Board::read_fen(text, board);
    const Outcome read = outcome_of(board_rejection, board.bitboards);
    compare(expected_board, read, text, "Board::read_fen");
    if (first_time(board_rejection, 1)) {
        std::string storage;
        const Outcome thrown = run([&] { return Board::from_fen(text).bitboards; }, storage);
        compare(expected_board, thrown, text, "Board::from_fen");
    }
    if (read.kind != Outcome::READ) {
        check_same(before, board, "a refused FEN changed the board");
        return;
    }

    CHECK(board.undo_stack.empty(), "fresh board has undo records");
    for (const auto& h : board.history) CHECK(h.empty(), "fresh board has history");
    CHECK((board.bitboards[STATE] & StateWord::HIGH_BITS) == 0, "state word has bits above 20");

    Planes cells;
    expand_planes(board.bitboards.data(), cells);
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            CHECK(cells[64 * p + k] == ((board.bitboards[p] >> k) & 1),
                  "expand_planes cell is wrong");

    const std::string written = board.fen();
    std::string storage;
    const Outcome reread = run([&] { return Board::from_fen(written).bitboards; }, storage);
    CHECK(reread.kind == Outcome::READ,
          "fen() wrote text that does not read back: " + quoted(written) + " (" +
              std::string(reread.message) + "), from " + quoted(text));
    CHECK(reread.words == canonical(board.bitboards),
          "fen() text " + quoted(written) + " reads back to another board, from " + quoted(text));
    const Board again = Board::from_fen(written);
    CHECK(again.fen() == written,
          "fen() is not stable: " + quoted(written) + " then " + quoted(again.fen()));
    // The written text must also satisfy the reference reader.
    if (depth == 0) check_text(written, depth + 1);
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Reading is linear in the input; longer texts only slow the search.
    if (size > 4096) return -1;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vemla::fuzz::check_text(text, 0);
    vemla::fuzz::check_chess960(text);
    return 0;
}
