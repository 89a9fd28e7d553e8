// A streaming PGN tokenizer: reads games from any byte source in chunks, in
// one pass, keeping only the current game's tags and mainline SAN tokens.
//
// The reader knows nothing about chess: it splits the input into games, reads
// their tag pairs (with the \" and \\ escapes), and walks their movetext,
// dropping move numbers, ; comments, % lines and variations nested to any
// depth, until the game's result token, the next game's tags, or the end of
// the input. The mainline's brace comments and NAGs ($1, and the glyphs of
// "e4!" or a "?!" standing alone) are kept as they stand, with the number of
// moves before them; what they say is read later, and only if asked.
// Playing the moves is pgn_game.hpp's business.
//
// A reader told to record variations also keeps every token of the game's
// tree, mainline and variations alike, as a flat list of events in file
// order (moves, comments, NAGs, and where each variation opens and closes),
// which pgn_tree.hpp turns into the tree without recursion.
//
// Memory is bounded by the longest game: the buffer holds one chunk plus the
// token being read, and a game whose text grows past the size limit is
// reported with an error and skipped up to the next line that starts a tag
// pair. The source is never read past what it returns.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vemla::pgn {

// Fills dst with up to capacity bytes and returns how many it wrote; 0 means
// the input has ended. It may throw: the exception passes through the reader,
// which can then only be destroyed.
using ReadFn = std::function<std::size_t(char* dst, std::size_t capacity)>;

inline constexpr std::size_t DEFAULT_CHUNK = 1 << 16;
inline constexpr std::uint64_t DEFAULT_GAME_LIMIT = std::uint64_t{16} << 20;
// Longest word kept whole; longer ones keep their first MAX_WORD bytes (no
// SAN or move number comes near it).
inline constexpr std::size_t MAX_WORD = 256;

// The bytes of a game's text, appended to piece by piece. std::string's
// append goes through a call into the library's general code (about 45
// instructions before the copy in the Python module's build); this one checks
// the room and copies, inline, and grows out of line. Cleared, it keeps its
// capacity, so that a reused game allocates nothing once it has grown.
class GameText {
public:
    GameText() = default;
    GameText(const GameText& other) : bytes_(other.bytes_), size_(other.size_) {}
    GameText(GameText&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}
    GameText& operator=(const GameText& other) {
        if (this != &other) assign(other);
        return *this;
    }
    GameText& operator=(GameText&& other) noexcept {
        bytes_ = std::move(other.bytes_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    const char* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return bytes_.size(); }

    void append(const char* bytes, std::size_t count) {
        // One byte is kept spare, so that the storage exists after any append.
        if (bytes_.size() - size_ <= count) [[unlikely]]
            return append_growing(bytes, count);
        if (count != 0) std::memcpy(bytes_.data() + size_, bytes, count);
        size_ += count;
    }
    void append(std::string_view piece) { append(piece.data(), piece.size()); }
    // append, for bytes followed by others up to readable bytes from bytes
    // on: a piece of up to SHORT bytes, most comments, is copied as SHORT
    // bytes of fixed length, which needs no call (the bytes beyond the piece
    // land in the spare room, past the text's end).
    static constexpr std::size_t SHORT = 32;
    void append_within(const char* bytes, std::size_t count, std::size_t readable) {
        if (count <= SHORT && readable >= SHORT && bytes_.size() - size_ > SHORT) {
            std::memcpy(bytes_.data() + size_, bytes, SHORT);
            size_ += count;
            return;
        }
        append(bytes, count);
    }
    void push_back(char c) { append(&c, 1); }
    GameText& operator+=(char c) {
        push_back(c);
        return *this;
    }
    GameText& operator+=(std::string_view piece) {
        append(piece);
        return *this;
    }
    void assign(std::string_view piece) {
        size_ = 0;
        append(piece);
    }
    void clear() { size_ = 0; }
    // Shortens the text to count bytes, or lengthens it with zero bytes.
    void resize(std::size_t count) {
        if (count > size_) {
            if (bytes_.size() <= count) bytes_.resize(count + 1);
            std::memset(bytes_.data() + size_, 0, count - size_);
        }
        size_ = count;
    }

    operator std::string_view() const { return {bytes_.data(), size_}; }
    operator std::string() const { return {bytes_.data(), size_}; }
    friend bool operator==(const GameText& a, std::string_view b) {
        return std::string_view(a) == b;
    }

private:
    // Moves the text to storage with room for count more bytes and the spare
    // one, at least twice as large, and appends them (they may lie in the old
    // storage).
    [[gnu::noinline]] void append_growing(const char* bytes, std::size_t count) {
        std::vector<char> larger(std::max({bytes_.size() * 2, size_ + count + 1, std::size_t{64}}));
        if (size_ != 0) std::memcpy(larger.data(), bytes_.data(), size_);
        if (count != 0) std::memcpy(larger.data() + size_, bytes, count);
        bytes_.swap(larger);
        size_ += count;
    }

    std::vector<char> bytes_;  // its size is the capacity
    std::size_t size_ = 0;
};

// A piece of PgnGame::text.
struct Span {
    std::uint32_t offset;
    std::uint32_t length;
};

// A tag pair as the reader keeps it: its name and value as pieces of
// PgnGame::text. (The PGN writer takes its tags as text: PgnTag.)
struct TagSpan {
    Span name;
    Span value;  // escapes resolved
};

// A brace comment of the mainline: the text between the braces, and the
// number of moves before it (0: before the first move).
struct PgnComment {
    std::uint32_t ply;
    Span text;
};

// An annotation of the ply-th move (from 1): a NAG's number, 0 to 255.
struct PgnNag {
    std::uint32_t ply;
    std::uint32_t value;
};

// A token of the game's tree, recorded only when the reader records
// variations. MOVE and COMMENT hold their text; NAG holds its value in
// span.offset; OPEN and CLOSE are a variation's parentheses.
struct PgnEvent {
    enum Kind : std::uint8_t { MOVE, COMMENT, NAG, OPEN, CLOSE };
    Kind kind;
    Span span;
};

// The NAG of a move-quality glyph ("!" 1, "?" 2, "!!" 3, "??" 4, "!?" 5,
// "?!" 6), or 0 for any other text.
std::uint32_t glyph_nag(std::string_view glyph);

// One game as the tokenizer read it. Reused from game to game, so that once
// its arrays have grown, reading allocates nothing.
struct PgnGame {
    std::uint64_t offset = 0;  // byte offset of the game's first byte in the input
    GameText text;             // every tag name, tag value, SAN token and comment, end to end
    std::vector<TagSpan> tags;  // in file order
    std::vector<Span> sans;    // mainline SAN tokens as written ("e4!" keeps its glyph)
    std::vector<PgnComment> comments;  // mainline comments, in file order
    std::vector<PgnNag> nags;          // mainline NAGs and move glyphs, in file order
    std::vector<PgnEvent> events;      // the whole tree's tokens, when variations are recorded
    std::string result;  // the termination token ("1-0", "0-1", "1/2-1/2", "*"), or empty
    // A fault of the tag section (a malformed tag pair): no movetext was kept.
    std::string tag_error;
    // A fault at the end (the input ended inside the game, the game exceeded
    // the size limit): the SAN tokens before it were kept.
    std::string end_error;

