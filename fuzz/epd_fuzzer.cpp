// The EPD reader on arbitrary bytes, fed in chunks of random sizes.
//
// The first two bytes seed the chunk size and the line size limit; the rest
// is the EPD text. It is read twice: in one chunk, and in chunks of 1 to 64
// bytes from a source that returns random short counts. Both must give the
// same records (line numbers, text, errors, positions, operations, moves),
// and the reader must hold no more than a chunk and the limit. Every record
// is checked on its own: each bm and am move is legal in its position, the
// pv is legal move after move, the board has no moves to take back, an
// error-free record resolved every operand and writes back to a line that
// reads to the same operands and moves, and reading its text again as one
// line gives the same record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "move_generator/mod.hpp"
#include "notation/epd.hpp"

namespace vemla::fuzz {
namespace {

// 64 KiB, or for three seeds in four 16 to 271 bytes, so that short inputs
// have lines over the limit too.
std::size_t line_limit(std::uint8_t seed) {
    return (seed & 3) == 0 ? epd::DEFAULT_LINE_LIMIT : 16 + static_cast<std::size_t>(seed);
}

// A record as plain values, for comparisons.
struct Seen {
    std::uint64_t line;
    std::string text, error, fen;
    bool has_board;
    std::vector<std::string> operations;  // opcode, then its operands, each closed by "\x01"
    std::vector<std::uint16_t> best, avoid, pv;

    friend bool operator==(const Seen&, const Seen&) = default;
};

std::vector<std::uint16_t> codes(const std::vector<ChessMove>& moves) {
    std::vector<std::uint16_t> out;
    for (const ChessMove m : moves) out.push_back(m.value);
    return out;
}

Seen seen(const epd::EpdRecord& r) {
    Seen s{r.line, r.text, r.error, r.has_board ? r.board.full_fen() : "", r.has_board, {},
           codes(r.best_moves), codes(r.avoid_moves), codes(r.pv)};
    for (std::size_t i = 0; i < r.operations.size(); ++i) {
        std::string op(r.opcode(i));
        for (std::size_t j = 0; j < r.operations[i].count; ++j)
            op.append("\x01").append(r.operand(i, j));
        s.operations.push_back(op);
    }
    return s;
}

// Whether move is one of the legal moves: the same squares and promotion
// (a move read as long algebraic text carries no special code for castling
// or en passant).
bool legal(const MoveGenerator& generator, Board& board, ChessMove move) {
    MoveList list;
    generator.generate(board, list);
    return std::any_of(list.begin(), list.end(), [&](ChessMove m) {
        return m.from() == move.from() && m.to() == move.to() &&
               m.is_promotion() == move.is_promotion() &&
               (!m.is_promotion() || m.special() == move.special());
    });
}

std::size_t operand_count(const epd::EpdRecord& r, std::string_view opcode) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < r.operations.size(); ++i)
        if (r.opcode(i) == opcode) n += r.operations[i].count;
    return n;
}

bool same_moves(const std::vector<ChessMove>& a, const std::vector<ChessMove>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](ChessMove x, ChessMove y) {
        return x.from() == y.from() && x.to() == y.to() && x.is_promotion() == y.is_promotion() &&
               (!x.is_promotion() || x.special() == y.special());
    });
}

// The record written back (its moves as move texts) reads to the same
// operands, moves and position.
void check_written(const MoveGenerator& generator, epd::EpdRecord& r, const std::string& where) {
    std::vector<epd::OperationText> operations;
    std::size_t best = 0, avoid = 0, line = 0;
    for (std::size_t i = 0; i < r.operations.size(); ++i) {
        epd::OperationText operation{std::string(r.opcode(i)), {}};
        for (std::size_t j = 0; j < r.operations[i].count; ++j) {
            const std::string_view op = operation.opcode;
            const ChessMove* move = op == "bm"   ? &r.best_moves[best++]
                                    : op == "am" ? &r.avoid_moves[avoid++]
                                    : op == "pv" ? &r.pv[line++]
                                                 : nullptr;
            operation.operands.push_back(!move                      ? std::string(r.operand(i, j))
                                         : *move == NULL_MOVE_CODE ? std::string("0000")
                                                                   : move->to_string());
        }
        operations.push_back(std::move(operation));
    }
    const Board before = r.board;
    const std::string text = epd::write_line(generator, r.board, operations);
    check_same(before, r.board, "writing the record changed its board");
    epd::EpdRecord again;
    epd::read_line(generator, text, again);
    CHECK(again.error.empty(), "the written line " + quoted(text) + " has a fault: " +
                                   again.error + " (from " + where + ")");
    CHECK(again.board.fen() == r.board.fen(), "the written line has another position: " + where);
    CHECK(same_moves(again.best_moves, r.best_moves) &&
              same_moves(again.avoid_moves, r.avoid_moves) && same_moves(again.pv, r.pv),
          "the written line has other moves: " + quoted(text) + " from " + where);
    CHECK(again.operations.size() == r.operations.size(),
          "the written line has other operations: " + quoted(text) + " from " + where);
    for (std::size_t i = 0; i < r.operations.size(); ++i) {
        const std::string_view op = r.opcode(i);
        CHECK(again.opcode(i) == op && again.operations[i].count == r.operations[i].count,
              "the written line has other operations: " + quoted(text) + " from " + where);
        if (op == "bm" || op == "am" || op == "pv") continue;
        for (std::size_t j = 0; j < r.operations[i].count; ++j)
            CHECK(again.operand(i, j) == r.operand(i, j),
                  "an operand changed in " + quoted(text) + " from " + where);
    }
}

