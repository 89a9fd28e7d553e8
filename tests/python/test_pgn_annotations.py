"""What games carry beyond their moves: comments, NAGs, evals, clocks and
commands read by read_pgn and written back by pgn(); null moves, long
algebraic movetext and tag values with unescaped quotes."""
import array
import math
import pathlib
import random

import pytest
from vemla_chess import Board, MoveGenerator, PanicException

from conftest import optional_import

CORPUS = pathlib.Path(__file__).resolve().parents[1] / "data" / "pgn" / "corpus.pgn"
np = optional_import("numpy")

gen = MoveGenerator()

ANNOTATED = (
    '[Event "a"]\n[Result "0-1"]\n\n'
    "{ Before the first move. } 1. e4! { [%eval 0.17] [%clk 0:03:00] } e5?! $13\n"
    "{ Hm, [%eval #-3] dubious. [%clk 0:02:59.5] [%cal Ge7e5] } 2. Nf3 $1 $18 { [%eval -1.5,22] }\n"
    "{ a second comment [%eval 9] } Nc6 ( 2... d6 { not kept } $2 ) { [%clk 1:00:00] } 3. Bc4 0-1\n"
)


def read(text, **kw):
    return list(gen.read_pgn(text, **kw))


def same_floats(a, b):
    return len(a) == len(b) and all(x == y or (x is None and y is None) for x, y in zip(a, b))


def test_mainline_annotations_per_move():
    (game,) = read(ANNOTATED)
    assert game.error is None and len(game.moves) == 5
    assert game.comments == ("Before the first move.", None, "Hm, dubious.", "a second comment",
                             None, None)
    assert game.commands == (None, None, "[%cal Ge7e5]", "[%eval 9]", None, None)
    assert game.nags == ((1,), (6, 13), (1, 18), (), ())
    assert game.evals == (0.17, None, -1.5, None, None)
    assert game.mates == (None, -3, None, None, None)
    assert game.clocks == (180.0, 179.5, None, 3600.0, None)
    # The tuples are made once.
    assert game.evals is game.evals

    evals, mates, clocks = game.eval_array(), game.mate_array(), game.clock_array()
    assert (evals.typecode, mates.typecode, clocks.typecode) == ("f", "i", "d")
    assert [round(x, 5) if not math.isnan(x) else None for x in evals] == [0.17, None, -1.5, None, None]
    assert list(mates) == [0, -3, 0, 0, 0]
    assert [x if not math.isnan(x) else None for x in clocks] == [180.0, 179.5, None, 3600.0, None]


def test_a_game_without_annotations_has_empty_entries():
    (game,) = read("1. e4 e5 2. Nf3 *\n")
    assert game.comments == (None,) * 4 and game.commands == (None,) * 4
    assert game.nags == ((),) * 3
    assert game.evals == game.mates == game.clocks == (None,) * 3
    assert all(math.isnan(x) for x in game.eval_array()) and len(game.eval_array()) == 3
    assert list(game.mate_array()) == [0, 0, 0]


def test_annotations_stop_with_the_moves_of_a_faulty_game():
    (game,) = read("1. e4 { [%eval 0.1] } e5 { [%eval 0.2] } 2. Ke3 { [%eval 9] } Nc6 *\n")
    assert game.error.startswith("ply 3") and len(game.moves) == 2
    assert game.evals == (0.1, 0.2)
    assert len(game.comments) == 3


@pytest.mark.skipif(np is None, reason="numpy cannot be imported")
def test_arrays_go_to_numpy_without_a_loop():
    (game,) = read(ANNOTATED)
    evals = np.frombuffer(game.eval_array(), dtype=np.float32)
    assert evals.shape == (5,) and np.isnan(evals[1]) and evals[2] == np.float32(-1.5)
    assert np.frombuffer(game.mate_array(), dtype=np.int32).tolist() == [0, -3, 0, 0, 0]
    assert np.frombuffer(game.clock_array(), dtype=np.float64)[1] == 179.5


def test_null_moves_pass_and_replay():
    (game,) = read("1. e4 -- 2. d4 Z0 3. Nf3 @@@@ 4. Bc4 0000 5. O-O e5 *\n")
    assert game.error is None
    assert game.moves[1::2][:4] == ("0000",) * 4
    end = game.board()
    assert end.full_fen() == "rnbqkbnr/pppp1ppp/8/4p3/2BPP3/5N2/PPP2PPP/RNBQ1RK1 w kq e6 0 6"
    assert game.board(2).fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -"

    board = Board("rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6")
    board.push_null()
    assert board.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -"
    board.pop()
    assert board.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"
    # push("0000") stays move text: a1a1 from an empty square.
    with pytest.raises(PanicException):
        Board("8/8/8/8/8/8/8/4K2k w - -").push("0000")


