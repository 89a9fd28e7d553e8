"""Chess960 from Python: boards from X-FEN, Shredder-FEN and start numbers,
castling as the king's move onto its rook, SAN and PGN games, and the
standard board left exactly as it was."""
import os
import sys
from pathlib import Path

import pytest
from vemla_chess import Board, MoveGenerator

gen = MoveGenerator()
START_518_KEY = 0x463B96181691FC9C  # the Polyglot key of the standard start

TWO_ROOKS = "4k3/8/8/8/8/8/8/RK5R w HA - 0 1"


def test_start_numbers():
    assert Board.from_chess960(518).fen() == Board().fen()
    assert Board.from_chess960(0).full_fen() == "bbqnnrkr/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w KQkq - 0 1"
    assert Board.from_chess960(number=959).fen().startswith("rkrnnqbb/")
    for bad in (-1, 960, 10**30):
        with pytest.raises(ValueError, match="Chess960 start number"):
            Board.from_chess960(bad)
    with pytest.raises(TypeError):
        Board.from_chess960("518")


def test_xfen_and_shredder_fen():
    inner = "rr2k2r/8/8/8/8/8/8/R2RK1RR w KDkb - 0 1"
    board = Board.from_full_fen(inner, chess960=True)
    assert board.is_chess960()
    assert board.full_fen() == inner
    assert board.full_fen(shredder=True) == "rr2k2r/8/8/8/8/8/8/R2RK1RR w HDhb - 0 1"
    assert Board.from_full_fen(board.full_fen(shredder=True), chess960=True).full_fen() == inner
    # Without chess960 the reader is the standard one and refuses file letters.
    with pytest.raises(ValueError, match="Invalid castling specifier"):
        Board.from_full_fen(inner)
    assert not Board.from_full_fen(inner.replace("KDkb", "Kk")).is_chess960()
    assert not Board().is_chess960()


@pytest.mark.parametrize(
    "fen, reason",
    [
        ("4k3/8/8/8/8/8/8/4K3 w K - 0 1", "rook"),
        ("4k3/8/8/8/8/8/8/R3K3 w E - 0 1", "rook"),
        ("4k3/8/8/8/8/8/4K3/R6R w K - 0 1", "king"),
        ("4k3/8/8/8/8/8/8/RR2K3 w AB - 0 1", "specifier"),
    ],
)
def test_rights_without_their_pieces_are_refused(fen, reason):
    with pytest.raises(ValueError, match="^Invalid fen: Invalid castling .*" + reason):
        Board.from_full_fen(fen, chess960=True)


def test_castling_is_the_kings_move_onto_its_rook():
    board = Board.from_full_fen(TWO_ROOKS, chess960=True)
    moves = gen(board)
    assert "b1h1" in moves and "b1a1" in moves
    assert not gen.is_legal(board, "b1g1")  # a king move of two squares is not castling
    board.push("b1h1")
    assert board.full_fen() == "4k3/8/8/8/8/8/8/R4RK1 b - - 1 1"
    board.pop()
    board.push("b1a1")
    assert board.full_fen() == "4k3/8/8/8/8/8/8/2KR3R b - - 1 1"
    board.pop()
    assert board.full_fen() == "4k3/8/8/8/8/8/8/RK5R w KQ - 0 1"


def test_standard_boards_are_unchanged():
    board = Board("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -")
    assert "e1g1" in gen(board) and "e1h1" not in gen(board)
    board.push("e1g1")
    assert board.fen() == "r3k2r/8/8/8/8/8/8/R4RK1 b kq -"
    chess960 = Board.from_full_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", chess960=True)
    assert "e1h1" in gen(chess960) and "e1g1" not in gen(chess960)


