// The PGN tokenizer: games, tags, movetext tokens, and the same result
// whatever the chunk size.
#include "test_support.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "notation/san.hpp"
#include "notation/pgn_game.hpp"
#include "notation/pgn_reader.hpp"

namespace vemla::test {
namespace {

using pgn::PgnGame;
using pgn::PgnReader;

// A game as plain strings, for comparisons.
struct Read {
    std::uint64_t offset;
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<std::string> sans;
    std::string result, tag_error, end_error;
    friend bool operator==(const Read&, const Read&) = default;
};

std::ostream& operator<<(std::ostream& out, const Read& r) {
    out << "@" << r.offset << " [";
    for (const auto& [n, v] : r.tags) out << n << "=" << v << ";";
    out << "] ";
    for (const auto& s : r.sans) out << s << " ";
    return out << "result=" << r.result << " tag_error=" << r.tag_error
               << " end_error=" << r.end_error;
}

// Reads every game of text, handing it to the reader chunk bytes at a time.
std::vector<Read> read_all(std::string_view text, std::size_t chunk = 1 << 16,
                           std::uint64_t limit = pgn::DEFAULT_GAME_LIMIT) {
    std::size_t at = 0;
    PgnReader reader(
        [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::min({capacity, chunk, text.size() - at});
            std::copy_n(text.data() + at, n, dst);
            at += n;
            return n;
        },
        chunk, limit);
    std::vector<Read> out;
    PgnGame game;
    while (reader.next_game(game)) {
        reader.read_movetext(game, true);
        Read r{game.offset, {}, {}, game.result, game.tag_error, game.end_error};
        for (std::size_t i = 0; i < game.tags.size(); ++i)
            r.tags.emplace_back(game.tag_name(i), game.tag_value(i));
        for (std::size_t i = 0; i < game.sans.size(); ++i) r.sans.emplace_back(game.san(i));
        out.push_back(std::move(r));
    }
    return out;
}

using Sans = std::vector<std::string>;

TEST(PgnReader, TagsAndMovetext) {
    const std::string text =
        "[Event \"A \\\"quoted\\\" \\\\ name\"]\n[Site \"x]y\"]\n[Result \"1-0\"]\n\n"
        "1. e4 e5 2. Nf3 $1 Nc6 3.Bb5 a6!? 4... Ba4 1-0\n";
    const auto games = read_all(text);
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].tags,
              (std::vector<std::pair<std::string, std::string>>{
                  {"Event", "A \"quoted\" \\ name"}, {"Site", "x]y"}, {"Result", "1-0"}}));
    EXPECT_EQ(games[0].sans, (Sans{"e4", "e5", "Nf3", "Nc6", "Bb5", "a6!?", "Ba4"}));
    EXPECT_EQ(games[0].result, "1-0");
    EXPECT_EQ(games[0].offset, 0u);
    EXPECT_EQ(games[0].end_error, "");
}

// Comments, variations, NAGs and escape lines drop out of the mainline, and a
// result token inside any of them does not end the game.
TEST(PgnReader, CommentsVariationsAndEscapes) {
    const std::string text =
        "[Event \"e\"]\n"
        "% an escape line 1-0\n"
        "1. e4 { a comment ) with 1-0 and [%clk 0:01:00]\n over lines } e5 ; rest of line 0-1 (\n"
        "2. Nf3 ( 2. Nc3 ( 2. f4 exf4 ( 2... d5 ) ) 1/2-1/2 ) 2... Nc6 $14 3. Bb5 *\n";
    const auto games = read_all(text);
    ASSERT_EQ(games.size(), 1u) << games[1];
    EXPECT_EQ(games[0].sans, (Sans{"e4", "e5", "Nf3", "Nc6", "Bb5"}));
    EXPECT_EQ(games[0].result, "*");
}

TEST(PgnReader, SeveralGamesWithAndWithoutTags) {
    const std::string first = "\xEF\xBB\xBF[White \"a\"]\r\n\r\n1. d4 d5 0-1\r\n\r\n";
    const std::string between = "Exported by some tool.\n\n";
    const std::string second = "1. c4 e5 1/2-1/2\n";
    const std::string third = "[Black \"b\"]\n\n*\n";
    const std::string fourth = "[Black \"c\"]\n\t1.\te4\t0-0-0 *";
    const auto games = read_all(first + between + second + third + fourth);
    ASSERT_EQ(games.size(), 4u);
    EXPECT_EQ(games[0].offset, 3u);  // after the byte-order mark
    EXPECT_EQ(games[0].sans, (Sans{"d4", "d5"}));
    EXPECT_EQ(games[1].offset, first.size() + between.size());
    EXPECT_TRUE(games[1].tags.empty());
    EXPECT_EQ(games[1].sans, (Sans{"c4", "e5"}));
    EXPECT_EQ(games[1].result, "1/2-1/2");
    EXPECT_EQ(games[2].offset, first.size() + between.size() + second.size());
    EXPECT_TRUE(games[2].sans.empty());
    EXPECT_EQ(games[2].result, "*");
    EXPECT_EQ(games[3].sans, (Sans{"e4", "0-0-0"}));
    for (const Read& g : games) EXPECT_EQ(g.end_error, "") << g;
}

