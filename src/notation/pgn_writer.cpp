// Writing one game as PGN text.
#include "notation/pgn_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "failure.hpp"
#include "messages.hpp"
#include "notation/pgn_game.hpp"
#include "notation/san.hpp"
#include "utf8.hpp"

namespace vemla {

namespace {

constexpr std::string_view RESULTS[] = {"1-0", "0-1", "1/2-1/2", "*"};

// A PGN symbol: a letter or digit, then letters, digits and _+#=:-.
bool is_tag_name(std::string_view name) {
    const auto alnum = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    };
    if (name.empty() || !alnum(name.front())) return false;
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return alnum(c) || std::string_view("_+#=:-").find(c) != std::string_view::npos;
    });
}

bool is_standard(std::string_view name) {
    return std::any_of(std::begin(SEVEN_TAG_ROSTER), std::end(SEVEN_TAG_ROSTER),
                       [&](const auto& tag) { return tag.first == name; });
}

void append_tag(std::string& out, std::string_view name, std::string_view value) {
    out += '[';
    out += name;
    out += " \"";
    for (const char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += "\"]\n";
}

// A move counter of a FEN: decimal digits only.
bool read_counter(std::string_view field, unsigned long& value) {
    if (field.empty() || field.size() > 9) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc{} && end == field.data() + field.size();
}

// Collects movetext tokens into lines of at most PGN_LINE_WIDTH characters
// (a token longer than a line stands alone on its line).
class Lines {
public:
    explicit Lines(std::string& out) : out_(out) {}
    void token(std::string_view text) {
        const std::size_t first_line = std::min(text.find('\n'), text.size());
        if (width_ > 0 && width_ + 1 + first_line > PGN_LINE_WIDTH) {
            out_ += '\n';
            width_ = 0;
        } else if (width_ > 0) {
            out_ += ' ';
            ++width_;
        }
        out_ += text;
        // A token may hold line breaks (a comment's text): the width is that
        // of its last line.
        const std::size_t last_break = text.rfind('\n');
        width_ = last_break == std::string_view::npos ? width_ + text.size()
                                                      : text.size() - last_break - 1;
    }

private:
    std::string& out_;
    std::size_t width_ = 0;
};

// Where a comment stands, for messages: ply is the number of the move it
// follows (0: before the first move).
std::string place_of(std::size_t ply) {
    return ply == 0 ? std::string("before the first move") : "after move " + std::to_string(ply);
}

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
}

// The commands of an entry, each "[%...]" as written; throws InvalidInput
// unless the entry is such commands parted by blanks (anything else would read
// back as comment text).
std::vector<std::string_view> split_commands(std::string_view commands, std::size_t ply) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    for (;;) {
        while (pos < commands.size() && is_blank(commands[pos])) ++pos;
        if (pos == commands.size()) return out;
        const std::size_t close = commands.find(']', pos);
        // The reader ends a command at its first "]", a "[%" inside it
        // included, so any such run reads back as written.
        if (commands.compare(pos, 2, "[%") != 0 || close == std::string_view::npos)
            throw InvalidInput("Invalid PGN commands: the commands " + place_of(ply) +
                               " are not [%...] commands parted by blanks: \"" +
                               std::string(commands) + "\"");
        out.push_back(commands.substr(pos, close + 1 - pos));
        pos = close + 1;
    }
}

// Pieces of a comment's text, each at most width bytes where it can be: the
// text is cut only at a single space between two other characters, so that
// the pieces, read as comments of their own, join back to the same text.
std::vector<std::string_view> split_text(std::string_view text, std::size_t width) {
    std::vector<std::string_view> out;
    const auto cut_at = [&](std::size_t i) {
        return text[i] == ' ' && i > 0 && i + 1 < text.size() && !is_blank(text[i - 1]) &&
               !is_blank(text[i + 1]);
    };
    std::size_t start = 0;
    while (text.size() - start > width) {
        std::size_t cut = std::string_view::npos;
        for (std::size_t i = start + 1; i < text.size() && (i - start <= width || cut == std::string_view::npos); ++i)
            if (cut_at(i)) cut = i;
        if (cut == std::string_view::npos) break;
        out.push_back(text.substr(start, cut - start));
        start = cut + 1;
    }
    out.push_back(text.substr(start));
    return out;
}

