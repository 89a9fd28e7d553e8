"""MoveGenerator.read_pgn: the corpus read as an independent reader read it,
every kind of source, and faulty input that must lose nothing."""
import bz2
import gzip
import io
import json
import lzma
import os
import pathlib

import pytest
from vemla_chess import Board, MoveGenerator

from conftest import optional_import

DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "pgn"
CORPUS = DATA / "corpus.pgn"
zstandard = optional_import("zstandard")

gen = MoveGenerator()


def read(source, **kw):
    return list(gen.read_pgn(source, **kw))


@pytest.fixture(scope="module")
def expected():
    with open(DATA / "expected.jsonl") as f:
        return [json.loads(line) for line in f]


@pytest.fixture(scope="module")
def corpus_games():
    return read(CORPUS)


def test_corpus_matches_the_independent_reader(corpus_games, expected):
    assert len(corpus_games) == len(expected) == 3000
    data = CORPUS.read_bytes()
    for game, exp in zip(corpus_games, expected):
        assert game.error is None, game
        assert list(game.tags.items()) == list(exp["headers"].items())
        assert game.moves == tuple(exp["uci"])
        assert game.fen == exp["headers"].get("FEN")
        assert game.result == exp["headers"]["Result"]
        end = game.board()
        assert (end.fen(), end.halfmove_clock(), end.fullmove_number()) == (exp["fen4"], exp["halfmove"],
                                                                           exp["fullmove"])
        assert data[game.offset:].startswith(b"[Event"), game


def test_games_written_by_pgn_read_back(corpus_games):
    games = corpus_games[::7]
    text = "\n".join(gen.pgn(g.moves, g.tags, g.fen, g.result) for g in games)
    again = read(text)
    assert [(g.tags, g.moves, g.fen, g.result, g.error) for g in again] == \
        [(g.tags, g.moves, g.fen, g.result, None) for g in games]


def test_board_at_any_ply(corpus_games):
    game = next(g for g in corpus_games if g.fen is not None and len(g.moves) > 4)
    board = Board(game.fen)
    assert game.board(0).fen() == board.fen()
    for ply, move in enumerate(game.moves[:10]):
        assert game.board(ply).fen() == board.fen()
        board.push(move)
    assert game.board(len(game.moves)).fen() == game.board().fen() == game.board(None).fen()
    for bad in (-1, len(game.moves) + 1):
        with pytest.raises(IndexError):
            game.board(bad)
    with pytest.raises(TypeError):
        game.board("1")


def test_every_source_kind_gives_the_same_games(tmp_path, corpus_games):
    data = CORPUS.read_bytes()[:200_000]
    games = read(data.decode())
    assert games[-1].error.startswith("truncated game")  # cut in the middle
    want = [(g.offset, g.moves) for g in games]
    assert want[:-1] == [(g.offset, g.moves) for g in corpus_games[:len(want) - 1]]
    paths = {"plain.pgn": data, "a.pgn.gz": gzip.compress(data), "a.pgn.bz2": bz2.compress(data),
             "a.PGN.XZ": lzma.compress(data)}
    if zstandard is not None:
        paths["a.pgn.zst"] = zstandard.ZstdCompressor().compress(data)
    for name, content in paths.items():
        path = tmp_path / name
        path.write_bytes(content)
        for source in (path, str(path), os.fsencode(path)):
            assert [(g.offset, g.moves) for g in read(source)] == want, (name, source)
    assert [(g.offset, g.moves) for g in read(io.BytesIO(data))] == want
    with gzip.open(tmp_path / "a.pgn.gz") as f:  # any stream with readinto
        assert [(g.offset, g.moves) for g in read(f)] == want


def test_sources_that_are_refused(tmp_path):
    with pytest.raises(FileNotFoundError):
        gen.read_pgn(str(tmp_path / "missing.pgn"))
    with pytest.raises(TypeError, match="argument 'source'"):
        gen.read_pgn(5)
    with pytest.raises(TypeError, match="argument 'source'"):
        gen.read_pgn(io.StringIO("1. e4 *\n"))  # text streams have no readinto
    with pytest.raises(TypeError, match="argument 'keep'"):
        gen.read_pgn("1. e4 *\n", keep=3)

    class Lying:
        def readinto(self, buffer):
            return len(buffer) + 1

    with pytest.raises(ValueError, match="readinto"):
        read(Lying())

    class Failing:
        def readinto(self, buffer):
            raise OSError("disk on fire")

    games = gen.read_pgn(Failing())
    with pytest.raises(OSError, match="disk on fire"):
        next(games)
    with pytest.raises(RuntimeError):  # never a silent end after a failed read
        next(games)


