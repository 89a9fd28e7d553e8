#include "notation/pgn_reader.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "notation/pgn_scan.hpp"

namespace vemla::pgn {

using namespace scan;

namespace {

bool all_of(std::string_view text, std::string_view allowed) {
    return text.find_first_not_of(allowed) == std::string_view::npos;
}

// Records the end of game.text from start on as a mainline comment after the
// moves read so far.
[[gnu::always_inline]] inline void record_comment(PgnGame& game, std::size_t start) {
    const auto ply = static_cast<std::uint32_t>(game.sans.size());
    game.comments.push_back(
        PgnComment{ply, Span{static_cast<std::uint32_t>(start),
                             static_cast<std::uint32_t>(game.text.size() - start)}});
}

// A NAG of the last move read; one before the first move has no move to go with.
void add_nag(PgnGame& game, std::uint32_t value) {
    if (!game.sans.empty())
        game.nags.push_back(PgnNag{static_cast<std::uint32_t>(game.sans.size()), value});
}

// The glyph of a SAN token that ends in '!' or '?' ("e4!", "Nf3?!",
// "Qxf7#!!"): the marks after the check sign, which the move reader passes
// over. Kept out of the tokenizer's hot path.
[[gnu::noinline, gnu::cold]] void add_glyph_nag(PgnGame& game, std::string_view word) {
    std::size_t start = word.size();
    while (start > 0 && (word[start - 1] == '!' || word[start - 1] == '?')) --start;
    if (const std::uint32_t nag = glyph_nag(word.substr(start))) add_nag(game, nag);
}

// Whether a word could start a game's movetext: a move number, a result, the
// null move or something shaped like SAN. Prose between games is none of these.
bool movetext_word(std::string_view w) {
    if (w.empty()) return false;
    if (is_digit(w[0]) || w == "*" || w == "--") return true;
    while (!w.empty() && (w.back() == '+' || w.back() == '#' || w.back() == '!' || w.back() == '?'))
        w.remove_suffix(1);
    if (w == "O-O" || w == "O-O-O") return true;
    if (!w.empty() && std::string_view("KQRBN").find(w[0]) != std::string_view::npos)
        w.remove_prefix(1);
    if (w.size() < 2 || !all_of(w, "abcdefgh12345678x=QRBN")) return false;
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
        if (w[i] >= 'a' && w[i] <= 'h' && w[i + 1] >= '1' && w[i + 1] <= '8') return true;
    return false;
}

// The events of a tree, kept out of the tokenizer's hot path.
[[gnu::noinline, gnu::cold]] void add_event(PgnGame& game, PgnEvent::Kind kind, Span span = {}) {
    game.events.push_back(PgnEvent{kind, span});
}

// The end of game.text from start on as a tree event.
void add_text_event(PgnGame& game, PgnEvent::Kind kind, std::size_t start) {
    add_event(game, kind,
              Span{static_cast<std::uint32_t>(start),
                   static_cast<std::uint32_t>(game.text.size() - start)});
}

// The NAG event of a move-quality glyph, if it is one.
void add_glyph_event(PgnGame& game, std::string_view word) {
    std::size_t start = word.size();
    while (start > 0 && (word[start - 1] == '!' || word[start - 1] == '?')) --start;
    if (const std::uint32_t nag = glyph_nag(word.substr(start)))
        add_event(game, PgnEvent::NAG, Span{nag, 0});
}

// The value of "$" and the number after it: 0 to 255, or -1 for anything else.
int nag_number(std::string_view digits) {
    if (digits.empty() || digits.size() > 3 || !all_of(digits, "0123456789")) return -1;
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return value <= 255 ? value : -1;
}

// The events of what take_word kept of a mainline word: its move (now the
// last of game.sans) and the NAGs of its glyphs.
[[gnu::noinline, gnu::cold]] void mirror_mainline(PgnGame& game, std::size_t sans_before,
                                                  std::size_t nags_before) {
    if (game.sans.size() > sans_before) add_event(game, PgnEvent::MOVE, game.sans.back());
    for (std::size_t i = nags_before; i < game.nags.size(); ++i)
        add_event(game, PgnEvent::NAG, Span{game.nags[i].value, 0});
}

// A word inside a variation, read as take_word reads one of the mainline:
// move numbers are dropped (a move glued to one kept), glyphs standing alone
// are NAGs, and a result token says nothing there. A move and the NAG of its
// glyph become events.
void take_tree_word(PgnGame& game, std::string_view word) {
    if (is_digit(word[0])) {
        std::size_t i = 1;
        while (i < word.size() && is_digit(word[i])) ++i;
        if (i == word.size()) {
            if (word != "0000") return;
        } else if (word[i] == '.') {
            while (i < word.size() && word[i] == '.') ++i;
            word.remove_prefix(i);
            if (word.empty()) return;
        } else if (is_result(word)) {
            return;
        }
    } else if (word == "*") {
        return;
    }
    if ((word[0] == '.' || word[0] == '!' || word[0] == '?') && all_of(word, ".!?")) {
        add_glyph_event(game, word);
        return;
    }
    const std::size_t start = game.text.size();
    game.text.append(word);
    add_text_event(game, PgnEvent::MOVE, start);
    if (word.back() == '!' || word.back() == '?') add_glyph_event(game, word);
}

// The events of what scan_mainline kept: the moves from sans_before on, and
// the comments and NAGs from comments_before and nags_before on, each placed
// after the move it follows (its ply).
[[gnu::noinline]] void mirror_scan(PgnGame& game, std::size_t sans_before,
                                   std::size_t comments_before, std::size_t nags_before) {
    std::size_t comment = comments_before, nag = nags_before;
    const auto annotations_to = [&](std::size_t ply) {
        for (; comment < game.comments.size() && game.comments[comment].ply <= ply; ++comment)
            add_event(game, PgnEvent::COMMENT, game.comments[comment].text);
        for (; nag < game.nags.size() && game.nags[nag].ply <= ply; ++nag)
            add_event(game, PgnEvent::NAG, Span{game.nags[nag].value, 0});
    };
    annotations_to(sans_before);
    for (std::size_t i = sans_before; i < game.sans.size(); ++i) {
        add_event(game, PgnEvent::MOVE, game.sans[i]);
        annotations_to(i + 1);
    }
}

}  // namespace

std::uint32_t glyph_nag(std::string_view glyph) {
    constexpr std::string_view GLYPHS[] = {"!", "?", "!!", "??", "!?", "?!"};
    for (std::uint32_t i = 0; i < 6; ++i)
        if (glyph == GLYPHS[i]) return i + 1;
    return 0;
}

bool is_result(std::string_view token) {
    switch (token.size()) {
        case 1: return token[0] == '*';
        case 3: return token == "1-0" || token == "0-1";
        case 7: return token == "1/2-1/2";
        default: return false;
    }
}

std::string_view PgnGame::find_tag(std::string_view name, bool& found) const {
    for (const TagSpan& tag : tags)
        if (tag.name.length == name.size() &&
            std::memcmp(text.data() + tag.name.offset, name.data(), name.size()) == 0) {
            found = true;
            return view(tag.value);
        }
    found = false;
    return {};
}

void PgnGame::clear() {
    offset = 0;
    text.clear();
    tags.clear();
    sans.clear();
    comments.clear();
    nags.clear();
    events.clear();
    result.clear();
    tag_error.clear();
    end_error.clear();
}

PgnReader::PgnReader(ReadFn read, std::size_t chunk, std::uint64_t game_limit)
    : read_(std::move(read)), chunk_(std::max<std::size_t>(chunk, 1)), game_limit_(game_limit) {}

// Moves the bytes from keep on to the front of the buffer (keep becomes 0,
// pos_ follows), then reads one more chunk behind them. False at the end of
// the input, with nothing changed but the move.
bool PgnReader::refill(std::size_t& keep) {
    if (eof_) return false;
    if (keep > 0) {
        std::memmove(buf_.data(), buf_.data() + keep, end_ - keep);
        end_ -= keep;
        pos_ -= keep;
        base_ += keep;
        keep = 0;
    }
    if (buf_.size() - end_ < chunk_) buf_.resize(end_ + chunk_);
    const std::size_t n = read_(buf_.data() + end_, chunk_);
    if (n == 0) {
        eof_ = true;
        return false;
    }
    end_ += std::min(n, chunk_);
    return true;
}

// Skips spaces and line feeds; false at the end of the input.
bool PgnReader::skip_space() {
    for (;;) {
        const char* const data = buf_.data();
        std::size_t pos = pos_;
        bool line_start = line_start_;
        while (pos < end_) {
            const CharClass type = class_of(data[pos]);
            if (type == LINE_FEED)
                line_start = true;
            else if (type != SPACE) {
                pos_ = pos;
                line_start_ = line_start;
                return true;
            }
            ++pos;
        }
        pos_ = pos;
        line_start_ = line_start;
        std::size_t keep = pos_;
        if (!refill(keep)) return false;
    }
}

std::uint64_t PgnReader::limit_of(const PgnGame& game) const {
    return game_limit_ >= NO_BOUND - game.offset ? NO_BOUND : game.offset + game_limit_ + 1;
}

// The end of the bytes at hand that lie before bound: an index from pos_ to end_.
std::size_t PgnReader::end_before(std::uint64_t bound) const {
    if (bound <= base_ + pos_) return pos_;
    return static_cast<std::size_t>(std::min<std::uint64_t>(end_, bound - base_));
}

// The run of word bytes at pos_, consumed up to bound at most. Valid until
// the next read.
std::string_view PgnReader::read_word(std::uint64_t bound) {
    truncated_word_ = false;
    std::size_t start = pos_;
    for (;;) {
        const char* const data = buf_.data();
        std::size_t pos = pos_;
        while (pos < end_ && is_word(data[pos])) ++pos;
        pos_ = pos;
        if (pos_ - start > MAX_WORD) break;
        if (pos_ < end_ || !refill(start)) return {buf_.data() + start, pos_ - start};
    }
    // Too long to keep: remember its start, drop the rest.
    long_word_.assign(buf_.data() + start, MAX_WORD);
    truncated_word_ = true;
    for (;;) {
        const std::size_t end = end_before(bound);
        while (pos_ < end && is_word(buf_[pos_])) ++pos_;
        std::size_t keep = pos_;
        if (pos_ < end_ || !refill(keep)) return long_word_;
    }
}

// Consumes everything up to and including the next stop byte; false if the
// input ends first or the byte is not found before bound (pos_ then stands
// at the bound).
bool PgnReader::skip_past(char stop, std::uint64_t bound) {
    for (;;) {
        const std::size_t end = end_before(bound);
        if (const void* found = std::memchr(buf_.data() + pos_, stop, end - pos_)) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(found) - buf_.data()) + 1;
            return true;
        }
        pos_ = end;
        if (end < end_) return false;
        std::size_t keep = pos_;
        if (!refill(keep)) return false;
    }
}