// Writes the comment between moves, the entry at index of notes (0: before
// the first move), if it has one; false if it has none. ply is the number of
// the move it follows, for messages (index itself, but for a node of a tree). One that fits on a
// line is written as one token ("{ text [%eval 0.17] [%clk 0:03:00] }"); a
// longer one is cut between its commands, and its text into comments of their
// own, which read back joined by a space. Throws InvalidInput for what would
// not read back: "}" anywhere, a "[%...]" in the text, commands that are not
// "[%...]" commands. Text holding a "[%" with no "]" after it (the reader
// keeps such text) goes after the commands, where it stays text: before them
// it would open a command.
bool write_comment(Lines& lines, const notation::Annotations& notes, std::size_t index,
                   std::size_t ply) {
    const std::string& text = notes.comments[index];
    const std::string& commands = notes.commands[index];
    if (text.find('}') != std::string::npos || commands.find('}') != std::string::npos)
        throw InvalidInput("Invalid PGN comment: the comment " + place_of(ply) +
                           " holds \"}\"");
    const std::size_t open = text.find("[%");
    if (open != std::string::npos && text.find(']', open) != std::string::npos)
        throw InvalidInput("Invalid PGN comment: the comment " + place_of(ply) +
                           " holds \"[%\", which would read back as a command (commands go "
                           "in commands)");
    const bool text_last = open != std::string::npos;
    std::vector<std::string> parts;
    if (index > 0) {
        const notation::Eval& eval = notes.evals[index - 1];
        const double clock = notes.clocks[index - 1];
        if (eval.kind == notation::Eval::PAWNS && !std::isfinite(eval.pawns))
            throw InvalidInput("Invalid PGN eval: the eval of move " + std::to_string(ply) +
                               " is not a finite number");
        if (!std::isnan(clock) && !(clock >= 0 && clock < 1e12))
            throw InvalidInput("Invalid PGN clock: the clock of move " + std::to_string(ply) +
                               " is not a number of seconds from 0 to 10^12");
        if (eval.kind != notation::Eval::NONE) {
            std::string part = "[%eval ";
            notation::append_eval(part, eval);
            parts.push_back(part + ']');
        }
        if (!std::isnan(clock)) {
            std::string part = "[%clk ";
            notation::append_clock(part, clock);
            parts.push_back(part + ']');
        }
    }
    for (const std::string_view command : split_commands(commands, ply))
        parts.emplace_back(command);
    if (text.empty() && parts.empty()) return false;

    std::string whole = "{";
    if (!text.empty() && !text_last) whole.append(" ").append(text);
    for (const std::string& part : parts) whole.append(" ").append(part);
    if (!text.empty() && text_last) whole.append(" ").append(text);
    whole += " }";
    if (whole.size() <= PGN_LINE_WIDTH) {
        lines.token(whole);
        return true;
    }
    lines.token("{");
    if (text_last)
        for (const std::string& part : parts) lines.token(part);
    if (!text.empty()) {
        const std::vector<std::string_view> pieces = split_text(text, PGN_LINE_WIDTH - 4);
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
            lines.token(pieces[i]);
            lines.token("}");
            lines.token("{");
        }
        lines.token(pieces.back());
    }
    if (!text_last)
        for (const std::string& part : parts) lines.token(part);
    lines.token("}");
    return true;
}

// What the tags and arguments say about the game, checked.
struct Start {
    std::string_view result;
    std::optional<std::string_view> fen;
    Board board;
    unsigned long fullmove = 1;
    std::string fen_tag;  // the starting position with its move counters
    bool chess960 = false;  // by its Variant tag: the FEN tag is always written
};