// A game that ends without a result token: the next game's tags end it; the
// end of the input ends it with an error, whatever it was in the middle of.
TEST(PgnReader, MissingResultAndTruncation) {
    auto games = read_all("[A \"1\"]\n1. e4 e5\n[B \"2\"]\n1. d4");
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].sans, (Sans{"e4", "e5"}));
    EXPECT_EQ(games[0].end_error, "");
    EXPECT_EQ(games[1].sans, (Sans{"d4"}));
    EXPECT_EQ(games[1].end_error, "truncated game: no result");

    EXPECT_EQ(read_all("1. e4 { unfinished")[0].end_error, "truncated game: unterminated comment");
    EXPECT_EQ(read_all("1. e4 ( 1. d4")[0].end_error, "truncated game: unterminated variation");
    games = read_all("[A \"1\"]\n[B \"unfinished");
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].tag_error, "malformed tag pair: unterminated tag value");
    EXPECT_EQ(games[0].tags.size(), 1u);
}

TEST(PgnReader, MalformedTagsKeepTheGameAndTheNextOne) {
    const auto games = read_all(
        "[Event \"ok\"]\n[Site unquoted]\n[\"no name\"]\n[Round \"1\" junk]\n[White \"w\"]\n\n1. "
        "e4 *\n"
        "[Event \"next\"]\n\n1. d4 *\n");
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].tag_error, "malformed tag pair: no quoted tag value");
    EXPECT_EQ(games[0].tags,
              (std::vector<std::pair<std::string, std::string>>{{"Event", "ok"}, {"White", "w"}}));
    EXPECT_EQ(games[1].tags, (std::vector<std::pair<std::string, std::string>>{{"Event", "next"}}));
    EXPECT_EQ(games[1].sans, (Sans{"d4"}));
}

// Move numbers in their forms, glued or not; words the move reader must refuse
// stay whole.
TEST(PgnReader, MoveNumbersAndOddWords) {
    const auto games = read_all("1.e4 1...e5 2 Nf3 3. . ! O-O+ 12e4 -- e8=Q# 0-0 *");
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].sans, (Sans{"e4", "e5", "Nf3", "O-O+", "12e4", "--", "e8=Q#", "0-0"}));
}

// A move number is dropped only where it stands alone: glued to what follows,
// the rest is read as a word of its own, a result included, in any chunks.
TEST(PgnReader, MoveNumbersGluedToTheirMoves) {
    const std::string text = "[E \"x\"]\n\n1. e4 1... 2.3 3...0-1 4.e4 5.. e5 {c} 6... 1/2-1/2\n";
    const auto whole = read_all(text, text.size());
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].sans, (Sans{"e4", "3", "0-1", "e4", "e5"}));
    EXPECT_EQ(whole[0].result, "1/2-1/2");
    for (std::size_t chunk = 1; chunk <= 17; ++chunk)
        EXPECT_EQ(read_all(text, chunk), whole) << chunk;
}

// A game over the size limit is reported and skipped to the next tag line.
TEST(PgnReader, SizeLimitResynchronises) {
    std::string big = "[Event \"big\"]\n\n1. e4 {";
    big += std::string(5000, 'x') + "}\n e5 Nf3 Nc6\n";
    big += std::string(3000, 'y') + " *\n";
    const auto games = read_all(big + "[Event \"after\"]\n\n1. d4 *\n", 64, 4096);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].sans, (Sans{"e4"}));
    EXPECT_EQ(games[0].end_error, "game longer than the size limit");
    EXPECT_EQ(games[1].tags[0].second, "after");
    EXPECT_EQ(games[1].sans, (Sans{"d4"}));
    EXPECT_EQ(games[1].end_error, "");
}

