"""The Python examples run as a user would run them, against the module under test."""
import os
import subprocess
import sys
from pathlib import Path

import pytest
from vemla_chess import Board, MoveGenerator

from conftest import MODULE_DIR, optional_import

np = optional_import("numpy")
if np is not None:
    import vemla_chess_data  # python/, on the path through conftest
needs_numpy = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
PIL_Image = optional_import("PIL.Image")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
LETTERS = "PNBRQKpnbrqk"


def run_example(name, *args, cwd):
    # The module under test first, then whatever the test run itself was given.
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    env = dict(os.environ, PYTHONPATH=path)
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], cwd=cwd,
                          env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def planes_of(fen):
    """12 x 8 x 8 planes read straight from the FEN placement, rank 1 first."""
    out = np.zeros((12, 8, 8), dtype=bool)
    for row, rank_text in enumerate(fen.split()[0].split("/")):
        file = 0
        for c in rank_text:
            if c.isdigit():
                file += int(c)
            else:
                out[LETTERS.index(c), 7 - row, file] = True
                file += 1
    return out


def replay(moves, fens, planes, gen):
    """Replays one game's moves, checking each recorded position; returns the board."""
    board = Board()
    for i, move in enumerate(moves):
        assert board.fen() == fens[i]
        # Orientation and plane order checked against the FEN, not the module.
        assert np.array_equal(planes[i], planes_of(fens[i])), f"ply {i}"
        placement = fens[i].split()[0]
        assert [int(planes[i][p].sum()) for p in range(12)] == [placement.count(c) for c in LETTERS]
        assert move in gen(board)
        board.push(move)
    return board


