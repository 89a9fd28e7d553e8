// Mainline comments and NAGs as the tokenizer keeps them, what they say once
// read, null moves and long algebraic moves in movetext, tag values with
// unescaped quotes, and the writer's annotations read back.
#include "test_support.hpp"

#include <algorithm>
#include <cmath>
#include <random>

#include "notation/pgn_writer.hpp"
#include "notation/annotations.hpp"
#include "notation/pgn_game.hpp"
#include "notation/pgn_reader.hpp"

namespace vemla::test {
namespace {

using notation::Annotations;
using notation::Eval;

struct Kept {
    std::vector<std::string> sans;
    std::vector<std::pair<std::uint32_t, std::string>> comments;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> nags;
    std::vector<std::pair<std::string, std::string>> tags;
    std::string tag_error, end_error;
    friend bool operator==(const Kept&, const Kept&) = default;
};

std::vector<Kept> tokenize(std::string_view text, std::size_t chunk = 1 << 16) {
    std::size_t at = 0;
    pgn::PgnReader reader(
        [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::min({capacity, chunk, text.size() - at});
            std::copy_n(text.data() + at, n, dst);
            at += n;
            return n;
        },
        chunk);
    std::vector<Kept> out;
    pgn::PgnGame game;
    while (reader.next_game(game)) {
        reader.read_movetext(game, true);
        Kept k;
        for (std::size_t i = 0; i < game.sans.size(); ++i) k.sans.emplace_back(game.san(i));
        for (const auto& c : game.comments) k.comments.emplace_back(c.ply, game.view(c.text));
        for (const auto& n : game.nags) k.nags.emplace_back(n.ply, n.value);
        for (std::size_t i = 0; i < game.tags.size(); ++i)
            k.tags.emplace_back(game.tag_name(i), game.tag_value(i));
        k.tag_error = game.tag_error;
        k.end_error = game.end_error;
        out.push_back(std::move(k));
    }
    return out;
}

// The game's annotations as read_pgn gives them, with its moves.
struct Game {
    pgn::PlayedGame played;
    Annotations notes;
};

std::vector<Game> play_all(std::string_view text) {
    std::size_t at = 0;
    pgn::GameReader reader(generator(), [&](char* dst, std::size_t capacity) {
        const std::size_t n = std::min(capacity, text.size() - at);
        std::copy_n(text.data() + at, n, dst);
        at += n;
        return n;
    });
    std::vector<Game> out;
    pgn::PgnGame game;
    while (reader.next_tags(game)) {
        Game g;
        reader.finish(game, g.played, true);
        notation::RawAnnotations raw;
        g.notes =
            raw.take(game, g.played.moves.size()) ? raw.read() : Annotations(g.played.moves.size());
        out.push_back(std::move(g));
    }
    return out;
}

TEST(Annotations, TokenizerKeepsMainlineCommentsAndNagsInAnyChunks) {
    const std::string text =
        "[Event \"e\"]\n\n{ before } 1. e4! { after e4 }\n{ and again } e5 $2 $300 $x ( 1... c5 "
        "{ in a variation } $5 ) { after the variation } 2. Nf3?! ?? Nc6 $14 $255 *\n"
        "{ between games }\n[Event \"f\"]\n\n$3 1. d4 {unfinished";
    const auto whole = tokenize(text);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[0].sans, (std::vector<std::string>{"e4!", "e5", "Nf3?!", "Nc6"}));
    EXPECT_EQ(
        whole[0].comments,
        (std::vector<std::pair<std::uint32_t, std::string>>{
            {0, " before "}, {1, " after e4 "}, {1, " and again "}, {2, " after the variation "}}));
    EXPECT_EQ(whole[0].nags, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                 {1, 1}, {2, 2}, {3, 6}, {3, 4}, {4, 14}, {4, 255}}));
    // A NAG before the first move has no move; an unterminated comment is lost
    // with the game's end.
    EXPECT_TRUE(whole[1].nags.empty());
    EXPECT_TRUE(whole[1].comments.empty());
    EXPECT_EQ(whole[1].end_error, "truncated game: unterminated comment");
    for (std::size_t chunk = 1; chunk <= 23; ++chunk)
        EXPECT_EQ(tokenize(text, chunk), whole) << chunk;
}