Start prepare(std::span<const PgnTag> tags, std::optional<std::string_view> given_fen,
              std::optional<std::string_view> given_result) {
    // The tags: check each, find Result and FEN among them.
    std::optional<std::string_view> result_tag, fen_tag;
    bool chess960 = false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const auto& [name, value] = tags[i];
        if (!is_tag_name(name))
            throw InvalidInput("Invalid PGN tag name: \"" + std::string(name) + "\"");
        if (value.find_first_of("\r\n") != std::string_view::npos)
            throw InvalidInput("Invalid PGN tag value: the value of " + std::string(name) +
                               " holds a line break");
        for (std::size_t j = 0; j < i; ++j)
            if (tags[j].first == name)
                throw InvalidInput("Invalid PGN tag: " + std::string(name) + " is given twice");
        if (name == "Result") result_tag = value;
        if (name == "FEN") fen_tag = value;
        if (name == "Variant") chess960 = pgn::chess960_variant(value);
    }
    const std::string_view result = given_result.value_or(result_tag.value_or("*"));
    if (std::find(std::begin(RESULTS), std::end(RESULTS), result) == std::end(RESULTS))
        throw InvalidInput("Invalid PGN result: \"" + std::string(result) +
                           "\" (expected \"1-0\", \"0-1\", \"1/2-1/2\" or \"*\")");
    if (result_tag && *result_tag != result)
        throw InvalidInput("Invalid PGN result: the Result tag says \"" + std::string(*result_tag) +
                           "\" but the result is \"" + std::string(result) + "\"");

    // The starting position and its move counters (0 and 1 where not given).
    const std::optional<std::string_view> fen = given_fen ? given_fen : fen_tag;
    Board board;
    unsigned long halfmove = 0, fullmove = 1;
    // A Chess960 game (by its Variant tag) reads its FEN as X-FEN or
    // Shredder-FEN and always writes it, as X-FEN.
    if (!fen && !chess960) {
        board = Board::from_fen(DEFAULT_FEN);
    } else {
        const std::string_view text = fen ? *fen : DEFAULT_FEN;
        if (const FenRejection rejection = chess960 ? Board::read_full_fen(text, board, true)
                                                    : Board::read_fen(text, board);
            rejection != FenRejection::NONE) {
            const std::string_view message = fen_rejection_message(rejection);
            throw InvalidInput(message.starts_with(messages::INVALID_FEN)
                                   ? std::string(message)
                                   : std::string(messages::INVALID_FEN) + std::string(message));
        }
        utf8::Fields fields(text);
        std::string_view field;
        for (int i = 0; i < 4; ++i) fields.next_field(field);
        if (fields.next_field(field) && !read_counter(field, halfmove))
            throw InvalidInput(std::string(messages::INVALID_FEN) + "Invalid half-move clock");
        if (fields.next_field(field) && (!read_counter(field, fullmove) || fullmove == 0))
            throw InvalidInput(std::string(messages::INVALID_FEN) + "Invalid move number");
    }
    Start start;
    start.result = result;
    start.fen = fen;
    start.fullmove = fullmove;
    start.chess960 = chess960;
    start.fen_tag = board.fen() + " " + std::to_string(halfmove) + " " + std::to_string(fullmove);
    start.board = std::move(board);
    return start;
}

// The tag section, a blank line, and the movetext.
std::string assemble(std::span<const PgnTag> tags, const Start& start, const std::string& movetext) {
    std::string out;
    for (const auto& [name, default_value] : SEVEN_TAG_ROSTER) {
        std::string_view value = default_value;
        for (const auto& tag : tags)
            if (tag.first == name) value = tag.second;
        append_tag(out, name, name == "Result" ? start.result : value);
    }
    if (start.fen || start.chess960) {
        append_tag(out, "SetUp", "1");
        append_tag(out, "FEN", start.fen_tag);
    }
    for (const auto& [name, value] : tags)
        if (!is_standard(name) && name != "SetUp" && name != "FEN") append_tag(out, name, value);
    out += '\n';
    out += movetext;
    return out;
}

}  // namespace

std::string write_pgn(const MoveGenerator& generator, std::span<const PgnTag> tags,
                      std::span<const ChessMove> moves, std::optional<std::string_view> given_fen,
                      std::optional<std::string_view> given_result,
                      const notation::Annotations* notes) {
    if (notes && notes->plies() != moves.size())
        throw InvalidInput("Invalid PGN annotations: " + std::to_string(notes->plies()) +
                           " moves annotated for a game of " + std::to_string(moves.size()));
    Start start = prepare(tags, given_fen, given_result);
    Board& board = start.board;
    const std::string_view result = start.result;

    // The movetext first: a move that cannot be played stops everything.
    std::string movetext;
    Lines lines(movetext);
    std::string san;
    unsigned long number = start.fullmove;
    bool numbered = false;  // the next Black move is numbered (first, or after a comment)
    if (notes) write_comment(lines, *notes, 0, 0);
    std::size_t next_nag = 0;
    for (std::size_t ply = 0; ply < moves.size(); ++ply) {
        const bool white = board.white_to_move();
        if (white || ply == 0 || numbered)
            lines.token(std::to_string(number) + (white ? "." : "..."));
        san.clear();
        if (moves[ply] == NULL_MOVE_CODE) {
            lines.token("--");
            board.push_null();
        } else if (!append_san(generator, board, moves[ply], san))
            throw InvalidInput("Illegal move at ply " + std::to_string(ply + 1) + ": " +
                               illegal_move_message(moves[ply], board.fen()));
        if (moves[ply] != NULL_MOVE_CODE) {
            lines.token(san);
            // Making a move tells castling and en passant from the squares,
            // so the move as given is made as its legal form would be.
            board.push_move(moves[ply]);
        }
        numbered = false;
        if (notes) {
            while (next_nag < notes->nags.size() && notes->nags[next_nag].ply <= ply + 1) {
                if (notes->nags[next_nag].ply == ply + 1)
                    lines.token("$" + std::to_string(notes->nags[next_nag].value));
                ++next_nag;
            }
            if (write_comment(lines, *notes, ply + 1, ply + 1)) numbered = true;
        }
        if (!white) ++number;
    }
    lines.token(result);
    movetext += '\n';
    return assemble(tags, start, movetext);
}