// No single token carries a game past its size limit: a comment, a line
// comment, a word or a tag value without end is cut at the limit, the game
// says so, and the game after it is read whole, its first tag pair included
// (also when the limit is found right at that tag pair).
TEST(PgnReader, EndlessTokensStopAtTheSizeLimit) {
    constexpr std::uint64_t limit = 4096;
    const std::string after = "\n[Event \"after\"]\n[Site \"s\"]\n\n1. d4 *\n";
    const std::string endless(10000, 'x');
    std::string at_limit = "[Event \"a\"]\n\n1. e4 {";
    at_limit += std::string(limit - 1 - at_limit.size(), 'c') + "}";  // '}' is byte 4095
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[Event \"a\"]\n\n1. e4 {" + endless, "game longer than the size limit"},
        {"[Event \"a\"]\n\n1. e4 ;" + endless, "game longer than the size limit"},
        {"[Event \"a\"]\n\n1. e4 " + endless, "game longer than the size limit"},
        {"[Event \"a\"]\n\n1. e4 $" + endless, "game longer than the size limit"},
        {"[Event \"a\"]\n\n1. e4\n%" + endless, "game longer than the size limit"},
        {"[Event \"a\"]\n; " + endless, "game longer than the size limit"},
        {"[Event \"" + endless, "malformed tag pair: tag value too long"},
        {at_limit, "game longer than the size limit"},
    };
    for (const auto& [bomb, error] : cases) {
        const auto whole = read_all(bomb + after, 1 << 16, limit);
        ASSERT_EQ(whole.size(), 2u) << error;
        EXPECT_EQ(whole[0].tag_error.empty() ? whole[0].end_error : whole[0].tag_error, error);
        EXPECT_LE(whole[0].sans.size(), 1u);
        using Tags = std::vector<std::pair<std::string, std::string>>;
        EXPECT_EQ(whole[1].tags, (Tags{{"Event", "after"}, {"Site", "s"}})) << bomb.substr(0, 20);
        EXPECT_EQ(whole[1].sans, (Sans{"d4"}));
        for (const std::size_t chunk : {1u, 7u, 300u, 4096u})
            EXPECT_EQ(read_all(bomb + after, chunk, limit), whole) << chunk;
        // With nothing after it, the input ends inside the endless token: the
        // game is still over the limit, not merely truncated, in any chunks.
        // (The game that ends right at the limit is then within it.)
        if (bomb == at_limit) continue;
        const auto last = read_all(bomb, 1 << 16, limit);
        ASSERT_EQ(last.size(), 1u) << error;
        EXPECT_EQ(last[0].tag_error.empty() ? last[0].end_error : last[0].tag_error, error)
            << bomb.substr(0, 20);
        for (const std::size_t chunk : {1u, 7u, 300u, 4096u})
            EXPECT_EQ(read_all(bomb, chunk, limit), last) << chunk;
    }
}

// Tag values each shorter than the limit that together pass it: the game is
// cut at the limit inside the value that reaches it, so its text never holds
// more than the limit, in any chunks (a value used to be read whole first:
// twice the limit, and more with blanks after inner quotes).
TEST(PgnReader, TagValuesTogetherStopAtTheSizeLimit) {
    constexpr std::uint64_t limit = 4096;
    const std::string after = "\n[Event \"after\"]\n\n1. d4 *\n";
    for (const std::string& second :
         {std::string(3000, 'y'), "a\"" + std::string(3000, ' ') + "b"}) {
        const std::string text =
            "[White \"" + std::string(3000, 'x') + "\"]\n[Black \"" + second + "\"]\n" + after;
        for (const std::size_t chunk : {1u, 7u, 300u, 1u << 16}) {
            std::size_t at = 0;
            PgnReader reader(
                [&](char* dst, std::size_t capacity) {
                    const std::size_t n = std::min({capacity, chunk, text.size() - at});
                    std::copy_n(text.data() + at, n, dst);
                    at += n;
                    return n;
                },
                chunk, limit);
            PgnGame game;
            ASSERT_TRUE(reader.next_game(game));
            EXPECT_LE(game.text.size(), limit) << chunk;
            EXPECT_EQ(game.tag_error, "malformed tag pair: tag value too long") << chunk;
            ASSERT_EQ(game.tags.size(), 1u);
            EXPECT_EQ(game.tag_name(0), "White");
            ASSERT_TRUE(reader.next_game(game));
            reader.read_movetext(game, true);
            EXPECT_EQ(game.tag_value(0), "after") << chunk;
            EXPECT_EQ(game.sans.size(), 1u);
            EXPECT_FALSE(reader.next_game(game));
        }
    }
}