def test_keep_sees_the_tags_before_the_moves():
    text = '[White "a"]\n[WhiteElo "2500"]\n\n1. e4 e5 *\n\n[White "b"]\n[WhiteElo "1200"]\n\n1. Nf3 Zz9 *\n'
    seen = []

    def keep(tags):
        seen.append(dict(tags))
        return int(tags["WhiteElo"]) > 2000

    games = read(text, keep=keep)
    assert seen == [{"White": "a", "WhiteElo": "2500"}, {"White": "b", "WhiteElo": "1200"}]
    assert [g.moves for g in games] == [("e2e4", "e7e5")]
    assert read(text, keep=lambda tags: False) == []
    # An exception from keep reaches the caller.
    it = gen.read_pgn(text, keep=lambda tags: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        next(it)


def test_keep_cannot_read_on_from_its_own_reader():
    # The reader stands in the middle of its source while keep runs: a next()
    # from there is refused, and the outer read is not disturbed by it.
    text = '[Event "a"]\n\n1. e4 e5 1-0\n\n[Event "b"]\n\n1. d4 d5 0-1\n'
    refusals = []

    def keep(tags):
        with pytest.raises(RuntimeError, match="Already borrowed") as refused:
            next(games)
        refusals.append(str(refused.value))
        return True

    games = gen.read_pgn(text, keep=keep)
    assert [g.moves for g in games] == [("e2e4", "e7e5"), ("d2d4", "d7d5")]
    assert len(refusals) == 2


def test_reader_cases_beyond_the_corpus():
    text = ('\ufeff[Event "a ] b"]\n[Site "say \\"hi\\" \\\\"]\n\n'
            '1. e4 { a ) and 1-0 inside } e5 (1... c5 (1... e6 2. d4 (2. d3)) 2. Nf3) 2. Nf3 $1 0-1\n\n'
            'Some prose between the games.\n\n'
            '1. d4 d5 1/2-1/2\n\n'
            '[Event "no moves"]\n\n*\n\n'
            '[Event "truncated"]\n\n1. c4 e5 2. Nc3 {unfinished')
    a, b, c, d = read(text)
    assert a.tags == {"Event": "a ] b", "Site": 'say "hi" \\'}
    assert (a.moves, a.result, a.error, a.fen) == (("e2e4", "e7e5", "g1f3"), "0-1", None, None)
    assert a.offset == 3  # the byte-order mark comes first
    assert (b.tags, b.moves, b.result) == ({}, ("d2d4", "d7d5"), "1/2-1/2")
    assert text.encode()[b.offset:].startswith(b"1. d4")
    assert (c.moves, c.result, c.error) == ((), "*", None)
    assert d.moves == ("c2c4", "e7e5", "b1c3")
    assert d.error == "truncated game: unterminated comment"


def test_faults_keep_the_moves_before_them_and_the_next_game():
    text = ('[Event "illegal"]\n\n1. e4 e5 2. Ke3 Nc6 *\n\n'
            '[Event "ambiguous"]\n[FEN "4k3/8/8/8/8/8/8/4KN1N w - - 0 1"]\n\n1. Ng3 *\n\n'
            '[Event "bad tag]\n[Site "x"]\n\n1. e4 *\n\n'
            '[Variant "Crazyhouse"]\n\n1. e4 *\n\n'
            '[FEN "8/8/8/8 x - -"]\n\n1. e4 *\n\n'
            '[Event "fine"]\n\n1. e4 *\n')
    illegal, ambiguous, bad_tag, variant, bad_fen, fine = read(text)
    assert illegal.moves == ("e2e4", "e7e5")
    assert illegal.error.startswith('ply 3: ') and '"Ke3"' in illegal.error
    assert "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6" in illegal.error
    assert illegal.result == "*"
    assert ambiguous.moves == () and "ply 1" in ambiguous.error and "Ng3" in ambiguous.error
    assert ambiguous.fen == "4k3/8/8/8/8/8/8/4KN1N w - - 0 1"
    assert bad_tag.error.startswith("malformed tag pair") and bad_tag.moves == ()
    assert bad_tag.tags == {"Site": "x"}
    assert variant.error == "unsupported variant: Crazyhouse" and variant.moves == ()
    assert bad_fen.error.startswith('invalid FEN tag "8/8/8/8 x - -"')
    # The tag is read as standard FEN: its four ranks fail before its side to move.
    with pytest.raises(ValueError, match="^Invalid fen: Invalid piece placement: expected eight ranks"):
        bad_fen.board()
    (bad_placement,) = read('[FEN "8/8/8/8/8/8/8/7X w - - 0 1"]\n\n1. e4 *\n')
    with pytest.raises(ValueError, match="^Invalid fen: Invalid piece placement: expected piece letters"):
        bad_placement.board()
    # Nine ranks would lose one to the lenient reader's wrap-around: refused, with no moves.
    (nine_ranks,) = read('[FEN "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"]\n\n1. e4 *\n')
    assert nine_ranks.moves == () and nine_ranks.error == (
        'invalid FEN tag "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1": '
        "Invalid fen: Invalid piece placement: expected eight ranks of eight squares")
    assert (fine.moves, fine.error) == (("e2e4",), None)


def test_game_over_the_size_limit_is_reported_and_skipped():
    huge = "[Event \"huge\"]\n\n1. e4 e5 " + "{ " + "x" * (17 << 20) + " }\n 2. Nf3 *\n"
    games = read(huge + '[Event "next"]\n\n1. d4 *\n')
    assert [g.tags["Event"] for g in games] == ["huge", "next"]
    assert games[0].moves == ("e2e4", "e7e5")
    assert games[0].error == "game longer than the size limit"
    assert games[1].moves == ("d2d4",) and games[1].error is None


def test_bytes_that_are_not_utf8_keep_the_game():
    data = b'[White "M\xfcller"]\n\n1. e4 *\n'
    (game,) = read(io.BytesIO(data))
    assert game.tags == {"White": "M\ufffdller"} and game.moves == ("e2e4",)
