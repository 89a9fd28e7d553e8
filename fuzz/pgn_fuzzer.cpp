// The PGN reader on arbitrary bytes, fed in chunks of random sizes.
//
// The first four bytes seed the chunk sizes and the game size limit; the rest
// is the PGN text. It is
// tokenized twice: once in one chunk, once with a small reader chunk and a
// source that returns random short counts. Both must give the same games
// (offsets, tags, SAN tokens, comments, NAGs, result, errors), and the reader's buffer and
// each game's text must stay within their bounds. The games are then played,
// and must be the same games, each played to its end or to an error. The
// game size limit is small (half the seeds make it shorter than most inputs),
// so long games take the resynchronisation path.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "move_generator/mod.hpp"
#include "notation/annotations.hpp"
#include "notation/pgn_game.hpp"

namespace vemla::fuzz {
namespace {

// 2 KiB, or for half the seeds 32 to 543 bytes: inputs are kept short for
// speed, and the short limits still send their games past it.
std::uint64_t game_limit(std::uint32_t seed) {
    return (seed >> 8) & 1 ? 2048 : 32 + (seed >> 9) % 512;
}

struct Seen {
    std::uint64_t offset;
    std::string text, result, tag_error, end_error;
    std::vector<pgn::TagSpan> tags;
    std::vector<pgn::Span> sans;
    std::vector<pgn::PgnComment> comments;
    std::vector<pgn::PgnNag> nags;
};

bool same(const Seen& a, const Seen& b) {
    const auto same_span = [](pgn::Span x, pgn::Span y) {
        return x.offset == y.offset && x.length == y.length;
    };
    return a.offset == b.offset && a.text == b.text && a.result == b.result &&
           a.tag_error == b.tag_error && a.end_error == b.end_error &&
           a.sans.size() == b.sans.size() && a.tags.size() == b.tags.size() &&
           a.comments.size() == b.comments.size() && a.nags.size() == b.nags.size() &&
           std::equal(a.comments.begin(), a.comments.end(), b.comments.begin(),
                      [&](const pgn::PgnComment& x, const pgn::PgnComment& y) {
                          return x.ply == y.ply && same_span(x.text, y.text);
                      }) &&
           std::equal(a.nags.begin(), a.nags.end(), b.nags.begin(),
                      [](const pgn::PgnNag& x, const pgn::PgnNag& y) {
                          return x.ply == y.ply && x.value == y.value;
                      }) &&
           std::equal(a.sans.begin(), a.sans.end(), b.sans.begin(), same_span) &&
           std::equal(a.tags.begin(), a.tags.end(), b.tags.begin(),
                      [&](const pgn::TagSpan& x, const pgn::TagSpan& y) {
                          return same_span(x.name, y.name) && same_span(x.value, y.value);
                      });
}

// What a failure message shows of a game.
std::string describe(const Seen& g) {
    std::string out = "offset " + std::to_string(g.offset) + ", " + std::to_string(g.tags.size()) +
                      " tags, " + std::to_string(g.sans.size()) + " SAN, " +
                      std::to_string(g.comments.size()) + " comments, " +
                      std::to_string(g.nags.size()) + " NAGs, result " + quoted(g.result) +
                      ", tag error " + quoted(g.tag_error) + ", end error " +
                      quoted(g.end_error) + "\n    text " + quoted(g.text);
    for (const pgn::TagSpan& tag : g.tags)
        out += "\n    tag " + std::to_string(tag.name.offset) + "+" +
               std::to_string(tag.name.length) + " = " + std::to_string(tag.value.offset) + "+" +
               std::to_string(tag.value.length);
    for (const pgn::Span& san : g.sans)
        out += "\n    SAN " + std::to_string(san.offset) + "+" + std::to_string(san.length);
    return out;
}

// Every third game is refused, the others kept.
bool keep_game(std::size_t index) { return index % 3 != 2; }

// A source of text that returns random short counts when seed is not 0.
pgn::ReadFn source(std::string_view text, std::size_t& at, std::uint32_t seed) {
    return [text, &at, seed](char* dst, std::size_t capacity) mutable {
        std::size_t n = std::min(capacity, text.size() - at);
        if (seed != 0 && n > 1) {
            seed = seed * 1664525u + 1013904223u;
            n = 1 + (seed >> 8) % n;
        }
        std::memcpy(dst, text.data() + at, n);
        at += n;
        return n;
    };
}

// The tokens of every game, with the bounds on memory checked after each.
std::vector<Seen> tokens(std::string_view text, std::size_t chunk, std::uint32_t seed,
                         std::uint32_t limit_seed) {
    std::size_t at = 0;
    const std::uint64_t limit = game_limit(limit_seed);
    pgn::PgnReader reader(source(text, at, seed), chunk, limit);
    std::vector<Seen> games;
    pgn::PgnGame game;
    while (reader.next_game(game)) {
        reader.read_movetext(game, keep_game(games.size()));
        CHECK(game.text.size() <= limit + chunk + 2 * pgn::MAX_WORD,
              "game text of " + std::to_string(game.text.size()) + " bytes");
        CHECK(reader.buffer_size() <= 2 * chunk + 2 * pgn::MAX_WORD + 8,
              "buffer of " + std::to_string(reader.buffer_size()) + " bytes for chunks of " +
                  std::to_string(chunk));
        games.push_back(Seen{game.offset, game.text, game.result, game.tag_error, game.end_error,
                             game.tags, game.sans, game.comments, game.nags});
    }
    CHECK(at == text.size(), "the reader stopped before the end of its input");
    return games;
}

// Plays every game: the same games as the tokens, each played up to its
// first fault, the board back at the start position's state after each.
void play(const MoveGenerator& generator, std::string_view text, std::uint64_t limit,
          const std::vector<Seen>& expected) {
    std::size_t at = 0;
    pgn::GameReader reader(generator, source(text, at, 0), std::max<std::size_t>(text.size(), 1),
                           limit);
    pgn::PgnGame game;
    pgn::PlayedGame played;
    std::size_t index = 0;
    while (reader.next_tags(game)) {
        CHECK(index < expected.size(), "more games played than read");
        const bool keep = keep_game(index);
        reader.finish(game, played, keep);
        CHECK(game.offset == expected[index].offset,
              "game " + std::to_string(index) + " at another offset");
        if (keep) {
            CHECK(played.moves.size() <= game.sans.size(), "more moves than SAN tokens");
            CHECK(!played.error.empty() || played.moves.size() == game.sans.size(),
                  "a game without an error left SAN tokens unplayed");
            if (played.error.empty())
                CHECK(reader.board().ply() == played.moves.size(), "board ply");
            // The annotations of the moves played, one entry per move.
            notation::RawAnnotations raw;
            if (raw.take(game, played.moves.size())) {
                const notation::Annotations notes = raw.read();
                CHECK(notes.plies() == played.moves.size() &&
                          notes.comments.size() == played.moves.size() + 1,
                      "annotations of another length");
                for (const pgn::PgnNag& nag : notes.nags)
                    CHECK(nag.ply >= 1 && nag.ply <= played.moves.size() && nag.value <= 255,
                          "a NAG out of range");
            }
        }
        ++index;
    }
    CHECK(index == expected.size(), "fewer games played than read");
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vemla;
    using namespace vemla::fuzz;
    static const MoveGenerator generator;
    if (size < 4) return 0;
    std::uint32_t seed;
    std::memcpy(&seed, data, 4);
    seed |= 1;
    const std::string_view text(reinterpret_cast<const char*>(data) + 4, size - 4);
    const auto whole = tokens(text, std::max<std::size_t>(text.size(), 1), 0, seed);
    const std::size_t chunk = 1 + (seed >> 24) % 64;
    const auto pieces = tokens(text, chunk, seed, seed);
    CHECK(whole.size() == pieces.size(), std::to_string(whole.size()) + " games in one chunk, " +
                                             std::to_string(pieces.size()) + " in chunks of " +
                                             std::to_string(chunk));
    for (std::size_t i = 0; i < whole.size(); ++i)
        CHECK(same(whole[i], pieces[i]),
              "game " + std::to_string(i) + " differs in chunks of " + std::to_string(chunk) +
                  "\n  one chunk: " + describe(whole[i]) + "\n  in chunks: " +
                  describe(pieces[i]));
    play(generator, text, game_limit(seed), whole);
    return 0;
}