TEST(Annotations, TagValuesWithUnescapedQuotes) {
    const std::string text =
        "[White \"\"Socrates Expert\"\"]\n[Black \"say \"hi\" twice\"]\n[Event \"a\" ]\n"
        "[Site \"x\"][Round \"2\"]\n\n1. e4 *\n"
        "[Round \"1\" junk]\n\n1. d4 *\n";
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{1} << 16}) {
        const auto games = tokenize(text, chunk);
        ASSERT_EQ(games.size(), 2u);
        EXPECT_EQ(games[0].tag_error, "");
        EXPECT_EQ(games[0].tags, (std::vector<std::pair<std::string, std::string>>{
                                     {"White", "\"Socrates Expert\""},
                                     {"Black", "say \"hi\" twice"},
                                     {"Event", "a"},
                                     {"Site", "x"},
                                     {"Round", "2"}}));
        EXPECT_EQ(games[0].sans, (std::vector<std::string>{"e4"}));
        // Without a quote before the bracket the pair is still malformed.
        EXPECT_EQ(games[1].tag_error, "malformed tag pair: no closing bracket");
    }
}

TEST(Annotations, CommentsReadIntoTextCommandsEvalsAndClocks) {
    Annotations notes(3);
    notation::read_comment("  Good move. [%eval 0.17] [%clk 0:03:00]\n", 1, notes);
    notation::read_comment("[%eval #-3][%clk 1:02:03.5] [%csl Ga1]one[%emt 0:00:02]two", 2, notes);
    notation::read_comment("a [%eval 1.5] b", 2, notes);  // a second eval: kept as a command
    notation::read_comment("[%eval nonsense] [%clk 9:99] [%unclosed", 3, notes);
    notation::read_comment("[%eval 0.3] start", 0, notes);  // no move to go with
    EXPECT_EQ(notes.comments,
              (std::vector<std::string>{"start", "Good move.", "one two a b", "[%unclosed"}));
    EXPECT_EQ(notes.commands,
              (std::vector<std::string>{"[%eval 0.3]", "", "[%csl Ga1] [%emt 0:00:02] [%eval 1.5]",
                                        "[%eval nonsense]"}));
    EXPECT_EQ(notes.evals[0], (Eval{Eval::PAWNS, 0.17, 0}));
    EXPECT_EQ(notes.evals[1], (Eval{Eval::MATE, 0, -3}));
    EXPECT_EQ(notes.evals[2].kind, Eval::NONE);
    EXPECT_EQ(notes.clocks[0], 180.0);
    EXPECT_EQ(notes.clocks[1], 3723.5);
    // "9:99" reads as 9 minutes and 99 seconds: the fields are not range-checked.
    EXPECT_EQ(notes.clocks[2], 639.0);
}

