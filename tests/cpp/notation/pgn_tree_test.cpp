// Games with their variations: the tree the reader builds from the tokens,
// the faults that cut a variation short, nesting far deeper than any stack,
// and the writer's text read back to the same tree.
#include "test_support.hpp"

#include <algorithm>

#include "notation/pgn_game.hpp"
#include "notation/pgn_tree.hpp"
#include "notation/pgn_writer.hpp"

namespace vemla::test {
namespace {

struct ReadTree {
    pgn::PlayedGame played;
    pgn::GameTree tree;
    std::string end_error;
};

// Every game of text with its tree, handed to the reader chunk bytes at a time.
std::vector<ReadTree> read_trees(std::string_view text, std::size_t chunk = 1 << 16,
                                 std::uint64_t limit = pgn::DEFAULT_GAME_LIMIT) {
    std::size_t at = 0;
    pgn::GameReader reader(
        generator(),
        [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::min({capacity, chunk, text.size() - at});
            std::copy_n(text.data() + at, n, dst);
            at += n;
            return n;
        },
        chunk, limit);
    reader.read_variations(true);
    std::vector<ReadTree> out;
    pgn::PgnGame game;
    while (reader.next_tags(game)) {
        ReadTree read;
        reader.finish(game, read.played, true);
        read.tree = reader.tree();
        Board board;
        pgn::PlayedGame start;
        if (pgn::start_position(game, board, start)) pgn::write_sans(generator(), read.tree, board);
        read.end_error = game.end_error;
        out.push_back(std::move(read));
    }
    return out;
}

// The tree as text: each line's SANs, the alternatives to a move after it in
// parentheses, a starting comment as "{...}" before its move. Recursive: it
// prints small trees only.
void append_line(const pgn::GameTree& tree, std::uint32_t first, std::string& out) {
    const auto& nodes = tree.nodes;
    for (std::uint32_t n = first; n != pgn::NO_NODE; n = nodes[n].first_child) {
        if (n != first) out += ' ';
        if (const std::string* text = tree.starting_comment(n)) out += "{" + *text + "} ";
        out += nodes[n].san_text();
        if (nodes[nodes[n].parent].first_child != n) continue;
        for (std::uint32_t s = nodes[n].next_sibling; s != pgn::NO_NODE; s = nodes[s].next_sibling) {
            out += " (";
            append_line(tree, s, out);
            out += ')';
        }
    }
}

std::string shape(const pgn::GameTree& tree) {
    std::string out;
    append_line(tree, tree.nodes[0].first_child, out);
    return out;
}

// Node indices are in file order; parents come before children and every
// node is its parent's child once.
void expect_sound(const pgn::GameTree& tree) {
    const auto& nodes = tree.nodes;
    ASSERT_FALSE(nodes.empty());
    std::vector<int> seen(nodes.size(), 0);
    for (std::uint32_t i = 0; i < nodes.size(); ++i)
        for (std::uint32_t c = nodes[i].first_child; c != pgn::NO_NODE; c = nodes[c].next_sibling) {
            ASSERT_EQ(nodes[c].parent, i);
            ASSERT_EQ(nodes[c].ply, nodes[i].ply + 1);
            ASSERT_GT(c, i);
            ++seen[c];
        }
    for (std::uint32_t i = 1; i < nodes.size(); ++i) ASSERT_EQ(seen[i], 1) << i;
}

// The mainline's moves, following first children.
std::vector<ChessMove> mainline(const pgn::GameTree& tree) {
    std::vector<ChessMove> moves;
    for (std::uint32_t n = tree.nodes[0].first_child; n != pgn::NO_NODE;
         n = tree.nodes[n].first_child)
        moves.push_back(tree.nodes[n].move);
    return moves;
}

TEST(PgnTree, NestedVariationsHangWhereTheyBranch) {
    const auto games = read_trees(
        "[Event \"a\"]\n\n"
        "1. e4 (1. d4 d5 (1... Nf6 2. c4 (2. Nf3)) 2. c4) (1. c4) 1... e5\n"
        "(1... c5 2. Nf3) 2. Nf3 Nc6 (2... d6) 3. Bb5 *\n"
        // A variation before the first move is the alternative to it; the
        // mainline stays first.
        "[Event \"b\"]\n( 1. d4 ) 1. e4 e5 *\n"
        // Variations at the start of a variation: alternatives to the move
        // that variation begins with, after it.
        "1. e4 ( ( 1. d4 ) 1. c4 ) e5 *\n");
    ASSERT_EQ(games.size(), 3u);
    for (const auto& game : games) {
        expect_sound(game.tree);
        EXPECT_EQ(mainline(game.tree), game.played.moves);
        EXPECT_TRUE(game.tree.errors.empty());
    }
    EXPECT_EQ(shape(games[0].tree),
              "e4 (d4 d5 (Nf6 c4 (Nf3)) c4) (c4) e5 (c5 Nf3) Nf3 Nc6 (d6) Bb5");
    EXPECT_EQ(shape(games[1].tree), "e4 (d4) e5");
    EXPECT_EQ(shape(games[2].tree), "e4 (c4) (d4) e5");
}

TEST(PgnTree, CommentsAndNagsGoToTheirNodes) {
    const auto games = read_trees(
        "[Event \"a\"]\n{start} 1. e4 {after e4} $1 ({first} {second} 1. d4 $2 {after d4} d5 $146) {more on e4}\n"
        "1... e5!? *\n");
    ASSERT_EQ(games.size(), 1u);
    const pgn::GameTree& tree = games[0].tree;
    ASSERT_EQ(shape(tree), "e4 ({first second} d4 d5) e5");
    const notation::Annotations notes = tree.notes.read();
    // Nodes in file order: e4 1, d4 2, d5 3, e5 4.
    ASSERT_EQ(tree.size(), 5u);
    EXPECT_EQ(notes.comments[0], "start");
    EXPECT_EQ(notes.comments[1], "after e4 more on e4");
    EXPECT_EQ(notes.comments[2], "after d4");
    EXPECT_EQ(notes.comments[3], "");
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {1, 1}, {2, 2}, {3, 146}, {4, 5}};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> nags;
    for (const pgn::PgnNag& nag : notes.nags) nags.emplace_back(nag.ply, nag.value);
    EXPECT_EQ(nags, expected);
}

TEST(PgnTree, AnIllegalMoveCutsItsVariationOnly) {
    const auto games = read_trees(
        "1. e4 (1. d4 Ke7 (1... d5) 2. c4 (2. Nf3)) (1. Nf3 Nf6) e5 (1... Qxh7) 2. Nf3 *\n"
        "1. e4 e5 (1... c5) 2. Ke3 (2. Nf3) 2... Nc6 *\n");
    ASSERT_EQ(games.size(), 2u);
    const pgn::GameTree& first = games[0].tree;
    expect_sound(first);
    // Ke7 is not legal after 1. d4: that variation keeps d4 and drops the
    // rest, its own variations included; the next one is read.
    EXPECT_EQ(shape(first), "e4 (d4) (Nf3 Nf6) e5 Nf3");
    ASSERT_EQ(first.errors.size(), 2u);
    EXPECT_TRUE(first.errors[0].starts_with("ply 2 in a variation: Illegal SAN: no legal move "
                                            "matches \"Ke7\""))
        << first.errors[0];
    EXPECT_TRUE(first.errors[1].starts_with("ply 2 in a variation: ")) << first.errors[1];
    EXPECT_TRUE(games[0].played.error.empty());
    // A mainline fault ends the tree there: what follows belongs to no move.
    const pgn::GameTree& second = games[1].tree;
    EXPECT_EQ(shape(second), "e4 e5 (c5)");
    EXPECT_TRUE(second.errors.empty());
    EXPECT_FALSE(games[1].played.error.empty());
}

TEST(PgnTree, UnclosedVariationAtTheEnd) {
    const auto games = read_trees("1. e4 e5 (1... c5 2. Nf3 (2. c3 d5");
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(shape(games[0].tree), "e4 e5 (c5 Nf3 (c3 d5))");
    EXPECT_EQ(games[0].end_error, "truncated game: unterminated variation");
}

TEST(PgnTree, SameTreeWhateverTheChunkSize) {
    const std::string text =
        "[Event \"a\"]\n\n{c} 1. e4 {x} (1. d4 {y} $3 d5 (1... Nf6!)) 1... e5 (1... c5 ; line\n"
        "2. Nf3) 2. Nf3 *\n[Event \"b\"]\n\n1. d4 ( 1. e4 e5 ( 1... c5 ) ) d5 1-0\n";
    const auto whole = read_trees(text);
    ASSERT_EQ(whole.size(), 2u);
    for (const std::size_t chunk : {1u, 2u, 7u, 64u}) {
        const auto pieces = read_trees(text, chunk);
        ASSERT_EQ(pieces.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(shape(pieces[i].tree), shape(whole[i].tree)) << chunk;
            const notation::Annotations a = pieces[i].tree.notes.read(),
                                        b = whole[i].tree.notes.read();
            EXPECT_EQ(a.comments, b.comments) << chunk;
            EXPECT_EQ(a.nags.size(), b.nags.size()) << chunk;
        }
    }
}

TEST(PgnTree, SizeLimitAndResynchronisationStillHold) {
    // The first game passes the limit inside its variations; the next one
    // is read whole.
    std::string text = "[Event \"a\"]\n\n1. e4 (1. d4 (1. c4 ";
    for (int i = 0; i < 2000; ++i) text += "{ padding } ";
    text += ")) e5 *\n[Event \"b\"]\n\n1. d4 (1. e4) d5 *\n";
    const auto games = read_trees(text, 64, 4096);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].end_error, "game longer than the size limit");
    EXPECT_EQ(shape(games[0].tree), "e4 (d4) (c4)");
    EXPECT_EQ(shape(games[1].tree), "d4 (e4) d5");
}

