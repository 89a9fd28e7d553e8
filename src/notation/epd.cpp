#include "notation/epd.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "failure.hpp"
#include "notation/san.hpp"

namespace vemla::epd {

namespace {

// Blanks between fields, opcodes and operands: space and the ASCII controls
// that separate words (tab, vertical tab, form feed). Line ends never reach
// the grammar.
constexpr bool blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

constexpr bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), digit);
}

// An opcode: a letter, then letters, digits and underscores.
bool valid_opcode(std::string_view text) {
    if (text.empty() || !letter(text[0])) return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return letter(c) || digit(c) || c == '_'; });
}

// A move counter: decimal digits, at most 2^63 - 1 (as FEN's counters).
bool read_counter(std::string_view text, std::uint64_t& value) {
    constexpr std::uint64_t LIMIT = std::numeric_limits<std::int64_t>::max();
    if (!all_digits(text)) return false;
    std::uint64_t n = 0;
    for (const char c : text) {
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (n > (LIMIT - d) / 10) return false;
        n = 10 * n + d;
    }
    value = n;
    return true;
}

// Walks one line: fields, then operations.
class LineParser {
public:
    LineParser(std::string_view line, EpdRecord& record) : line_(line), record_(record) {}

    // The next blank-separated word, or empty at the end of the line.
    std::string_view word() {
        skip_blanks();
        const std::size_t start = pos_;
        while (pos_ < line_.size() && !blank(line_[pos_])) ++pos_;
        return line_.substr(start, pos_ - start);
    }

    // Reads the operations that follow the position fields (and counters).
    void operations() {
        for (;;) {
            skip_blanks();
            if (pos_ >= line_.size()) return;
            if (line_[pos_] == ';') {  // an empty operation: nothing to keep
                ++pos_;
                continue;
            }
            const std::size_t start = pos_;
            while (pos_ < line_.size() && !blank(line_[pos_]) && line_[pos_] != ';') ++pos_;
            const std::string_view opcode = line_.substr(start, pos_ - start);
            if (!valid_opcode(opcode)) {
                fault("malformed opcode \"" + std::string(opcode) +
                      "\": an opcode is a letter, then letters, digits and _");
                skip_operation();
                continue;
            }
            EpdOperation operation;
            operation.opcode = keep(opcode);
            operation.first = static_cast<std::uint32_t>(record_.operands.size());
            read_operands(opcode);
            operation.count =
                static_cast<std::uint32_t>(record_.operands.size()) - operation.first;
            record_.operations.push_back(operation);
        }
    }

    // Sets the record's error if it has none: the first fault is the one named.
    void fault(const std::string& message) {
        if (record_.error.empty()) record_.error = message;
    }

    // Peeks at the next word without taking it.
    std::string_view peek() {
        const std::size_t saved = pos_;
        const std::string_view next = word();
        pos_ = saved;
        return next;
    }

private:
    void skip_blanks() {
        while (pos_ < line_.size() && blank(line_[pos_])) ++pos_;
    }

    Span keep(std::string_view text) {
        const Span span{static_cast<std::uint32_t>(record_.store.size()),
                        static_cast<std::uint32_t>(text.size())};
        record_.store.append(text);
        return span;
    }

    // Past the next ";" that is not inside quotes, or to the end of the line.
    void skip_operation() {
        bool quoted = false;
        for (; pos_ < line_.size(); ++pos_) {
            const char c = line_[pos_];
            if (quoted && c == '\\' && pos_ + 1 < line_.size()) {
                ++pos_;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ';' && !quoted) {
                ++pos_;
                return;
            }
        }
    }

    // The operands up to and past the operation's ";" (or the end of the line).
    void read_operands(std::string_view opcode) {
        for (;;) {
            skip_blanks();
            if (pos_ >= line_.size()) return;  // the last operation may leave out its ";"
            const char c = line_[pos_];
            if (c == ';') {
                ++pos_;
                return;
            }
            if (c == '"') {
                read_quoted(opcode);
                continue;
            }
            const std::size_t start = pos_;
            while (pos_ < line_.size() && !blank(line_[pos_]) && line_[pos_] != ';') ++pos_;
            record_.operands.push_back(keep(line_.substr(start, pos_ - start)));
        }
    }

