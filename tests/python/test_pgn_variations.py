"""Games read with their variations: read_pgn(source, variations=True), the
nodes of the tree, and pgn() writing a tree back."""
import gc
import pathlib

import pytest
from vemla_chess import Board, MoveGenerator

CORPUS = pathlib.Path(__file__).resolve().parents[1] / "data" / "pgn" / "corpus.pgn"

gen = MoveGenerator()

ANALYSED = (
    '[Event "a"]\n[Result "1-0"]\n\n'
    "{ Start. } 1. e4 { [%eval 0.2] [%clk 0:03:00] } $1 ( { Or } 1. d4 d5 $2 ( 1... Nf6 { [%eval #3] } ) 2. c4 )\n"
    "( 1. c4 -- ) 1... e5 ( 1... c5 { Sicilian [%cal Gc7c5] } 2. Nf3 ) { back } 2. Nf3 1-0\n"
)


def read(text, **kw):
    return list(gen.read_pgn(text, **kw))


def nodes(game):
    """Every node of the game's tree in depth-first order, without recursion."""
    out, todo = [], [game.tree]
    while todo:
        node = todo.pop()
        out.append(node)
        todo.extend(reversed(node.children))
    return out


def summary(game):
    return [(n.ply, n.move, n.san, n.comment, n.starting_comment, n.commands, n.nags, n.eval,
             n.mate, n.clock, len(n.children)) for n in nodes(game)]


def mainline(game):
    node, out = game.tree, []
    while node.children:
        node = node.children[0]
        out.append(node)
    return out


def test_nodes_carry_moves_annotations_and_children():
    (game,) = read(ANALYSED, variations=True)
    assert game.error is None and game.variation_errors == ()
    root = game.tree
    assert (root.move, root.san, root.parent, root.ply, root.comment) == (None, None, None, 0, "Start.")
    e4, d4, c4 = root.children
    assert [n.san for n in root.children] == ["e4", "d4", "c4"]
    assert (e4.move, e4.eval, e4.clock, e4.nags, e4.comment) == ("e2e4", 0.2, 180.0, (1,), None)
    assert d4.starting_comment == "Or" and e4.starting_comment is None
    d5, nf6 = d4.children
    assert d5.nags == (2,) and d5.children[0].san == "c4"
    assert (nf6.san, nf6.mate, nf6.eval, nf6.ply) == ("Nf6", 3, None, 2)
    null = c4.children[0]
    assert (null.move, null.san) == ("0000", "--")
    assert null.board().fen() == "rnbqkbnr/pppppppp/8/8/2P5/8/PP1PPPPP/RNBQKBNR w KQkq -"
    e5, c5 = e4.children
    assert e5.comment == "back"
    assert (c5.comment, c5.commands) == ("Sicilian", "[%cal Gc7c5]")
    assert c5.children[0].board().fen() == Board("rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -").fen()
    # The mainline of the tree is the game's.
    assert tuple(n.move for n in mainline(game)) == game.moves
    assert nf6.parent == d4 and nf6.parent.parent == root and hash(nf6.parent) == hash(d4)
    assert nf6 != d4 and root.board().fen() == Board().fen()
    assert repr(root) == "<PgnNode root: 3 children>"
    assert repr(nf6) == "<PgnNode ply 2 Nf6: 0 children>"


def test_without_the_flag_there_is_no_tree_and_nothing_else_changes():
    (plain,) = read(ANALYSED)
    (full,) = read(ANALYSED, variations=True)
    assert plain.tree is None and plain.variation_errors == ()
    for name in ("tags", "moves", "result", "error", "comments", "nags", "evals", "clocks",
                 "commands", "mates", "offset"):
        assert getattr(plain, name) == getattr(full, name), name
    assert gen.pgn(plain) != gen.pgn(full)


def test_an_illegal_move_cuts_its_variation_and_is_recorded():
    text = "1. e4 ( 1. d4 Ke7 2. c4 ) ( 1. Nf3 ) e5 ( 1... Qxh7 ) ( 1... e6 ) 2. Nf3 *\n"
    (game,) = read(text, variations=True)
    assert game.error is None and game.moves == ("e2e4", "e7e5", "g1f3")
    assert [n.san for n in game.tree.children] == ["e4", "d4", "Nf3"]
    assert game.tree.children[1].children == ()
    assert [n.san for n in game.tree.children[0].children] == ["e5", "e6"]
    assert len(game.variation_errors) == 2
    assert game.variation_errors[0].startswith(
        'ply 2 in a variation: Illegal SAN: no legal move matches "Ke7" in ')


def test_unclosed_variation_at_the_end_of_the_input():
    (game,) = read("[Event \"x\"]\n\n1. e4 e5 ( 1... c5 2. Nf3 ( 2. c3", variations=True)
    assert game.error == "truncated game: unterminated variation"
    c5 = game.tree.children[0].children[1]
    assert [n.san for n in c5.children] == ["Nf3", "c3"]