def test_long_algebraic_movetext_where_legal():
    a, b = read("1. g1f3 c7c5 2. e2e4 b8c6 3. f1e2 d7d6 4. e1g1 Bg4 *\n\n"
                "[Event \"b\"]\n\n1. e2e4 e7e6 2. e4e6 *\n")
    assert a.error is None
    assert a.moves == ("g1f3", "c7c5", "e2e4", "b8c6", "f1e2", "d7d6", "e1g1", "c8g4")
    assert b.moves == ("e2e4", "e7e6") and b.error.startswith("ply 3")


def test_tag_value_with_unescaped_quotes_keeps_the_moves():
    (game,) = read('[White ""Socrates Expert""]\n[Black "Fritz"]\n\n1. e4 e5 *\n')
    assert game.error is None
    assert game.tags == {"White": '"Socrates Expert"', "Black": "Fritz"}
    assert game.moves == ("e2e4", "e7e5")


def test_a_game_object_writes_back_to_the_same_annotations():
    (game,) = read(ANNOTATED)
    text = gen.pgn(game)
    assert "1. e4 $1 { [%eval 0.17] [%clk 0:03:00] } 1... e5 $6 $13" in text.replace("\n", " ")
    (again,) = read(text)
    assert again.tags.items() >= game.tags.items() and again.moves == game.moves
    assert again.result == "0-1"
    for field in ("comments", "commands", "nags", "evals", "mates", "clocks"):
        assert getattr(again, field) == getattr(game, field), field
    # Arguments replace the game's parts.
    (replaced,) = read(gen.pgn(game, evals=[None, "#2", 0.5, None, float("nan")], comments=[None] * 6))
    assert replaced.evals == (None, None, 0.5, None, None)
    assert replaced.mates == (None, 2, None, None, None)
    assert replaced.comments == (None,) * 6 and replaced.clocks == game.clocks


def test_annotation_arguments_are_checked():
    moves = ["e2e4", "e7e5"]
    with pytest.raises(ValueError, match="argument 'evals': expected 2 entries"):
        gen.pgn(moves, evals=[0.1])
    with pytest.raises(ValueError, match="argument 'comments': expected 3 entries"):
        gen.pgn(moves, comments=["a", "b"])
    with pytest.raises(ValueError, match="is not an eval"):
        gen.pgn(moves, evals=["mate", None])
    with pytest.raises(ValueError, match="not finite"):
        gen.pgn(moves, evals=[float("inf"), None])
    with pytest.raises(ValueError, match="clock of move 2"):
        gen.pgn(moves, clocks=[1, -1])
    with pytest.raises(ValueError, match="not a NAG"):
        gen.pgn(moves, nags=[(1, 256), None])
    with pytest.raises(ValueError, match='holds "}"'):
        gen.pgn(moves, comments=[None, "a } b", None])
    with pytest.raises(TypeError, match="argument 'clocks'"):
        gen.pgn(moves, clocks=["1:00", None])
    with pytest.raises(TypeError, match="argument 'nags'"):
        gen.pgn(moves, nags="$1")
    with pytest.raises(ValueError, match="Illegal move at ply 1"):
        gen.pgn(["a1a1"])
    assert "1. e4 --" in gen.pgn(["e2e4", "0000"])


def test_corpus_with_written_annotations_reads_back_exactly():
    rng = random.Random(5)
    games = [g for g in read(CORPUS) if g.error is None][::5]
    written = []
    for game in games:
        n = len(game.moves)
        evals = [rng.choice([None, round(rng.uniform(-9, 9), 2), rng.uniform(-30, 30),
                             f"#{rng.randint(-20, 20)}"]) for _ in range(n)]
        clocks = [rng.choice([None, float(rng.randint(0, 10800)), round(rng.uniform(0, 600), 1)])
                  for _ in range(n)]
        nags = [tuple(rng.sample(range(256), rng.randint(0, 2))) for _ in range(n)]
        comments = [rng.choice([None, "A comment.", "two  spaces\nand a line"]) for _ in range(n + 1)]
        written.append((evals, clocks, nags, comments))
    text = "\n".join(gen.pgn(g, evals=e, clocks=c, nags=a, comments=m, commands=[None] * (len(g.moves) + 1))
                     for g, (e, c, a, m) in zip(games, written))
    again = read(text)
    assert len(again) == len(games)
    for game, back, (evals, clocks, nags, comments) in zip(games, again, written):
        assert back.error is None and back.moves == game.moves and back.tags == game.tags
        assert back.nags == tuple(nags) and back.comments == tuple(comments)
        assert same_floats(back.clocks, clocks)
        pawns = [e if isinstance(e, float) else None for e in evals]
        mates = [int(e[1:]) if isinstance(e, str) else None for e in evals]
        assert same_floats(back.evals, pawns) and back.mates == tuple(mates)
        assert back.commands == (None,) * (len(game.moves) + 1)