TEST(Annotations, EvalAndClockForms) {
    const auto eval = [](std::string_view text) {
        Eval e;
        return notation::read_eval(text, e) ? e : Eval{Eval::NONE, -99, -99};
    };
    EXPECT_EQ(eval("0.17"), (Eval{Eval::PAWNS, 0.17, 0}));
    EXPECT_EQ(eval(" -1.5 "), (Eval{Eval::PAWNS, -1.5, 0}));
    EXPECT_EQ(eval("+2"), (Eval{Eval::PAWNS, 2, 0}));
    EXPECT_EQ(eval("-.5"), (Eval{Eval::PAWNS, -0.5, 0}));
    EXPECT_EQ(eval("0.25,23"), (Eval{Eval::PAWNS, 0.25, 0}));
    EXPECT_EQ(eval("#3"), (Eval{Eval::MATE, 0, 3}));
    EXPECT_EQ(eval("#+3"), (Eval{Eval::MATE, 0, 3}));
    EXPECT_EQ(eval("#-12"), (Eval{Eval::MATE, 0, -12}));
    for (const char* bad : {"", "#", "#-", "# 3", "1.5x", "inf", "nan", "1e999", "0.2,", "0.2,x",
                            "++1", "#1.5", "mate"})
        EXPECT_EQ(eval(bad).kind, Eval::NONE) << bad;

    const auto clock = [](std::string_view text) {
        double s = -1;
        return notation::read_clock(text, s) ? s : -1.0;
    };
    EXPECT_EQ(clock("0:03:00"), 180);
    EXPECT_EQ(clock("1:00:00.25"), 3600.25);
    EXPECT_EQ(clock("3:07"), 187);
    EXPECT_EQ(clock("59.9"), 59.9);
    EXPECT_EQ(clock("0:00:03.1"), 3.1);
    for (const char* bad : {"", ":", "1:2:3:4", "1::2", "a:00", "0:00:0x", "1.5:00", "0:00:01.",
                            "-0:01:00", "0:01:00 extra"})
        EXPECT_EQ(clock(bad), -1.0) << bad;

    // The written forms read back to the same value.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> pawns(-40, 40), seconds(0, 20000);
    for (int i = 0; i < 2000; ++i) {
        const Eval e{Eval::PAWNS, i % 3 ? pawns(random) : std::round(pawns(random) * 100) / 100, 0};
        std::string text;
        notation::append_eval(text, e);
        EXPECT_EQ(eval(text), e) << text;
        const double s = i % 2 ? seconds(random) : std::round(seconds(random) * 10) / 10;
        text.clear();
        notation::append_clock(text, s);
        EXPECT_EQ(clock(text), s) << text;
    }
    std::string text;
    notation::append_clock(text, 3723.5);
    notation::append_eval(text += ' ', Eval{Eval::MATE, 0, -3});
    notation::append_eval(text += ' ', Eval{Eval::PAWNS, -0.1, 0});
    EXPECT_EQ(text, "1:02:03.5 #-3 -0.1");
}

// Null moves pass, long algebraic moves are played where legal, and both are
// replayed by the board.
TEST(Annotations, NullMovesAndLongAlgebraicMovetext) {
    const auto games = play_all(
        "[Event \"null\"]\n\n1. e4 -- 2. d4 Z0 3. Nf3 @@@@ 4. Bc4 0000 5. O-O e5 *\n\n"
        "[Event \"uci\"]\n\n1. g1f3 c7c5 2. e2e4 b8c6 3. f1e2 d7d6 4. e1g1 c8g4 5. Nc3 *\n\n"
        "[FEN \"8/4P1k1/8/8/8/8/8/4K3 w - - 0 1\"]\n\n1. e7e8q Kf6 2. e1e2 *\n\n"
        "[Event \"bad\"]\n\n1. e2e5 e5 *\n");
    ASSERT_EQ(games.size(), 4u);
    const pgn::PlayedGame& null = games[0].played;
    EXPECT_EQ(null.error, "");
    ASSERT_EQ(null.moves.size(), 10u);
    Board board = Board::from_full_fen(DEFAULT_FEN);
    for (const ChessMove move : null.moves) {
        if (move == NULL_MOVE_CODE)
            board.push_null();
        else
            board.push_move(move);
    }
    EXPECT_EQ(null.moves[1], NULL_MOVE_CODE);
    EXPECT_EQ(null.moves[7], NULL_MOVE_CODE);
    EXPECT_EQ(board.full_fen(), "rnbqkbnr/pppp1ppp/8/4p3/2BPP3/5N2/PPP2PPP/RNBQ1RK1 w kq e6 0 6");

    EXPECT_EQ(games[1].played.error, "");
    ASSERT_EQ(games[1].played.moves.size(), 9u);
    EXPECT_EQ(games[1].played.moves[6].to_string(), "e1g1");
    EXPECT_EQ(games[2].played.error, "");
    EXPECT_EQ(games[2].played.moves[0], ChessMove::pack(52, 60, ChessMove::PROMOTE_QUEEN));
    // Long algebraic text that names no legal move is refused as SAN is.
    EXPECT_EQ(games[3].played.moves.size(), 0u);
    EXPECT_TRUE(games[3].played.error.starts_with("ply 1: ")) << games[3].played.error;
}