def test_copy_reflect_key_planes_pictures():
    board = Board.from_chess960(518)
    assert board.zobrist() == Board().zobrist() == START_518_KEY
    assert board.bitboard_bytes() == Board().bitboard_bytes()
    copy = board.copy()
    assert copy.is_chess960() and copy.full_fen() == board.full_fen()
    board = Board.from_full_fen("1r2k1r1/8/8/8/8/8/8/R3K2R w KAgb - 0 1", chess960=True)
    board.reflect()
    assert board.is_chess960()
    assert board.full_fen(shredder=True) == "r3k2r/8/8/8/8/8/8/1R2K1R1 b GBha - 0 1"
    # The rook on g1 watches g8, the king-side landing square.
    assert "e8a8" in gen(board) and "e8h8" not in gen(board)
    assert "<svg" in board.svg() and board.diagram()


def test_san_both_ways():
    board = Board.from_full_fen(TWO_ROOKS, chess960=True)
    assert gen.san(board, "b1h1") == "O-O" and gen.san(board, "b1a1") == "O-O-O"
    assert gen.parse_san(board, "O-O") == "b1h1" and gen.parse_san(board, "0-0-0") == "b1a1"
    # King beside its rook: the castling move is not a king step to g1.
    board = Board.from_full_fen("4k3/8/8/8/8/8/8/5KR1 w K - 0 1", chess960=True)
    assert gen.san(board, "f1g1") == "O-O"
    with pytest.raises(ValueError):
        gen.parse_san(board, "Kg1")


GAME = """[Event "x"]
[Variant "{variant}"]
[FEN "{fen}"]

1. O-O O-O-O 2. Kg2 *
"""


@pytest.mark.parametrize("variant", ["Chess960", "chess960", "Fischerandom", "Chess 960"])
def test_pgn_games(tmp_path, variant):
    fen = "1r2k2r/8/8/8/8/8/8/1R2K2R w HBhb - 0 1"
    path = tmp_path / "g.pgn"
    path.write_text(GAME.format(variant=variant, fen=fen))
    (game,) = list(gen.read_pgn(str(path)))
    assert game.error is None
    assert game.moves == ("e1h1", "e8b8", "g1g2")
    assert game.board().full_fen() == "2kr3r/8/8/8/8/8/6K1/1R3R2 b - - 3 2"
    assert game.board(0).is_chess960()
    text = gen.pgn(game)
    assert '[Variant "%s"]' % variant in text
    assert '[FEN "1r2k2r/8/8/8/8/8/8/1R2K2R w KQkq - 0 1"]' in text
    assert "1. O-O O-O-O 2. Kg2 *" in text
    path.write_text(text)
    (again,) = list(gen.read_pgn(str(path)))
    assert again.moves == game.moves


def test_pgn_standard_variants_unchanged(tmp_path):
    path = tmp_path / "g.pgn"
    path.write_text('[Variant "Crazyhouse"]\n\n1. e4 *\n\n[Variant "Standard"]\n\n1. e4 *\n')
    crazy, standard = list(gen.read_pgn(str(path)))
    assert crazy.error == "unsupported variant: Crazyhouse"
    assert standard.error is None and not standard.board().is_chess960()
    # A Chess960 game without a FEN tag starts from position 518.
    path.write_text('[Variant "Chess960"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O *\n')
    (game,) = list(gen.read_pgn(str(path)))
    assert game.error is None and game.moves[-1] == "e1h1"
    assert "[SetUp" in gen.pgn(game)


# The engine client: UCI_Chess960 for Chess960 boards, off again for standard ones.

STOCKFISH = "/usr/games/stockfish"


@pytest.mark.skipif(not os.access(STOCKFISH, os.X_OK), reason="Stockfish is not installed")
def test_engine_plays_chess960():
    from vemla_chess_data.engine import Engine

    board = Board.from_full_fen("1r2k2r/pppppppp/8/8/8/8/PPPPPPPP/1R2K2R w HBhb - 0 1", chess960=True)
    with Engine(STOCKFISH, {"Threads": 1, "Hash": 16}, timeout=60) as engine:
        # Castled on both sides first: the engine reads the king-takes-rook moves.
        info = engine.analyse(board, nodes=2000, moves=["e1h1", "e8b8"])
        assert info.fen == "2kr3r/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 w - - 2 2"
        assert info.pv and info.move in gen(Board.from_full_fen(info.fen, chess960=True))
        assert engine.play(board, nodes=2000) in gen(board)
        # Back to standard chess: castling is e1g1 again.
        standard = Board("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq -")
        assert engine.analyse(standard, nodes=2000, moves=["e1g1"]).pv
        with pytest.raises(ValueError, match="set by analyse"):
            engine.configure({"UCI_Chess960": True})