    // A quoted operand: \" and \\ are escapes, any other backslash stays.
    void read_quoted(std::string_view opcode) {
        ++pos_;  // the opening quote
        const auto offset = static_cast<std::uint32_t>(record_.store.size());
        for (;;) {
            if (pos_ >= line_.size()) {
                // What the line holds is kept; the quote is missing.
                fault(std::string(opcode) + ": unterminated quoted operand");
                break;
            }
            const char c = line_[pos_++];
            if (c == '"') break;
            if (c == '\\' && pos_ < line_.size() && (line_[pos_] == '"' || line_[pos_] == '\\'))
                record_.store.push_back(line_[pos_++]);
            else
                record_.store.push_back(c);
        }
        record_.operands.push_back(
            Span{offset, static_cast<std::uint32_t>(record_.store.size()) - offset});
    }

    std::string_view line_;
    EpdRecord& record_;
    std::size_t pos_ = 0;
};

// The moves of every operation with this opcode, each in the record's position.
void resolve_moves(const MoveGenerator& generator, std::string_view opcode, EpdRecord& record,
                   std::vector<ChessMove>& out, LineParser& parser) {
    for (std::size_t i = 0; i < record.operations.size(); ++i) {
        if (record.opcode(i) != opcode) continue;
        for (std::size_t j = 0; j < record.operations[i].count; ++j) {
            const std::string_view text = record.operand(i, j);
            ChessMove move;
            const SanRejection rejection = resolve_move(generator, record.board, text, move);
            if (rejection == SanRejection::NONE)
                out.push_back(move);
            else
                parser.fault(std::string(opcode) + ": " +
                             san_rejection_message(rejection, text, record.board.fen()));
        }
    }
}

// The pv: each move in the position its predecessors reach, up to the first
// that names none. The board is played forward and taken back.
void resolve_pv(const MoveGenerator& generator, EpdRecord& record, LineParser& parser) {
    Board& board = record.board;
    bool stopped = false;
    for (std::size_t i = 0; i < record.operations.size() && !stopped; ++i) {
        if (record.opcode(i) != "pv") continue;
        for (std::size_t j = 0; j < record.operations[i].count; ++j) {
            const std::string_view text = record.operand(i, j);
            ChessMove move;
            SanRejection rejection = resolve_move(generator, board, text, move);
            if (rejection == SanRejection::NULL_MOVE || text == "0000") {
                board.push_null();
                record.pv.push_back(NULL_MOVE_CODE);
                continue;
            }
            if (rejection != SanRejection::NONE) {
                parser.fault("pv: move " + std::to_string(record.pv.size() + 1) + ": " +
                             san_rejection_message(rejection, text, board.fen()));
                stopped = true;
                break;
            }
            board.push_move(move);
            record.pv.push_back(move);
        }
    }
    while (board.ply() > 0) board.pop_move();
}

// hmvc or fmvn: one counter operand, set on the board.
void read_counter_operation(std::string_view opcode, EpdRecord& record, std::uint64_t& counter,
                            LineParser& parser) {
    for (std::size_t i = 0; i < record.operations.size(); ++i) {
        if (record.opcode(i) != opcode) continue;
        const EpdOperation& operation = record.operations[i];
        std::uint64_t value = 0;
        if (operation.count == 1 && read_counter(record.operand(i, 0), value)) {
            counter = value;
            continue;
        }
        std::string given;
        for (std::size_t j = 0; j < operation.count; ++j)
            given.append(j ? " " : "").append(record.operand(i, j));
        parser.fault(std::string(opcode) + ": expected one non-negative integer, got \"" + given +
                     "\"");
    }
}

}  // namespace

SanRejection resolve_move(const MoveGenerator& generator, Board& board, std::string_view text,
                          ChessMove& move) {
    const SanRejection rejection = parse_san(generator, board, text, move);
    if (rejection == SanRejection::NONE || rejection == SanRejection::AMBIGUOUS ||
        rejection == SanRejection::NULL_MOVE)
        return rejection;
    ChessMove given;
    std::string san;
    if (ChessMove::parse(text, given) == ChessMove::Rejection::NONE &&
        append_san(generator, board, given, san)) {
        move = given;
        return SanRejection::NONE;
    }
    return rejection;
}