TEST(PgnTree, AMillionNestedParenthesesNeedNoStack) {
    constexpr int DEPTH = 1'000'000;
    // Bare parentheses around one move, and a tree a million plies deep:
    // each variation the alternative to the last move of the one around it.
    std::string bare = "1. e4 " + std::string(DEPTH, '(') + "1. d4" + std::string(DEPTH, ')') +
                       " e5 *\n";
    std::string deep = "-- --";
    deep.reserve(8 * DEPTH);
    for (int i = 0; i < DEPTH; ++i) deep += " ( -- --";
    deep.append(2 * DEPTH, ')');
    deep += " *\n";
    const auto games = read_trees(bare + deep);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(shape(games[0].tree), "e4 (d4) e5");
    EXPECT_TRUE(games[0].end_error.empty());
    const pgn::GameTree& tree = games[1].tree;
    EXPECT_TRUE(games[1].end_error.empty());
    ASSERT_EQ(tree.size(), 2u * DEPTH + 3);
    std::uint32_t deepest = 0;
    for (std::uint32_t i = 0; i < tree.size(); ++i)
        if (tree.nodes[i].ply > tree.nodes[deepest].ply) deepest = i;
    EXPECT_EQ(tree.nodes[deepest].ply, static_cast<std::uint32_t>(DEPTH + 2));

    // Written and read back: the same tree.
    const std::string written = write_pgn(generator(), {}, tree, std::nullopt, std::nullopt);
    // Every Black move after "(" carries its number: more than the default limit.
    const auto again = read_trees(written, 1 << 16, std::uint64_t{1} << 30);
    ASSERT_EQ(again.size(), 1u);
    ASSERT_EQ(again[0].tree.size(), tree.size());
    for (std::uint32_t i = 0; i < tree.size(); ++i) {
        ASSERT_EQ(again[0].tree.nodes[i].parent, tree.nodes[i].parent);
        ASSERT_EQ(again[0].tree.nodes[i].next_sibling, tree.nodes[i].next_sibling);
    }
}