def test_engine_without_chess960_mode_is_refused():
    from vemla_chess_data.engine import Engine

    fake = str(Path(__file__).resolve().parent / "fake_engine.py")
    with Engine([sys.executable, fake, "good"], timeout=10) as engine:
        with pytest.raises(ValueError, match="has no UCI_Chess960 option"):
            engine.play(Board.from_chess960(518), depth=1)
        assert engine.play(Board(), depth=1) == "e2e4"


@pytest.mark.parametrize("scheme", ["lc0", "alphazero"])
def test_policy_encodings_of_castling(scheme):
    # Castling with the king on its landing square, beside its rook, far from it.
    fens = [TWO_ROOKS, "4k3/8/8/8/8/8/8/5KR1 w K - 0 1", "4k3/8/8/8/8/8/8/R5KR w KQ - 0 1",
            "rk4r1/8/8/8/8/8/8/4K3 b kq - 0 1"]
    for fen in fens:
        board = Board.from_full_fen(fen, chess960=True)
        moves = gen(board)
        indices = gen.policy_indices(board, scheme)
        assert len(set(indices)) == len(moves), fen
        for move, index in zip(moves, indices):
            assert gen.policy_index(board, move, scheme) == index
            assert gen.policy_move(board, index, scheme) == move
    board = Board.from_full_fen(TWO_ROOKS, chess960=True)
    # The king taking its rook is the plain from-to move of the scheme.
    plain = Board("4k3/8/8/8/8/8/8/1K6 w - -")
    assert gen.policy_index(board, "b1a1", scheme) == gen.policy_index(plain, "b1a1", scheme)


def all_games(data):
    import numpy as np

    return np.concatenate([data.games(i) for i in range(len(data.names))])


def test_datasets_of_chess960_games(tmp_path):
    np = pytest.importorskip("numpy")
    import vemla_chess_data
    from vemla_chess_data import tool

    # Self-play from given start numbers, one after another.
    out = tmp_path / "selfplay"
    assert tool.main(["selfplay", str(out), "--games", "4", "--games-per-shard", "2", "--max-plies", "30",
                      "--chess960", "0,959", "--jobs", "1"]) in (0, None)
    data = vemla_chess_data.open_dataset(str(out))
    games = all_games(data)
    assert list(games["variant"]) == ["chess960"] * 4
    assert [f.split("/")[0] for f in games["start_fen"]] == ["bbqnnrkr", "rkrnnqbb"] * 2
    # Random starts differ from game to game.
    out = tmp_path / "random"
    assert tool.main(["selfplay", str(out), "--games", "6", "--max-plies", "10", "--chess960", "--jobs", "1"]) in (0, None)
    data = vemla_chess_data.open_dataset(str(out))
    games = all_games(data)
    assert len(set(games["start_fen"])) > 1 and set(games["variant"]) == {"chess960"}
    with pytest.raises(SystemExit):
        tool.main(["selfplay", str(tmp_path / "bad"), "--chess960", "960"])

    # PGN games with a Variant tag, castling included, next to a standard one.
    pgn = tmp_path / "games.pgn"
    pgn.write_text(GAME.format(variant="Chess960", fen="1r2k2r/8/8/8/8/8/8/1R2K2R w HBhb - 0 1")
                   + '\n[Event "y"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O *\n')
    out = tmp_path / "pgn"
    assert tool.main(["pgn", str(out), str(pgn), "--jobs", "1"]) in (0, None)
    data = vemla_chess_data.open_dataset(str(out))
    games = all_games(data)
    assert list(games["variant"]) == ["chess960", ""] and list(games["positions"]) == [3, 7]