    std::string_view view(Span span) const { return {text.data() + span.offset, span.length}; }
    std::string_view tag_name(std::size_t i) const { return view(tags[i].name); }
    std::string_view tag_value(std::size_t i) const { return view(tags[i].value); }
    std::string_view san(std::size_t i) const { return view(sans[i]); }
    // The value of the first tag of that name; found is false when there is none.
    std::string_view find_tag(std::string_view name, bool& found) const;

    void clear();
};

class PgnReader {
public:
    explicit PgnReader(ReadFn read, std::size_t chunk = DEFAULT_CHUNK,
                       std::uint64_t game_limit = DEFAULT_GAME_LIMIT);

    // Reads the next game's tag section into game (clearing it first) and
    // stops before its movetext. Returns false once the input holds no more
    // games. A game whose movetext was not read is skipped first.
    bool next_game(PgnGame& game);

    // Reads the movetext of the game next_game returned. With keep false (a
    // refused game, or one whose tags already failed) the tokens are only
    // scanned for the end of the game and no SAN is stored.
    void read_movetext(PgnGame& game, bool keep);

    // With on set, read_movetext also records the tokens of the side
    // variations, and of the mainline, in PgnGame::events.
    void record_variations(bool on) { variations_ = on; }

    // The number of bytes consumed so far.
    std::uint64_t position() const { return base_ + pos_; }
    // The bytes held for reading: at most two chunks and one long word.
    std::size_t buffer_size() const { return buf_.size(); }

private:
    bool refill(std::size_t& keep);
    bool skip_space();
    // The skips take a bound, an input offset they do not read past: inside
    // a game the first offset beyond its size limit (limit_of), so that one
    // comment, line or word without end cannot carry the game past it.
    static constexpr std::uint64_t NO_BOUND = ~std::uint64_t{0};
    std::uint64_t limit_of(const PgnGame& game) const;
    std::size_t end_before(std::uint64_t bound) const;
    bool over_limit(const PgnGame& game) const { return position() - game.offset > game_limit_; }
    std::string_view read_word(std::uint64_t bound = NO_BOUND);
    bool skip_past(char stop, std::uint64_t bound = NO_BOUND);
    void skip_line(std::uint64_t bound = NO_BOUND);
    bool copy_past(char stop, GameText& out, std::uint64_t bound);
    bool read_tag(PgnGame& game);
    bool looks_like_movetext();
    bool take_word(PgnGame& game, std::string_view word, bool keep, std::size_t slack = 0);
    static void take_nag(PgnGame& game, std::string_view digits);
    bool scan_mainline(PgnGame& game, bool keep);
    void resynchronise();
    void stop_at_limit(PgnGame& game);

    ReadFn read_;
    std::vector<char> buf_;
    std::size_t pos_ = 0;     // next byte to read in buf_
    std::size_t end_ = 0;     // end of the bytes read into buf_
    std::uint64_t base_ = 0;  // input offset of buf_[0]
    std::size_t chunk_;
    std::uint64_t game_limit_;
    bool eof_ = false;
    bool started_ = false;    // the byte-order mark check has been made
    bool line_start_ = true;  // nothing but spaces since the last line feed
    bool movetext_pending_ = false;
    bool variations_ = false;      // record_variations
    bool truncated_word_ = false;  // the last word read was longer than the buffer keeps
    std::string long_word_;        // a word too long to keep in the buffer: its first bytes
};

// The PGN result tokens, and whether a token is one.
bool is_result(std::string_view token);

}  // namespace vemla::pgn