def test_games_that_cannot_be_played_have_a_root_only():
    text = ('[FEN "not a fen"]\n\n1. e4 (1. d4) *\n'
            '[Variant "Crazyhouse"]\n\n1. e4 (1. d4) *\n'
            '[Event "x" y]\n\n1. e4 (1. d4) *\n')
    games = read(text, variations=True)
    assert len(games) == 3
    for game in games:
        assert game.error and game.moves == ()
        assert game.tree.children == () and repr(game.tree) == "<PgnNode root: 0 children>"
    with pytest.raises(ValueError):
        games[0].tree.board()
    # A keep filter passes over games as before.
    assert read(ANALYSED, keep=lambda tags: False, variations=True) == []


def test_variations_before_a_first_move_that_never_comes_are_kept():
    for text in ('[Event "x"]\n\n( 1. d4 ) *\n', '[Event "x"]\n\n( 1. d4 ) 1. Kxx *\n'):
        (game,) = read(text, variations=True)
        assert game.moves == () and [n.san for n in game.tree.children] == ["d4"]
    (game,) = read('[Event "x"]\n\n( 1. d4 ) 1. e4 *\n', variations=True)
    assert [n.san for n in game.tree.children] == ["e4", "d4"]


def test_nodes_keep_their_game_alive():
    (game,) = read(ANALYSED, variations=True)
    node = game.tree.children[1].children[1]
    del game
    gc.collect()
    assert node.san == "Nf6" and node.parent.parent.comment == "Start."


def test_a_million_plies_deep():
    depth = 1_000_000
    text = "-- --" + " ( -- --" * depth + ")" * depth + " *\n"
    (game,) = read(text, variations=True)
    assert game.error is None
    node, count = game.tree, 0
    while node.children:
        node = node.children[-1]
        count += 1
    assert node.ply == count == depth + 2
    assert node.board().fen().split()[1] == "w"
    repr(node)
    written = gen.pgn(game)
    assert written.count("(") == depth
    # A handle on the deepest node, the game dropped first: nothing recurses.
    del game
    gc.collect()
    assert node.parent.ply == depth + 1
    del node


def test_corpus_trees_read_write_and_read_back_the_same():
    games = list(gen.read_pgn(str(CORPUS), variations=True))
    plain = list(gen.read_pgn(str(CORPUS)))
    assert len(games) == len(plain) == 3000
    branched = 0
    for game, other in zip(games, plain):
        assert game.moves == other.moves and game.error == other.error
        assert game.variation_errors == ()
        line = mainline(game)
        assert tuple(n.move for n in line) == game.moves
        # The mainline nodes carry the game's own annotations.
        assert tuple(n.comment for n in [game.tree] + line) == game.comments
        assert tuple(n.nags for n in line) == game.nags
        assert tuple(n.eval for n in line) == game.evals
        assert tuple(n.clock for n in line) == game.clocks
        branched += any(len(n.children) > 1 for n in line[:-1] + [game.tree])
        if game.error is not None:
            continue
        (again,) = gen.read_pgn(gen.pgn(game), variations=True)
        assert summary(again) == summary(game)
    assert branched > 1000


def test_written_tree_numbers_and_round_trip():
    text = ('[Event "w"]\n[FEN "4k3/8/8/8/8/8/4P3/4K3 b - - 0 12"]\n\n'
            "12... Kd7 (12... Kf7 {f} 13. e4 $6) 13. e4 Kc6 (13... Ke6 {[%clk 0:01:00]}) 14. e5 *\n")
    (game,) = read(text, variations=True)
    written = gen.pgn(game)
    movetext = " ".join(written.split("\n\n")[1].split())
    assert movetext == ("12... Kd7 ( 12... Kf7 { f } 13. e4 $6 ) 13. e4 Kc6 "
                        "( 13... Ke6 { [%clk 0:01:00] } ) 14. e5 *")
    (again,) = read(written, variations=True)
    assert summary(again) == summary(game)


def test_mainline_annotations_given_to_pgn_replace_the_trees():
    (game,) = read(ANALYSED, variations=True)
    n = len(game.moves)
    written = gen.pgn(game, comments=[None] * (n + 1), evals=[1.5] * n, nags=[None] * n)
    (again,) = read(written, variations=True)
    assert again.comments == (None,) * (n + 1) and again.evals == (1.5,) * n
    assert again.nags == ((),) * n
    # The variations keep theirs.
    assert again.tree.children[1].starting_comment == "Or"
    assert again.tree.children[1].children[1].mate == 3
    assert again.tree.children[0].children[1].comment == "Sicilian"


def test_read_pgn_variations_argument():
    assert read(ANALYSED, variations=0)[0].tree is None
    with pytest.raises(TypeError):
        gen.read_pgn(ANALYSED, None, True, 1)


def test_comment_text_that_opens_a_command_reads_back_as_text():
    # "[%ev" has no "]" after it: text, which written before the commands
    # would open one of them.
    text = "1. e4 { [%clk 0:01:00] note [%ev } ( 1. d4 { [%cal Gd2d4] half [%x } ) *\n"
    (game,) = read(text, variations=True)
    e4, d4 = game.tree.children
    assert (e4.comment, e4.clock, d4.comment, d4.commands) == ("note [%ev", 60.0, "half [%x", "[%cal Gd2d4]")
    for written in (gen.pgn(game), gen.pgn(game.moves, comments=game.comments, clocks=game.clocks)):
        (again,) = read(written, variations=True)
        assert again.comments == game.comments and again.clocks == game.clocks
    assert summary(read(gen.pgn(game), variations=True)[0]) == summary(game)
