#include "notation/annotations.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace vemla::notation {

namespace {

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

bool digits_only(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole decimal number of at most 9 digits.
bool read_whole(std::string_view text, std::uint64_t& value) {
    if (!digits_only(text) || text.size() > 9) return false;
    value = 0;
    for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return true;
}

// Appends the pieces of text outside commands to free (seams become one
// space), and each command "[%...]" to commands, or to the move's eval and
// clock where it is the first of its kind that reads.
void take_commands(std::string_view text, std::size_t index, Annotations& out, std::string& free) {
    std::size_t pos = 0;
    bool seam = false;  // a command stood before: the blanks that follow it go
    const auto add_text = [&](std::string_view piece) {
        if (seam)
            while (!piece.empty() && is_blank(piece.front())) piece.remove_prefix(1);
        free.append(piece);
    };
    for (;;) {
        const std::size_t at = text.find("[%", pos);
        const std::size_t close = at == std::string_view::npos ? at : text.find(']', at);
        if (close == std::string_view::npos) {
            add_text(text.substr(pos));
            return;
        }
        add_text(text.substr(pos, at - pos));
        // The text on the two sides of a command is parted by one blank.
        while (!free.empty() && is_blank(free.back())) free.pop_back();
        if (!free.empty()) free += ' ';
        seam = true;
        const std::string_view command = text.substr(at + 2, close - at - 2);
        std::size_t name_end = 0;
        while (name_end < command.size() && !is_blank(command[name_end])) ++name_end;
        const std::string_view name = command.substr(0, name_end);
        const std::string_view argument = trim(command.substr(name_end));
        bool taken = false;
        if (index > 0 && name == "eval" && out.evals[index - 1].kind == Eval::NONE)
            taken = read_eval(argument, out.evals[index - 1]);
        else if (index > 0 && name == "clk" && std::isnan(out.clocks[index - 1]))
            taken = read_clock(argument, out.clocks[index - 1]);
        if (!taken) {
            std::string& commands = out.commands[index];
            if (!commands.empty()) commands += ' ';
            commands.append(text.substr(at, close + 1 - at));
        }
        pos = close + 1;
    }
}

}  // namespace

void Annotations::reset(std::size_t plies) {
    comments.assign(plies + 1, std::string());
    commands.assign(plies + 1, std::string());
    evals.assign(plies, Eval{});
    clocks.assign(plies, std::numeric_limits<double>::quiet_NaN());
    nags.clear();
}

void read_comment(std::string_view text, std::size_t index, Annotations& out) {
    std::string free;
    take_commands(text, index, out, free);
    const std::string_view kept = trim(free);
    if (kept.empty()) return;
    std::string& comment = out.comments[index];
    if (!comment.empty()) comment += ' ';
    comment.append(kept);
}

bool read_clock(std::string_view text, double& seconds) {
    text = trim(text);
    std::uint64_t whole = 0;
    for (int field = 0; field < 3; ++field) {
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) {
            // The seconds, with a fraction perhaps.
            const std::size_t dot = text.find('.');
            std::uint64_t value = 0;
            if (!read_whole(text.substr(0, dot), value)) return false;
            whole = whole * 60 + value;
            if (dot == std::string_view::npos) {
                seconds = static_cast<double>(whole);
                return true;
            }
            const std::string_view fraction = text.substr(dot + 1);
            if (!digits_only(fraction) || fraction.size() > 20) return false;
            // The exact decimal read once, so that the written form reads back alike.
            char buffer[48];
            char* end = std::to_chars(buffer, buffer + 20, whole).ptr;
            *end++ = '.';
            end = std::copy(fraction.begin(), fraction.end(), end);
            return std::from_chars(buffer, end, seconds).ec == std::errc{};
        }
        std::uint64_t value = 0;
        if (!read_whole(text.substr(0, colon), value)) return false;
        whole = whole * 60 + value;
        text.remove_prefix(colon + 1);
    }
    return false;
}

bool read_eval(std::string_view text, Eval& eval) {
    text = trim(text);
    // A search depth after a comma ("0.17,23") says nothing of the value.
    if (const std::size_t comma = text.find(','); comma != std::string_view::npos) {
        if (!digits_only(text.substr(comma + 1))) return false;
        text = text.substr(0, comma);
    }
    if (text.starts_with('#')) {
        text.remove_prefix(1);
        const bool negative = text.starts_with('-');
        if (negative || text.starts_with('+')) text.remove_prefix(1);
        std::uint64_t moves = 0;
        if (!read_whole(text, moves)) return false;
        eval.kind = Eval::MATE;
        eval.mate = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(moves)
                                                       : static_cast<std::int64_t>(moves));
        eval.pawns = 0;
        return true;
    }
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty() || !(text.front() == '-' || text.front() == '.' ||
                          (text.front() >= '0' && text.front() <= '9')))
        return false;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return false;
    eval.kind = Eval::PAWNS;
    eval.pawns = value;
    eval.mate = 0;
    return true;
}

void append_eval(std::string& out, const Eval& eval) {
    char buffer[400];
    if (eval.kind == Eval::MATE) {
        out += '#';
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, eval.mate).ptr);
    } else {
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, eval.pawns,
                                         std::chars_format::fixed)
                               .ptr);
    }
}

void append_clock(std::string& out, double seconds) {
    char buffer[400];
    const char* const end =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed).ptr;
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t dot = std::min(text.find('.'), text.size());
    std::uint64_t whole = 0;
    for (std::size_t i = 0; i < dot; ++i)
        whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
    const auto two = [&](std::uint64_t value) {
        out += static_cast<char>('0' + value / 10);
        out += static_cast<char>('0' + value % 10);
    };
    out += std::to_string(whole / 3600);
    out += ':';
    two(whole / 60 % 60);
    out += ':';
    two(whole % 60);
    out.append(text.substr(dot));
}

namespace {

// The number of entries of a list in file order (so by ply) that belong to
// the first count moves: all of them, most often.
template <typename Entry>
std::size_t prefix_up_to(const std::vector<Entry>& entries, std::size_t count) {
    if (entries.empty() || entries.back().ply <= count) return entries.size();
    return static_cast<std::size_t>(
        std::upper_bound(entries.begin(), entries.end(), count,
                         [](std::size_t ply, const Entry& entry) { return ply < entry.ply; }) -
        entries.begin());
}

}  // namespace

bool RawAnnotations::take(const pgn::PgnGame& game, std::size_t count) {
    const std::size_t kept = prefix_up_to(game.comments, count);
    const std::size_t kept_nags = prefix_up_to(game.nags, count);
    if (kept == 0 && kept_nags == 0) return false;
    plies = count;
    comments.assign(game.comments.begin(),
                    game.comments.begin() + static_cast<std::ptrdiff_t>(kept));
    nags.assign(game.nags.begin(), game.nags.begin() + static_cast<std::ptrdiff_t>(kept_nags));
    text.clear();
    base = 0;
    if (kept > 0) {
        // The comments lie in the game's text in file order too: one copy of
        // the stretch from the first to the end of the last, which the spans,
        // left as they are, find at base.
        base = comments.front().text.offset;
        const std::uint32_t last = comments.back().text.offset + comments.back().text.length;
        text.assign(game.text.data() + base, last - base);
    }
    return true;
}

Annotations RawAnnotations::read() const {
    Annotations out(plies);
    for (const pgn::PgnComment& comment : comments)
        read_comment({text.data() + (comment.text.offset - base), comment.text.length}, comment.ply,
                     out);
    out.nags = nags;
    return out;
}

}  // namespace vemla::notation