void check_record(const MoveGenerator& generator, epd::EpdRecord& r, std::size_t limit) {
    const std::string where = "line " + std::to_string(r.line) + " " + quoted(r.text);
    CHECK(!epd::is_blank(r.text) || !r.error.empty(), "a blank line gave a record: " + where);
    CHECK(r.text.size() <= limit, "the text is longer than the limit: " + where);
    CHECK(r.store.size() <= r.text.size(), "more operand text than line text: " + where);
    if (r.has_board) {
        CHECK(r.board.ply() == 0, "the record's board has moves to take back: " + where);
        for (const ChessMove m : r.best_moves)
            CHECK(legal(generator, r.board, m), "an illegal bm move: " + where);
        for (const ChessMove m : r.avoid_moves)
            CHECK(legal(generator, r.board, m), "an illegal am move: " + where);
        Board line = r.board;
        for (const ChessMove m : r.pv) {
            if (m == NULL_MOVE_CODE) {
                line.push_null();
                continue;
            }
            CHECK(legal(generator, line, m), "an illegal pv move: " + where);
            line.push_move(m);
        }
    } else {
        CHECK(r.best_moves.empty() && r.avoid_moves.empty() && r.pv.empty(),
              "moves without a position: " + where);
        CHECK(!r.error.empty(), "no position and no error: " + where);
    }
    if (r.error.empty()) {
        CHECK(r.best_moves.size() == operand_count(r, "bm"), "a bm operand lost: " + where);
        CHECK(r.avoid_moves.size() == operand_count(r, "am"), "an am operand lost: " + where);
        CHECK(r.pv.size() == operand_count(r, "pv"), "a pv operand lost: " + where);
    }
    if (r.has_board && r.error.empty()) check_written(generator, r, where);
    // The text read again as one line: the same record (unless it was cut at
    // the limit, and so never read).
    if (!r.error.starts_with("line longer than")) {
        epd::EpdRecord again;
        again.line = r.line;
        epd::read_line(generator, r.text, again);
        CHECK(seen(again) == seen(r), "reading the text again differs: " + where);
    }
}

std::vector<Seen> read_all(const MoveGenerator& generator, std::string_view text,
                           std::size_t chunk, std::uint32_t seed, std::size_t limit,
                           bool check) {
    std::size_t at = 0;
    std::uint32_t state = seed;
    epd::EpdReader reader(
        [&](char* dst, std::size_t capacity) {
            std::size_t n = std::min(capacity, text.size() - at);
            if (seed != 0 && n > 1) {
                state = state * 1103515245u + 12345u;
                n = 1 + (state >> 16) % n;
            }
            std::memcpy(dst, text.data() + at, n);
            at += n;
            return n;
        },
        chunk, limit);
    std::vector<Seen> out;
    epd::EpdRecord record;
    while (reader.next(generator, record)) {
        CHECK(reader.memory() <= 2 * (chunk + limit) + 64,
              "the reader holds " + std::to_string(reader.memory()) + " bytes");
        if (check) check_record(generator, record, limit);
        out.push_back(seen(record));
    }
    CHECK(at == text.size(), "the reader stopped before the end of its input");
    return out;
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vemla;
    using namespace vemla::fuzz;
    static const MoveGenerator generator;
    if (size < 2) return 0;
    const std::uint32_t seed = (std::uint32_t{data[0]} << 8 | data[1]) | 1;
    const std::size_t limit = line_limit(data[1]);
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    const auto whole =
        read_all(generator, text, std::max<std::size_t>(text.size(), 1), 0, limit, true);
    const std::size_t chunk = 1 + data[0] % 64;
    const auto pieces = read_all(generator, text, chunk, seed, limit, false);
    CHECK(whole.size() == pieces.size(), std::to_string(whole.size()) + " records in one chunk, " +
                                             std::to_string(pieces.size()) + " in chunks of " +
                                             std::to_string(chunk));
    for (std::size_t i = 0; i < whole.size(); ++i)
        CHECK(whole[i] == pieces[i],
              "record " + std::to_string(i) + " differs in chunks of " + std::to_string(chunk));
    return 0;
}