TEST(PgnTreeWriter, NumbersMovesWhereALineResumes) {
    const auto games = read_trees(
        "[FEN \"4k3/8/8/8/8/8/4P3/4K3 b - - 0 12\"]\n\n"
        "12... Kd7 (12... Kf7 13. e4) (12... Ke7) 13. e4 Kc6 (13... Ke6 {x} 14. Ke2) 14. e5 *\n");
    ASSERT_EQ(games.size(), 1u);
    const notation::Annotations notes = games[0].tree.notes.read();
    const std::string text = write_pgn(generator(), {}, games[0].tree,
                                       "4k3/8/8/8/8/8/4P3/4K3 b - - 0 12", "*", &notes);
    const std::string movetext = text.substr(text.find("\n\n") + 2);
    EXPECT_EQ(movetext,
              "12... Kd7 ( 12... Kf7 13. e4 ) ( 12... Ke7 ) 13. e4 Kc6 ( 13... Ke6 { x } 14.\n"
              "Ke2 ) 14. e5 *\n");
}

TEST(PgnTreeWriter, RefusesACommentItCannotWrite) {
    auto games = read_trees("1. e4 ({a} 1. d4) *\n");
    ASSERT_EQ(games.size(), 1u);
    pgn::GameTree& tree = games[0].tree;
    ASSERT_EQ(tree.starting.size(), 1u);
    tree.starting[0].text = "a } b";
    const std::string message = failure_of<InvalidInput>(
        [&] { write_pgn(generator(), {}, tree, std::nullopt, std::nullopt); });
    EXPECT_EQ(message, "Invalid PGN comment: the comment before move 1 of a variation holds \"}\"");
}

}  // namespace
}  // namespace vemla::test