namespace {

// id and the comments c0 to c9 are quoted whatever they hold, as suites write them.
bool always_quoted(std::string_view opcode) {
    return opcode == "id" ||
           (opcode.size() == 2 && opcode[0] == 'c' && opcode[1] >= '0' && opcode[1] <= '9');
}

void append_operand(std::string& out, std::string_view operand, bool quote) {
    quote = quote || operand.empty() ||
            std::any_of(operand.begin(), operand.end(),
                        [](char c) { return blank(c) || c == ';' || c == '"' || c == '\\'; });
    if (!quote) {
        out.append(operand);
        return;
    }
    out.push_back('"');
    for (const char c : operand) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// The SAN of a move token in board's position, appended to out; the move
// (NULL_MOVE_CODE for a null move where null_allowed) into move.
void append_move(const MoveGenerator& generator, Board& board, std::string_view opcode,
                 std::string_view text, bool null_allowed, std::string& out, ChessMove& move) {
    const SanRejection rejection = resolve_move(generator, board, text, move);
    if (null_allowed && (rejection == SanRejection::NULL_MOVE || text == "0000")) {
        out.append("--");
        move = NULL_MOVE_CODE;
        return;
    }
    if (rejection != SanRejection::NONE)
        throw InvalidInput(std::string(opcode) + ": " +
                           san_rejection_message(rejection, text, board.fen()));
    const bool written = append_san(generator, board, move, out);
    expect(written, "a resolved move has a SAN");
}

}  // namespace

std::string write_line(const MoveGenerator& generator, Board& board,
                       const std::vector<OperationText>& operations) {
    std::string out = board.fen();
    for (const OperationText& operation : operations) {
        if (!valid_opcode(operation.opcode))
            throw InvalidInput("malformed opcode \"" + operation.opcode +
                               "\": an opcode is a letter, then letters, digits and _");
        out.push_back(' ');
        out.append(operation.opcode);
        const bool moves = operation.opcode == "bm" || operation.opcode == "am";
        const bool line = operation.opcode == "pv";
        std::size_t played = 0;
        for (const std::string& operand : operation.operands) {
            if (operand.find_first_of("\n\r") != std::string::npos) {
                while (played-- > 0) board.pop_move();
                throw InvalidInput(operation.opcode + ": an operand cannot hold a line end");
            }
            out.push_back(' ');
            if (!moves && !line) {
                append_operand(out, operand, always_quoted(operation.opcode));
                continue;
            }
            ChessMove move;
            try {
                const std::string label =
                    line ? "pv: move " + std::to_string(played + 1) : operation.opcode;
                append_move(generator, board, label, operand, line, out, move);
            } catch (...) {
                while (played-- > 0) board.pop_move();
                throw;
            }
            if (line) {
                if (move == NULL_MOVE_CODE)
                    board.push_null();
                else
                    board.push_move(move);
                ++played;
            }
        }
        while (played-- > 0) board.pop_move();
        out.push_back(';');
    }
    return out;
}

const EpdOperation* EpdRecord::find(std::string_view name) const {
    for (std::size_t i = 0; i < operations.size(); ++i)
        if (opcode(i) == name) return &operations[i];
    return nullptr;
}

void EpdRecord::clear() {
    text.clear();
    has_board = false;
    store.clear();
    operations.clear();
    operands.clear();
    best_moves.clear();
    avoid_moves.clear();
    pv.clear();
    error.clear();
}

bool is_blank(std::string_view line) { return std::all_of(line.begin(), line.end(), blank); }

void read_line(const MoveGenerator& generator, std::string_view line, EpdRecord& record) {
    record.clear();
    record.text.assign(line);
    LineParser parser(line, record);

    // The four position fields, read by the checked FEN reader.
    std::string_view fields[4];
    int count = 0;
    for (; count < 4; ++count) {
        fields[count] = parser.word();
        if (fields[count].empty()) break;
    }
    if (count < 4) {
        parser.fault("missing position fields: an EPD line starts with the four fields of FEN, "
                     "this one has " +
                     std::to_string(count));
        return;
    }
    std::string fen;
    fen.reserve(fields[0].size() + fields[1].size() + fields[2].size() + fields[3].size() + 3);
    fen.append(fields[0]).append(" ").append(fields[1]).append(" ");
    fen.append(fields[2]).append(" ").append(fields[3]);
    const FenRejection rejection = Board::read_full_fen(fen, record.board);
    if (rejection == FenRejection::NONE) {
        record.has_board = true;
    } else {
        parser.fault("invalid position \"" + fen + "\": " +
                     std::string(fen_rejection_message(rejection)));
        record.board = Board();
    }

    // FEN's counters, where a writer put them after the fourth field. No
    // opcode starts with a digit, so they cannot be mistaken for one.
    std::uint64_t halfmove = 0;
    std::uint64_t fullmove = 1;
    if (all_digits(parser.peek())) {
        const std::string_view clock = parser.word();
        if (!read_counter(clock, halfmove))
            parser.fault("half-move clock \"" + std::string(clock) + "\" out of range");
        if (all_digits(parser.peek())) {
            const std::string_view number = parser.word();
            if (!read_counter(number, fullmove))
                parser.fault("move number \"" + std::string(number) + "\" out of range");
        }
    }

    parser.operations();
    read_counter_operation("hmvc", record, halfmove, parser);
    read_counter_operation("fmvn", record, fullmove, parser);
    if (!record.has_board) return;
    record.board.start_halfmove_clock = halfmove;
    record.board.start_fullmove_number = fullmove;
    resolve_moves(generator, "bm", record, record.best_moves, parser);
    resolve_moves(generator, "am", record, record.avoid_moves, parser);
    resolve_pv(generator, record, parser);
}

EpdReader::EpdReader(ReadFn read, std::size_t chunk, std::size_t line_limit)
    : read_(std::move(read)), line_limit_(line_limit) {
    expect(chunk > 0, "EPD reader: the chunk size must be positive");
    buf_.resize(chunk);
}

bool EpdReader::next_line() {
    line_.clear();
    too_long_ = false;
    bool any = false;  // a byte of this line (or its line end) was seen
    for (;;) {
        if (pos_ == end_) {
            if (eof_) return any;
            end_ = read_(buf_.data(), buf_.size());
            expect(end_ <= buf_.size(), "EPD reader: the source returned more than it was asked");
            pos_ = 0;
            if (end_ == 0) {
                eof_ = true;
                return any;
            }
        }
        if (after_cr_) {
            after_cr_ = false;
            if (buf_[pos_] == '\n') ++pos_;
            continue;
        }
        const char* start = buf_.data() + pos_;
        const std::size_t available = end_ - pos_;
        const void* lf = std::memchr(start, '\n', available);
        const void* cr = std::memchr(start, '\r', available);
        const char* stop = buf_.data() + end_;
        if (lf) stop = static_cast<const char*>(lf);
        if (cr && static_cast<const char*>(cr) < stop) stop = static_cast<const char*>(cr);
        const auto length = static_cast<std::size_t>(stop - start);
        any = true;
        // Only the first line_limit bytes are kept.
        const std::size_t room = line_limit_ > line_.size() ? line_limit_ - line_.size() : 0;
        if (length > room) too_long_ = true;
        line_.append(start, std::min(length, room));
        pos_ += length;
        if (pos_ < end_) {
            after_cr_ = buf_[pos_] == '\r';
            ++pos_;
            return true;
        }
    }
}

bool EpdReader::next(const MoveGenerator& generator, EpdRecord& record) {
    for (;;) {
        if (!next_line()) return false;
        ++number_;
        std::string_view line = line_;
        if (number_ == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        if (too_long_) {
            record.clear();
            record.line = number_;
            record.text.assign(line);
            record.error =
                "line longer than the limit of " + std::to_string(line_limit_) + " bytes";
            return true;
        }
        if (is_blank(line)) continue;
        record.line = number_;
        read_line(generator, line, record);
        return true;
    }
}

}  // namespace vemla::epd