def move_text(code):
    """The text of a move code from a dataset record."""
    code = int(code)
    square = lambda sq: "abcdefgh"[sq % 8] + str(sq // 8 + 1)  # noqa: E731
    return square(code & 63) + square((code >> 6) & 63) + ("", "", "", "", "n", "b", "r", "q")[code >> 12]


def material(board):
    """The pieces besides the kings, read from the FEN."""
    return sorted(c for c in board.fen().split()[0] if c.isalpha() and c not in "Kk")


# Seed 7 ends in checkmate, stalemate and threefold repetition, seed 1 in
# insufficient material; both leave games unfinished at the cap.
@needs_numpy
@pytest.mark.parametrize("seed, games, cap", [(7, 12, 300), (1, 12, 300), (2, 1, 0)])
def test_selfplay_records_games_that_end_by_the_rules(tmp_path, seed, games, cap):
    out = run_example("selfplay_planes.py", "--seed", seed, "--games", games, "--max-plies", cap,
                      "--save", tmp_path / "games", cwd=tmp_path)
    # Saved in the dataset tool's format, read back with its reader.
    data = vemla_chess_data.open_dataset(str(tmp_path / "games"))
    records, table = data.positions(0), data.games(0)
    assert f"saved: {len(records)} positions of {games} games in" in out
    planes = vemla_chess_data.planes(records)[:, :12].astype(bool)
    assert f"planes: {planes.shape} bool" in out
    moves = [move_text(code) for code in records["move"]]
    game_of = np.asarray(records["game"])
    fens = []
    for g in range(games):
        board = Board()
        for i in np.flatnonzero(game_of == g):
            fens.append(board.fen())
            board.push(moves[i])
    data = dict(results=table["result"], reasons=table["termination"], value=np.asarray(records["result"]) *
                np.where(np.asarray(records["white_to_move"]) == 1, 1, -1))
    assert len(data["results"]) == len(data["reasons"]) == games

    gen = MoveGenerator()
    for g in range(games):
        at = np.flatnonzero(game_of == g)
        result, reason = str(data["results"][g]), str(data["reasons"][g])
        board = replay([moves[i] for i in at], [fens[i] for i in at], planes[at], gen)
        assert f"game {g + 1}: {len(at)} plies, {result} ({reason.replace('_', ' ')})" in out
        assert set(data["value"][at].tolist()) <= {{"1-0": 1, "0-1": -1}.get(result, 0)}
        legal = gen(board)
        if reason == "unfinished":
            assert len(at) == cap and result == "*"
            assert legal and gen.outcome(board, claim_draw=True) is None
        elif reason == "checkmate":
            assert legal == [] and gen.is_check(board)
            assert result == ("0-1" if board.turn() == "white" else "1-0")
        elif reason == "stalemate":
            assert legal == [] and not gen.is_check(board) and result == "1/2-1/2"
        elif reason == "insufficient_material":
            assert legal and result == "1/2-1/2"
            assert material(board) in ([], ["N"], ["n"]) or set(material(board)) <= {"B", "b"}
        elif reason == "threefold_repetition":
            assert result == "1/2-1/2"
            assert board.repetitions() == 3 and gen.outcome(board) is None
            # Three equal positions among those played through, the last included.
            assert (fens[at[0]:at[-1] + 1] + [board.fen()]).count(board.fen()) == 3
        else:
            # The move rules and fivefold repetition: the clock or the count as outcome says.
            assert reason in ("fifty_moves", "seventyfive_moves", "fivefold_repetition") and result == "1/2-1/2"
            assert gen.outcome(board, claim_draw=True) == reason
    assert f"final position: {board.fen()}" in out


@needs_numpy
def test_selfplay_is_reproducible_from_its_seed(tmp_path):
    runs = [run_example("selfplay_planes.py", "--seed", s, "--max-plies", 40, cwd=tmp_path)
            for s in (9, 9, 10)]
    assert runs[0] == runs[1]
    assert runs[0] != runs[2]


def test_play_game_reports_the_game_it_played(tmp_path):
    # The example checks by itself that pop() walks back to the start.
    moves_line, result_line = run_example("play_game.py", 30, cwd=tmp_path).splitlines()
    board = Board()
    for move in moves_line.split():
        board.push(move)
    assert result_line.startswith(f"after {len(moves_line.split())} plies: {board.fen()} ")


@pytest.mark.parametrize("flag, orientation", [([], "white"), (["--black"], "black")])
def test_watch_game_prints_the_board_after_every_move(tmp_path, flag, orientation):
    out = run_example("watch_game.py", "--seed", 3, "--max-plies", 12, *flag, cwd=tmp_path)
    blocks = out.split("\n\n")
    board = Board()
    assert blocks[0].rstrip("\n") == board.diagram(orientation)
    assert len(blocks) == 13
    for ply, block in enumerate(blocks[1:], 1):
        heading, picture = block.split("\n", 1)
        label, move = heading.split(": ")
        assert label == f"ply {ply}"
        assert move in MoveGenerator()(board)
        board.push(move)
        assert picture.rstrip("\n") == board.diagram(orientation)


def test_watch_game_stops_when_the_rules_end_the_game(tmp_path):
    out = run_example("watch_game.py", "--seed", 5, "--max-plies", 100000, cwd=tmp_path)
    blocks = out.split("\n\n")
    assert blocks[-1].startswith("game over: ")
    gen, board = MoveGenerator(), Board()
    for block in blocks[1:-1]:
        assert gen.outcome(board) is None
        board.push(block.split("\n", 1)[0].split(": ")[1])
    assert blocks[-1].rstrip("\n") == f"game over: {gen.outcome(board).replace('_', ' ')}"
    assert len(blocks) - 2 < 2000


@pytest.mark.skipif(PIL_Image is None, reason="Pillow cannot be imported by this interpreter")
def test_screenshot_script_renders_a_board(tmp_path):
    script = Path(__file__).resolve().parents[2] / "tools" / "screenshot.py"
    env = dict(os.environ, VEMLA_MODULE_DIR=MODULE_DIR)
    subprocess.run([sys.executable, str(script), str(tmp_path / "board.png")], env=env, check=True,
                   capture_output=True, timeout=60)
    assert PIL_Image.open(tmp_path / "board.png").size == (360, 360)


@needs_numpy
def test_pgn_to_numpy(tmp_path):
    corpus = Path(__file__).resolve().parents[1] / "data" / "pgn" / "corpus.pgn"
    sample = tmp_path / "sample.pgn.gz"
    import gzip
    text = corpus.read_bytes()
    sample.write_bytes(gzip.compress(text[:text.index(b"[Event", 60_000)]))
    out = run_example("pgn_to_numpy.py", sample, "--min-elo", "1500", "--save", tmp_path / "a.npz",
                      cwd=tmp_path)
    data = np.load(tmp_path / "a.npz")
    games = [g for g in MoveGenerator().read_pgn(sample)
             if min(int(g.tags.get("WhiteElo", 0)), int(g.tags.get("BlackElo", 0))) >= 1500]
    assert f"{len(games)} games" in out and games
    assert list(data["moves"]) == [m for g in games for m in g.moves]
    # Spot checks: the first position of each game, and a mid-game one.
    first = 0
    for g in games:
        assert (data["planes"][first] == planes_of(g.board(0).fen())).all()
        mid = len(g.moves) // 2
        assert (data["planes"][first + mid] == planes_of(g.board(mid).fen())).all()
        first += len(g.moves)


@needs_numpy
def test_train_loop_reads_every_position_of_a_saved_dataset(tmp_path):
    run_example("selfplay_planes.py", "--seed", 7, "--games", 3, "--max-plies", 60, "--save", tmp_path / "d",
                cwd=tmp_path)
    positions = len(vemla_chess_data.open_dataset(str(tmp_path / "d")))
    out = run_example("train_loop.py", tmp_path / "d", "--batch-size", 64, "--epochs", 2, "--scheme", "alphazero",
                      cwd=tmp_path)
    assert f"{positions} positions in 1 shards, 3 games" in out
    assert out.count(f": {positions} positions in ") == 2 and "input (20, 8, 8) planes" in out


@needs_numpy
def test_eval_value_finds_the_piece_values_the_evals_were_made_of(tmp_path):
    # Random games whose eval after each move is the material balance of the
    # position it leads to (pawn 1 ... queen 9, White's view): fitted on the
    # right positions from the right side, the balance explains it exactly.
    # The games stop before the balance reaches the example's clip at 10.
    import random

    gen, rng, texts = MoveGenerator(), random.Random(3), []
    worth = dict(p=1, n=3, b=3, r=5, q=9)
    for _ in range(40):
        board, moves, evals = Board(), [], []
        while len(moves) < 120 and gen(board):
            move = rng.choice(gen(board))
            board.push(move)
            placement = board.fen().split()[0]
            balance = sum(worth.get(c.lower(), 0) * (1 if c.isupper() else -1) for c in placement)
            if abs(balance) >= 10:
                break
            moves.append(move)
            evals.append(balance)
        texts.append(gen.pgn(moves, result="*", evals=evals))
    (tmp_path / "games.pgn").write_text("\n\n".join(texts))
    out = run_example("eval_value.py", "games.pgn", "--epochs", 2, "--dataset", tmp_path / "d", cwd=tmp_path)
    assert "material explains 100.0% of its variance" in out
    assert "piece values in pawns: pawn 1.00, knight 3.00, bishop 3.00, rook 5.00, queen 9.00" in out
    assert "epoch 1: value MSE train" in out
    assert vemla_chess_data.open_dataset(str(tmp_path / "d")).annotated(0)