// skip_past that also appends the bytes before the stop byte to out. It
// reads no further than bound, so memory stays bounded however long the text.
bool PgnReader::copy_past(char stop, GameText& out, std::uint64_t bound) {
    for (;;) {
        const std::size_t end = end_before(bound);
        const char* const start = buf_.data() + pos_;
        if (const void* found = std::memchr(start, stop, end - pos_)) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - buf_.data());
            out.append(start, at - pos_);
            pos_ = at + 1;
            return true;
        }
        out.append(start, end - pos_);
        pos_ = end;
        if (end < end_) return false;
        std::size_t keep = pos_;
        if (!refill(keep)) return false;
    }
}

void PgnReader::skip_line(std::uint64_t bound) {
    if (skip_past('\n', bound)) line_start_ = true;
}

// After skip_space: whether the word at pos_ could start a tagless game.
// Leaves pos_ where it was.
bool PgnReader::looks_like_movetext() {
    const std::uint64_t at = position();
    const std::string_view word = read_word();
    if (truncated_word_ || !movetext_word(word)) return false;
    // read_word may have moved the buffer, but kept the whole word in it.
    pos_ = static_cast<std::size_t>(at - base_);
    return true;
}

// One tag pair, at '['. Appends it to game; on a malformed pair sets
// game.tag_error (the first one wins), skips the rest of its line, and
// returns false.
bool PgnReader::read_tag(PgnGame& game) {
    ++pos_;  // '['
    const auto fail = [&](const char* what) {
        if (game.tag_error.empty()) game.tag_error = std::string("malformed tag pair: ") + what;
        if (pos_ < end_ && buf_[pos_] == '\n') {
            ++pos_;
            line_start_ = true;
        } else {
            skip_line(limit_of(game));
        }
        return false;
    };
    const auto get = [&]() -> int {
        if (pos_ == end_) {
            std::size_t keep = pos_;
            if (!refill(keep)) return -1;
        }
        return static_cast<unsigned char>(buf_[pos_]);
    };
    const auto skip_blanks = [&] {
        int c;
        while ((c = get()) == ' ' || c == '\t' || c == '\r') ++pos_;
        return c;
    };

    int c = skip_blanks();
    TagSpan tag{};
    tag.name.offset = static_cast<std::uint32_t>(game.text.size());
    const auto in_name = [](char b) { return !is_space(b) && b != '"' && b != ']' && b != '['; };
    while (c >= 0 && in_name(static_cast<char>(c))) {
        std::size_t run = pos_;
        while (run < end_ && in_name(buf_[run])) ++run;
        game.text.append(buf_.data() + pos_, run - pos_);
        pos_ = run;
        if (game.text.size() - tag.name.offset > MAX_WORD) {
            game.text.resize(tag.name.offset);
            return fail("tag name too long");
        }
        c = get();
    }
    tag.name.length = static_cast<std::uint32_t>(game.text.size() - tag.name.offset);
    if (tag.name.length == 0) {
        game.text.resize(tag.name.offset);
        return fail("no tag name");
    }
    c = skip_blanks();
    if (c != '"') {
        game.text.resize(tag.name.offset);
        return fail("no quoted tag value");
    }
    ++pos_;
    tag.value.offset = static_cast<std::uint32_t>(game.text.size());
    bool inner_quote = false;
    for (;;) {
        // The value up to the next quote, backslash or line end, in one piece,
        // but not past the game's size limit: a value that reaches it is too
        // long for the game, whatever the tags before it already hold, and is
        // dropped there, so the game's text stays within the limit.
        std::size_t run = pos_;
        const std::size_t stop = end_before(limit_of(game));
        while (run < stop && buf_[run] != '"' && buf_[run] != '\\' && buf_[run] != '\n') ++run;
        game.text.append(buf_.data() + pos_, run - pos_);
        pos_ = run;
        if (over_limit(game)) {
            game.text.resize(tag.name.offset);
            return fail("tag value too long");
        }
        c = get();
        if (c < 0 || c == '\n') {
            game.text.resize(tag.name.offset);
            return fail(inner_quote ? "no closing bracket" : "unterminated tag value");
        }
        if (c == '"') {
            // The closing quote is the one followed by the closing bracket:
            // an inner quote left unescaped ("Socrates ""Expert""") is kept
            // as part of the value, with the blanks after it.
            ++pos_;
            // Most often the bracket follows at once, in the buffer.
            std::size_t after = pos_;
            while (after < end_ &&
                   (buf_[after] == ' ' || buf_[after] == '\t' || buf_[after] == '\r'))
                ++after;
            if (after < end_ && (buf_[after] == ']' || buf_[after] == '\n')) break;
            const std::size_t before = game.text.size();
            game.text.push_back('"');
            while ((c = get()) == ' ' || c == '\t' || c == '\r') {
                game.text.push_back(static_cast<char>(c));
                ++pos_;
                if (over_limit(game)) {
                    game.text.resize(tag.name.offset);
                    return fail("tag value too long");
                }
            }
            if (c == ']' || c < 0 || c == '\n') {
                game.text.resize(before);
                break;
            }
            inner_quote = true;
            continue;
        }
        if (c == '\\') {
            // \" and \\ stand for the character; any other backslash for itself.
            ++pos_;
            const int next = get();
            if (next == '"' || next == '\\') {
                game.text.push_back(static_cast<char>(next));
                ++pos_;
            } else {
                game.text.push_back('\\');
            }
        }
        // Otherwise the run stopped at the end of the buffer, now refilled.
    }
    tag.value.length = static_cast<std::uint32_t>(game.text.size() - tag.value.offset);
    if (skip_blanks() != ']') {
        game.text.resize(tag.name.offset);
        return fail("no closing bracket");
    }
    ++pos_;
    game.tags.push_back(tag);
    return true;
}