// Every chunk size gives the same games as one chunk holding everything.
TEST(PgnReader, ChunkSizeDoesNotMatter) {
    const std::string text =
        "\xEF\xBB\xBF; header line\n[Event \"a \\\"b\\\"\"]\r\n[FEN \"8/8/8/8/8/8/8/8 w - - 0 "
        "1\"]\r\n\r\n"
        "1. e4 {c} e5 (1... c5 {d} (1... e6)) 2. Nf3 $2 1-0\n\nprose between\n"
        "%esc\n1. d4 d5 *\n[Event \"t\"]\n1. c4 {open";
    const auto whole = read_all(text, text.size());
    ASSERT_EQ(whole.size(), 3u);
    for (std::size_t chunk = 1; chunk <= 17; ++chunk)
        EXPECT_EQ(read_all(text, chunk), whole) << chunk;
}

// A tag section cut by the size limit at every byte, line starts included:
// whether the next line opens a game must not depend on where a chunk ended.
TEST(PgnReader, SizeLimitInTheTagsReadsAlikeInAnyChunks) {
    std::string text;
    for (int game = 0; game < 3; ++game)
        text += "[A \"1\"]\n[Bb \"22\"]\n[Ccc \"333\"]\n[D 4\"]\n[Eeeee \"55555\"]\n\n1. e4 *\n";
    for (std::uint64_t limit = 8; limit <= 90; ++limit) {
        const auto whole = read_all(text, text.size(), limit);
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{5}})
            EXPECT_EQ(read_all(text, chunk, limit), whole)
                << "limit " << limit << ", chunk " << chunk;
    }
}

// The corpus, comments and variations included, read in one chunk (where
// whole tokens are taken straight from the buffer) and in chunks too short to
// hold most of them, with and without a size limit that cuts games short.
TEST(PgnReader, CorpusReadsAlikeInAnyChunks) {
    std::ifstream in(data_path("pgn/corpus.pgn"), std::ios::binary);
    if (!in) VEMLA_MISSING_DATA("no pgn/corpus.pgn");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    for (const std::uint64_t limit : {pgn::DEFAULT_GAME_LIMIT, std::uint64_t{300}}) {
        const auto whole = read_all(text, text.size(), limit);
        ASSERT_GE(whole.size(), 3000u);
        for (const std::size_t chunk : {3u, 11u, 4096u}) {
            const auto pieces = read_all(text, chunk, limit);
            ASSERT_EQ(pieces.size(), whole.size()) << chunk;
            for (std::size_t i = 0; i < whole.size(); ++i)
                ASSERT_EQ(pieces[i], whole[i]) << "game " << i << ", chunks of " << chunk;
        }
    }
}

// Games played by GameReader agree with SAN read through the move list, move
// by move; among them a set-up position whose side not to move is in check,
// where taking the king leaves a side without one (and the board then goes
// the slow way), and a game after it on the same board.
TEST(GameReader, PlaysAsTheReferenceDoes) {
    const std::string text =
        "[FEN \"4k2r/8/8/8/8/8/4Q3/K7 w - - 0 1\"]\n\n1. Qxe8+ Rh1 2. Ka2 Rh2+ 3. Kb3 Rh3+ *\n\n"
        "[Event \"x\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 6. Re1 b5 7. Bb3 d6 "
        "8. c3 O-O 1-0\n\n"
        "[FEN \"rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2\"]\n\n2. Ke2 Qh4 3. "
        "Kd3 Qxe4+ 4. Kc3 Ke7 5. Kb3 Kd8 *\n";
    std::size_t at = 0;
    pgn::GameReader reader(generator(), [&](char* dst, std::size_t capacity) {
        const std::size_t n = std::min(capacity, text.size() - at);
        std::copy_n(text.data() + at, n, dst);
        at += n;
        return n;
    });
    PgnGame game;
    pgn::PlayedGame played;
    std::vector<std::size_t> lengths;
    while (reader.next_tags(game)) {
        reader.finish(game, played, true);
        EXPECT_EQ(played.error, "");
        lengths.push_back(played.moves.size());
        Board board =
            played.has_fen ? Board::from_full_fen(played.fen) : Board::from_full_fen(DEFAULT_FEN);
        ASSERT_EQ(played.moves.size(), game.sans.size());
        for (std::size_t i = 0; i < game.sans.size(); ++i) {
            ChessMove move;
            ASSERT_EQ(parse_san_reference(generator(), board, game.san(i), move),
                      SanRejection::NONE)
                << game.san(i);
            EXPECT_EQ(move, played.moves[i]) << game.san(i);
            board.push_move(move);
        }
        EXPECT_EQ(reader.board(), board);
    }
    EXPECT_EQ(lengths, (std::vector<std::size_t>{6, 16, 8}));
}

}  // namespace
}  // namespace vemla::test