TEST(Annotations, PushNullIsTakenBackExactly) {
    Board board = Board::from_full_fen("4k3/8/8/3pP3/8/8/8/R3K2R w KQ d6 0 12");
    const Board before = board;
    board.push_null();
    EXPECT_EQ(board.full_fen(), "4k3/8/8/3pP3/8/8/8/R3K2R b KQ - 1 12");
    board.push_null();
    EXPECT_EQ(board.full_fen(), "4k3/8/8/3pP3/8/8/8/R3K2R w KQ - 2 13");
    EXPECT_EQ(board.repetitions(), 1);  // the start had an en-passant square
    board.pop_move();
    board.pop_move();
    EXPECT_EQ(board, before);
}

// The game read from a file and written back with its annotations reads back
// to the same moves and annotations.
TEST(Annotations, WrittenAnnotationsReadBack) {
    const std::string text =
        "[Event \"a\"]\n[Result \"0-1\"]\n\n{ The start. } 1. e4 $1 { [%eval 0.17] [%clk 0:03:00] "
        "} "
        "e5?! { Hm. [%eval #-3] [%clk 0:02:59.5] [%emt 0:00:01] } 2. -- $13 Nc6 "
        "{ [%clk 1:00:00] } 3. Bc4 0-1\n";
    auto games = play_all(text);
    ASSERT_EQ(games.size(), 1u);
    const Game& game = games[0];
    ASSERT_EQ(game.played.error, "");
    const Annotations& notes = game.notes;
    EXPECT_EQ(notes.comments, (std::vector<std::string>{"The start.", "", "Hm.", "", "", ""}));
    EXPECT_EQ(notes.nags.size(), 3u);

    const std::vector<PgnTag> tags{{"Event", "a"}, {"Result", "0-1"}};
    const std::string written =
        write_pgn(generator(), tags, game.played.moves, std::nullopt, std::nullopt, &notes);
    std::string one_line = written;
    std::replace(one_line.begin(), one_line.end(), '\n', ' ');
    EXPECT_NE(one_line.find("{ The start. } 1. e4 $1 { [%eval 0.17] [%clk 0:03:00] } 1... e5 $6 "
                            "{ Hm. [%eval #-3] [%clk 0:02:59.5] [%emt 0:00:01] } 2. -- $13 Nc6 "
                            "{ [%clk 1:00:00] } 3. Bc4 0-1"),
              std::string::npos)
        << written;
    auto again = play_all(written);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].played.moves, game.played.moves);
    EXPECT_EQ(again[0].notes.comments, notes.comments);
    EXPECT_EQ(again[0].notes.commands, notes.commands);
    EXPECT_EQ(again[0].notes.evals, notes.evals);
    EXPECT_EQ(again[0].notes.clocks.size(), notes.clocks.size());
    for (std::size_t i = 0; i < notes.clocks.size(); ++i)
        EXPECT_TRUE(again[0].notes.clocks[i] == notes.clocks[i] ||
                    (std::isnan(again[0].notes.clocks[i]) && std::isnan(notes.clocks[i])));
    ASSERT_EQ(again[0].notes.nags.size(), notes.nags.size());
    for (std::size_t i = 0; i < notes.nags.size(); ++i) {
        EXPECT_EQ(again[0].notes.nags[i].ply, notes.nags[i].ply);
        EXPECT_EQ(again[0].notes.nags[i].value, notes.nags[i].value);
    }

    // What the writer cannot write is refused.
    Annotations bad = notes;
    bad.comments[2] = "a } b";
    EXPECT_THROW(write_pgn(generator(), tags, game.played.moves, std::nullopt, std::nullopt, &bad),
                 InvalidInput);
    bad = notes;
    bad.clocks[0] = -1;
    EXPECT_THROW(write_pgn(generator(), tags, game.played.moves, std::nullopt, std::nullopt, &bad),
                 InvalidInput);
    const Annotations short_notes(2);
    EXPECT_THROW(
        write_pgn(generator(), tags, game.played.moves, std::nullopt, std::nullopt, &short_notes),
        InvalidInput);
}

}  // namespace
}  // namespace vemla::test