bool PgnReader::next_game(PgnGame& game) {
    if (movetext_pending_) {
        PgnGame skipped;
        read_movetext(skipped, false);
    }
    game.clear();
    if (!started_) {
        // A byte-order mark before the first game.
        started_ = true;
        std::size_t keep = pos_;
        while (end_ - pos_ < 3 && refill(keep)) keep = pos_;
        if (end_ - pos_ >= 3 && std::memcmp(buf_.data() + pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
    }
    // Text before the game: comments, escape lines, prose.
    for (;;) {
        if (!skip_space()) return false;
        const bool at_line_start = line_start_;
        const char c = buf_[pos_];
        if (c == '[') break;
        if (c == '{') {
            ++pos_;
            line_start_ = false;
            if (!skip_past('}')) return false;
            continue;
        }
        if (c == ';' || (c == '%' && at_line_start)) {
            skip_line();
            continue;
        }
        if (looks_like_movetext()) {
            game.offset = position();
            line_start_ = false;
            movetext_pending_ = true;
            return true;
        }
        skip_line();
    }
    game.offset = position();
    // The tag section: tag pairs, and the comments and escape lines that may
    // stand between them.
    for (;;) {
        if (!skip_space()) break;
        const bool at_line_start = line_start_;
        const char c = buf_[pos_];
        if (c == '[') {
            line_start_ = false;
            read_tag(game);
        } else if (c == ';' || (c == '%' && at_line_start)) {
            skip_line(limit_of(game));
        } else {
            break;
        }
        if (over_limit(game)) {
            if (game.tag_error.empty()) game.tag_error = "game longer than the size limit";
            resynchronise();
            movetext_pending_ = false;
            return true;
        }
    }
    movetext_pending_ = true;
    return true;
}

// After a game that exceeded the size limit: skips to the next line that
// starts with '[', unless the limit was found at the start of one (the next
// game's first tag pair).
void PgnReader::resynchronise() {
    if (line_start_) {
        // The byte after the limit may not have been read yet: whether it
        // starts a tag line must not depend on where a chunk ended.
        if (pos_ == end_) {
            std::size_t keep = pos_;
            if (!refill(keep)) return;
        }
        if (buf_[pos_] == '[') return;
    }
    for (;;) {
        if (!skip_past('\n')) return;
        if (pos_ == end_) {
            std::size_t keep = pos_;
            if (!refill(keep)) return;
        }
        if (buf_[pos_] == '[') {
            line_start_ = true;
            return;
        }
    }
}

// A mainline word: a move number is dropped (a move glued to it, "12.e4",
// kept), a result ends the game, annotation glyphs standing alone are
// dropped, anything else is kept as SAN when keep is set. True at a result.
// slack: how many bytes after the word may be read (they are not its own).
bool PgnReader::take_word(PgnGame& game, std::string_view word, bool keep, std::size_t slack) {
    const char first = word[0];
    // Most words are SAN and start with a letter; the others start with a
    // digit (move numbers, results, 0-0) or are "*" or annotation glyphs.
    if (is_digit(first)) {
        std::size_t i = 1;
        while (i < word.size() && is_digit(word[i])) ++i;
        if (i == word.size()) {
            // "12", but "0000" is the null move in long algebraic text.
            if (word != "0000") return false;
        } else if (word[i] == '.') {
            // "12.", "12...", or the move glued on: "12.e4".
            while (i < word.size() && word[i] == '.') ++i;
            word.remove_prefix(i);
            if (word.empty()) return false;
        } else if (is_result(word)) {
            game.result.assign(word);
            return true;
        }
        // Otherwise 0-0 or a word the move reader will refuse: kept whole.
    } else if (first == '*' && word.size() == 1) {
        game.result.assign(word);
        return true;
    }
    // Dots, annotation glyphs and the like standing alone.
    if ((first == '.' || first == '!' || first == '?') && all_of(word, ".!?")) {
        if (keep) add_glyph_nag(game, word);
        return false;
    }
    if (keep) {
        const auto length = static_cast<std::uint32_t>(word.size());
        const auto offset = static_cast<std::uint32_t>(game.text.size());
        game.text.append_within(word.data(), word.size(), word.size() + slack);
        game.sans.push_back(Span{offset, length});
        const char last = word.back();
        if (last == '!' || last == '?') [[unlikely]]
            add_glyph_nag(game, word);
    }
    return false;
}

// "$" and the number after it: a NAG 0 to 255 (anything else is dropped).
void PgnReader::take_nag(PgnGame& game, std::string_view digits) {
    if (const int value = nag_number(digits); value >= 0)
        add_nag(game, static_cast<std::uint32_t>(value));
}

// The tokens most movetext is made of (spaces, words, brace comments) read
// straight from the buffer while each lies wholly in it and the game is
// within its size limit. Anything else, or a token that reaches the end of
// the buffer, is left at pos_ for read_movetext's general loop, which reads
// it the same way. True once a result token has ended the game.
bool PgnReader::scan_mainline(PgnGame& game, bool keep) {
    const char* const data = buf_.data();
    const std::size_t end = end_;
    // Tokens may start up to this index: position() - game.offset <= game_limit_.
    const std::uint64_t stop = game.offset + game_limit_;
    if (stop < base_) return false;
    const std::size_t last = static_cast<std::size_t>(std::min<std::uint64_t>(stop - base_, end));
    std::size_t pos = pos_;
    bool line_start = line_start_;
    for (;;) {
        CharClass type = WORD;
        // Most tokens are apart by one space: told without the loop.
        if (pos + 1 < end && data[pos] == ' ' && (type = class_of(data[pos + 1])) != SPACE &&
            type != LINE_FEED) {
            ++pos;
        } else {
            type = WORD;
            while (pos < end && (type = class_of(data[pos])) != WORD) {
                if (type == LINE_FEED)
                    line_start = true;
                else if (type != SPACE)
                    break;
                ++pos;
            }
        }
        pos_ = pos;
        line_start_ = line_start;
        if (pos >= end || pos > last) return false;
        const char c = data[pos];
        if (type != WORD) {
            if (c != '{') return false;
            // A comment must close within the limit, as read_movetext reads it.
            const char* const close_at = find_close(data, pos + 1, end);
            if (!close_at || close_at - data > static_cast<std::ptrdiff_t>(last)) return false;
            if (keep) {
                const std::size_t start = game.text.size();
                game.text.append_within(data + pos + 1,
                                        static_cast<std::size_t>(close_at - data) - pos - 1,
                                        end - pos - 1);
                record_comment(game, start);
            }
            pos = static_cast<std::size_t>(close_at - data) + 1;
            line_start = false;
            continue;
        }
        if (c == '%' && line_start) return false;
        if (is_digit(c)) {
            // A move number standing alone ("12.", "12..."), the commonest word
            // after SAN (annotated files give one before each move), dropped
            // here; glued to more ("12.e4"), or reaching the buffer's end, it
            // goes on as a word.
            std::size_t i = pos + 1;
            while (i < end && is_digit(data[i])) ++i;
            if (i < end && data[i] == '.') {
                while (++i < end && data[i] == '.') {}
                if (i < end && !is_word(data[i]) && i - pos <= MAX_WORD) {
                    pos = pos_ = i;
                    line_start = line_start_ = false;
                    continue;
                }
            }
        }
        const std::size_t stop_word = word_end(data, pos + 1, end);
        if (stop_word == end || stop_word - pos > MAX_WORD) return false;
        line_start = false;
        pos_ = stop_word;
        line_start_ = false;
        const std::string_view word(data + pos, stop_word - pos);
        if (take_word(game, word, keep, end - stop_word)) return true;
        pos = stop_word;
    }
}

void PgnReader::stop_at_limit(PgnGame& game) {
    game.end_error = "game longer than the size limit";
    resynchronise();
}

void PgnReader::read_movetext(PgnGame& game, bool keep) {
    if (!movetext_pending_) return;
    movetext_pending_ = false;
    // The tree's events are recorded by the general loop below, and for the
    // mainline tokens of the fast scan from what it kept.
    const bool tree = keep && variations_;
    std::size_t depth = 0;  // variation nesting
    for (;;) {
        if (depth == 0) {
            if (!tree) {
                if (scan_mainline(game, keep)) return;
            } else {
                const std::size_t sans = game.sans.size(), comments = game.comments.size(),
                                  nags = game.nags.size();
                const bool ended = scan_mainline(game, keep);
                mirror_scan(game, sans, comments, nags);
                if (ended) return;
            }
        }
        if (!skip_space()) {
            if (game.result.empty() && game.end_error.empty())
                game.end_error = depth > 0 ? "truncated game: unterminated variation"
                                           : "truncated game: no result";
            return;
        }
        if (over_limit(game)) return stop_at_limit(game);
        const bool at_line_start = line_start_;
        line_start_ = false;
        const char c = buf_[pos_];
        switch (c) {
            case '{': {
                ++pos_;
                if ((depth > 0 && !tree) || !keep) {
                    if (skip_past('}', limit_of(game))) continue;
                } else {
                    const std::size_t start = game.text.size();
                    if (copy_past('}', game.text, limit_of(game))) {
                        if (depth == 0) record_comment(game, start);
                        if (tree) add_text_event(game, PgnEvent::COMMENT, start);
                        continue;
                    }
                    game.text.resize(start);
                }
                if (over_limit(game)) return stop_at_limit(game);
                game.end_error = "truncated game: unterminated comment";
                return;
            }
            case ';': skip_line(limit_of(game)); continue;
            case '(':
                ++pos_;
                ++depth;
                if (tree) add_event(game, PgnEvent::OPEN);
                continue;
            case ')':
                ++pos_;
                if (depth > 0) {
                    --depth;
                    if (tree) add_event(game, PgnEvent::CLOSE);
                }
                continue;
            case '[':
                // The next game's tags: this game had no result token.
                if (at_line_start || depth == 0) {
                    line_start_ = at_line_start;
                    return;
                }
                ++pos_;
                continue;
            case '$': {
                ++pos_;
                const std::string_view digits = read_word(limit_of(game));
                // As for any word: one too long to keep that reaches the
                // limit ends the game there, wherever the chunks ended.
                if (truncated_word_ && over_limit(game)) return stop_at_limit(game);
                if (depth == 0 && keep) take_nag(game, digits);
                if (tree) {
                    if (const int value = nag_number(digits); value >= 0)
                        add_event(game, PgnEvent::NAG, Span{static_cast<std::uint32_t>(value), 0});
                }
                continue;
            }
            case '%':
                if (at_line_start) {
                    skip_line(limit_of(game));
                    continue;
                }
                break;
            case ']':
            case '}':
            case '"': ++pos_; continue;
            default: break;
        }
        const std::string_view word = read_word(limit_of(game));
        // A word too long to keep that reaches the limit is cut there, and is
        // not the game's.
        if (truncated_word_ && over_limit(game)) return stop_at_limit(game);
        if (depth == 0) {
            const std::size_t sans_before = game.sans.size(), nags_before = game.nags.size();
            const bool ended = take_word(game, word, keep);
            if (tree) mirror_mainline(game, sans_before, nags_before);
            if (ended) return;
        } else if (tree) {
            take_tree_word(game, word);
        }
    }
}

}  // namespace vemla::pgn
