// EPD: one position per line, the four position fields of FEN followed by
// operations, the format engine test suites ship in:
//
//   r1b1k2r/pp2bppp/2n5/q2pP3/3P4/P1P2N2/4BPPP/R2QK2R w KQkq - bm O-O; id "T 01";
//
// An operation is an opcode (a letter, then letters, digits and "_"), its
// operands, and a ";". An operand is a word without blanks or ";", or text in
// double quotes that may hold blanks and ";" (\" and \\ are escapes, as in
// PGN tag values). The last operation of a line may leave out its ";".
//
// Reading keeps every operation as text and resolves the moves of three of
// them against the position: bm (best moves) and am (moves to avoid), each
// operand a move in SAN or a legal move in long algebraic text, and pv (a
// line of play), each move in the position its predecessors reach, where a
// null move ("--", "Z0", "0000") passes. hmvc and fmvn set the board's move
// counters; some writers put FEN's two counters after the fourth field
// instead, and those are read too (the operations win where both are given).
//
// A fault never costs the other lines, nor the rest of its own: the record
// keeps what could be read and names the first fault in error. Memory is
// bounded by the line size limit: a longer line is reported, not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/san.hpp"

namespace vemla::epd {

// Fills dst with up to capacity bytes and returns how many it wrote; 0 means
// the input has ended. An exception passes through the reader, which can
// then only be destroyed.
using ReadFn = std::function<std::size_t(char* dst, std::size_t capacity)>;

inline constexpr std::size_t DEFAULT_CHUNK = 1 << 16;
inline constexpr std::size_t DEFAULT_LINE_LIMIT = 1 << 20;

// A piece of EpdRecord::store.
struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// One operation as written: its opcode, and its operands as
// EpdRecord::operands[first, first + count).
struct EpdOperation {
    Span opcode;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// One line read. Reused from line to line, so that once its arrays have
// grown, reading allocates nothing.
struct EpdRecord {
    std::uint64_t line = 0;  // the line's number in the input, from 1
    std::string text;        // the line as read, without its line end
    // Whether the four position fields read; board then holds the position
    // with its move counters (0 and 1 unless the line gives them).
    bool has_board = false;
    Board board;
    std::string store;  // every opcode and operand (quotes and escapes resolved), end to end
    std::vector<EpdOperation> operations;  // in line order; an opcode may repeat
    std::vector<Span> operands;
    // The moves of every bm, am and pv operation, in order; an operand that
    // does not name a legal move is left out and is the record's error.
    std::vector<ChessMove> best_moves;
    std::vector<ChessMove> avoid_moves;
    std::vector<ChessMove> pv;  // NULL_MOVE_CODE for a null move
    std::string error;          // empty, or the line's first fault

    std::string_view view(Span span) const { return {store.data() + span.offset, span.length}; }
    std::string_view opcode(std::size_t i) const { return view(operations[i].opcode); }
    std::string_view operand(std::size_t i, std::size_t j) const {
        return view(operands[operations[i].first + j]);
    }
    // The first operation with this opcode, or nullptr.
    const EpdOperation* find(std::string_view opcode) const;

    void clear();
};

// Whether the text holds nothing but blanks: such lines are not records.
bool is_blank(std::string_view line);

// Reads one line (without its line end) into record, which is cleared first
// (its line number stays). Moves are resolved with generator on the record's
// board, which ends as the line's position.
void read_line(const MoveGenerator& generator, std::string_view line, EpdRecord& record);

// The legal move a move token names: SAN, or else a legal move in long
// algebraic text. The board ends as it started.
SanRejection resolve_move(const MoveGenerator& generator, Board& board, std::string_view text,
                          ChessMove& move);

// An operation to write: its opcode and operands as text.
struct OperationText {
    std::string opcode;
    std::vector<std::string> operands;
};

// The EPD line (without a line end) of the board's position and the
// operations, which read_line reads back to the same position and operands.
// The operands of bm and am are moves in the position and those of pv a line
// of play from it, each given in SAN or as move text and written in SAN (a
// null move of pv as "--"). Other operands are written as they are, in
// quotes where they are empty or hold a blank, a ";", a quote or a backslash
// (those two escaped), and always for id and c0 to c9. InvalidInput for a
// malformed opcode, an operand that holds a line end, or a move that is not
// legal. The board ends as it started.
std::string write_line(const MoveGenerator& generator, Board& board,
                       const std::vector<OperationText>& operations);

// The lines of a byte source, one record per line that is not blank. Line
// ends are LF, CRLF or a lone CR; a UTF-8 byte-order mark before the first
// line is skipped.
class EpdReader {
public:
    explicit EpdReader(ReadFn read, std::size_t chunk = DEFAULT_CHUNK,
                       std::size_t line_limit = DEFAULT_LINE_LIMIT);

    // Reads the next line that is not blank into record; false at the end of
    // the input. A line longer than the limit gives a record with the error
    // "line longer than the limit of N bytes", its first N bytes as text and
    // nothing read from them.
    bool next(const MoveGenerator& generator, EpdRecord& record);

    // The bytes held: one chunk and the line being assembled.
    std::size_t memory() const { return buf_.capacity() + line_.capacity(); }

private:
    // The next line into line_; false at the end of the input.
    bool next_line();

    ReadFn read_;
    std::vector<char> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t line_limit_;
    bool eof_ = false;
    bool after_cr_ = false;  // the last line ended with CR: a LF next belongs to it
    std::uint64_t number_ = 0;
    std::string line_;
    bool too_long_ = false;
};

}  // namespace vemla::epd