std::string write_pgn(const MoveGenerator& generator, std::span<const PgnTag> tags,
                      const pgn::GameTree& tree, std::optional<std::string_view> given_fen,
                      std::optional<std::string_view> given_result,
                      const notation::Annotations* notes) {
    const auto& nodes = tree.nodes;
    if (notes && notes->plies() + 1 != nodes.size())
        throw InvalidInput("Invalid PGN annotations: " + std::to_string(notes->plies()) +
                           " moves annotated for a tree of " + std::to_string(nodes.size() - 1));
    Start start = prepare(tags, given_fen, given_result);
    Board& board = start.board;
    const bool white_starts = board.white_to_move();

    std::string movetext;
    Lines lines(movetext);
    std::string san;
    std::vector<std::uint32_t> path;
    std::uint32_t at = 0;  // the node board stands at
    bool numbered = true;  // the next Black move is numbered
    if (notes) write_comment(lines, *notes, 0, 0);
    // A node's move with its number where it needs one, its NAGs and its
    // comment, played on board from its parent's position.
    const auto emit = [&](std::uint32_t index) {
        const pgn::TreeNode& node = nodes[index];
        pgn::walk_to(tree, board, at, node.parent, path);
        at = node.parent;
        if (const std::string* text = tree.starting_comment(index)) {
            if (text->find('}') != std::string::npos)
                throw InvalidInput("Invalid PGN comment: the comment before move " +
                                   std::to_string(node.ply) + " of a variation holds \"}\"");
            if (!text->empty()) lines.token("{ " + *text + " }");
        }
        const bool white = board.white_to_move();
        if (white || numbered) {
            const unsigned long number =
                start.fullmove + (node.ply - 1 + (white_starts ? 0 : 1)) / 2;
            lines.token(std::to_string(number) + (white ? "." : "..."));
        }
        if (node.move == NULL_MOVE_CODE) {
            lines.token("--");
            board.push_null();
        } else {
            san.clear();
            if (!append_san(generator, board, node.move, san))
                throw InvalidInput("Illegal move at ply " + std::to_string(node.ply) + ": " +
                                   illegal_move_message(node.move, board.fen()));
            lines.token(san);
            board.push_move(node.move);
        }
        at = index;
        numbered = false;
        if (!notes) return;
        const auto by_node = [](const pgn::PgnNag& a, const pgn::PgnNag& b) {
            return a.ply < b.ply;
        };
        const auto [first, last] =
            std::equal_range(notes->nags.begin(), notes->nags.end(), pgn::PgnNag{index, 0}, by_node);
        for (auto it = first; it != last; ++it) lines.token("$" + std::to_string(it->value));
        if (write_comment(lines, *notes, index, node.ply)) numbered = true;
    };
    // Depth first without recursion: each line is written move by move; at
    // a move that has alternatives (its later siblings) they are written
    // next, each in parentheses, and the line then goes on.
    struct Branch {
        std::uint32_t main;  // the move whose alternatives these are
        std::uint32_t next;  // the next alternative to write, or NO_NODE
    };
    std::vector<Branch> branches;
    std::uint32_t node = nodes.empty() ? pgn::NO_NODE : nodes[0].first_child;
    for (;;) {
        while (node != pgn::NO_NODE) {
            emit(node);
            const pgn::TreeNode& written = nodes[node];
            if (written.next_sibling != pgn::NO_NODE && nodes[written.parent].first_child == node) {
                branches.push_back(Branch{node, written.next_sibling});
                break;
            }
            node = written.first_child;
        }
        if (node == pgn::NO_NODE) {
            // A line has ended: the mainline, or the variation of the top branch.
            if (branches.empty()) break;
            lines.token(")");
            numbered = true;
        }
        Branch& top = branches.back();
        if (top.next != pgn::NO_NODE) {
            node = top.next;
            top.next = nodes[node].next_sibling;
            lines.token("(");
            numbered = true;
        } else {
            node = nodes[top.main].first_child;
            branches.pop_back();
            numbered = true;
        }
    }
    lines.token(start.result);
    movetext += '\n';
    return assemble(tags, start, movetext);
}

}  // namespace vemla