def test_corpus_annotations_survive_writing():
    games = [g for g in read(CORPUS) if g.error is None][:300]
    annotated = [g for g in games if any(c is not None for c in g.clocks + g.evals)]
    assert annotated
    again = read("\n".join(gen.pgn(g) for g in games))
    for game, back in zip(games, again):
        assert (back.moves, back.comments, back.commands, back.nags) == \
            (game.moves, game.comments, game.commands, game.nags)
        assert same_floats(back.evals, game.evals) and same_floats(back.clocks, game.clocks)
        assert back.mates == game.mates


WORDS = ["Good", "move.", "A", "blunder!", "Black", "resigns?", "e4", "(a", "side", "note)",
         "[sic]", "100%", "a;b", '"quoted"', "{nested", "café", "—", "Ng5!?", "ends,", "x", "\u2654"]


def random_text(rng):
    """None, or words parted by blanks: mostly single spaces, now and then a
    double space or a line break; some longer than a line."""
    if rng.random() < 0.3:
        return None
    count = rng.choice([1, 2, 5, 12, 30, 60])
    text = rng.choice(WORDS)
    for _ in range(count - 1):
        text += rng.choice([" "] * 12 + ["  ", "\n"]) + rng.choice(WORDS)
    return text


def random_commands(rng):
    picks = rng.sample(["[%emt 0:00:05]", "[%cal Ge2e4,Rd7d5]", "[%csl Gd4]", "[%custom a b c]",
                        "[%evp 0.1,0.2,-0.3]"], rng.randint(0, 3))
    return " ".join(picks) if picks else None


def test_every_corpus_game_with_written_annotations_reads_back_exactly():
    games = read(CORPUS)
    assert len(games) == 3000
    rng = random.Random(28)
    notes, texts = [], []
    for game in games:
        n = len(game.moves)
        evals = [rng.choice([None, round(rng.uniform(-9, 9), 2), rng.uniform(-300, 300), 0.0,
                             f"#{rng.randint(-30, 30)}"]) for _ in range(n)]
        clocks = [rng.choice([None, float(rng.randint(0, 36000)), round(rng.uniform(0, 600), 3)])
                  for _ in range(n)]
        nags = [tuple(rng.sample(range(256), rng.choice([0, 0, 0, 1, 3]))) for _ in range(n)]
        comments = [random_text(rng) for _ in range(n + 1)]
        commands = [random_commands(rng) for _ in range(n + 1)]
        notes.append((evals, clocks, nags, comments, commands))
        texts.append(gen.pgn(game, evals=evals, clocks=clocks, nags=nags, comments=comments,
                             commands=commands))
    text = "\n".join(texts)
    # Wrapped at 80 columns, long comments included (no word of these is longer).
    assert max(len(line) for line in text.splitlines()) <= 80
    again = read(text)
    assert len(again) == len(games)
    for game, back, (evals, clocks, nags, comments, commands) in zip(games, again, notes):
        assert (back.moves, back.tags, back.result, back.error) == \
            (game.moves, game.tags, game.result, game.error)
        assert back.comments == tuple(comments)
        assert back.commands == tuple(commands)
        assert back.nags == tuple(nags)
        assert same_floats(back.clocks, clocks)
        assert same_floats(back.evals, [e if isinstance(e, float) else None for e in evals])
        assert back.mates == tuple(int(e[1:]) if isinstance(e, str) else None for e in evals)


def test_a_long_comment_is_wrapped_and_reads_back():
    words = " ".join(f"word{i}" for i in range(60))
    text = gen.pgn(["e2e4", "e7e5"], comments=[words, "short", words + " and  two"],
                   evals=[0.5, "#-2"], commands=[None, "[%cal Ge2e4]", "[%emt 0:00:01]"])
    assert max(len(line) for line in text.splitlines()) <= 80
    (back,) = read(text)
    assert back.comments == (words, "short", words + " and  two")
    assert back.commands == (None, "[%cal Ge2e4]", "[%emt 0:00:01]")
    assert back.evals == (0.5, None) and back.mates == (None, -2)
    # A comment that fits on its line stays one brace comment.
    assert "1. e4 { short [%eval 0.5] [%cal Ge2e4] } 1... e5" in text.replace("\n", " ")


def test_comment_text_that_would_read_back_otherwise_is_refused():
    with pytest.raises(ValueError, match=r'after move 1 holds "\[%"'):
        gen.pgn(["e2e4"], comments=[None, "see [%eval 3]"])
    with pytest.raises(ValueError, match="before the first move holds \"}\""):
        gen.pgn(["e2e4"], comments=["a } b", None])
    for commands in ("not a command", "[%emt 0:01] trailing"):
        with pytest.raises(ValueError, match="are not \\[%...\\] commands"):
            gen.pgn(["e2e4"], commands=[None, commands])
    # The reader ends a command at its first "]", so one holding "[%" reads
    # back as written (the reader makes such commands itself).
    game = next(iter(gen.read_pgn(gen.pgn(["e2e4"], commands=[None, "[%a [%b]"]))))
    assert game.commands == (None, "[%a [%b]")
