"""The Python examples run as a user would run them, against the module under test."""
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from vemla_chess import Board, MoveGenerator

from conftest import MODULE_DIR

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
LETTERS = "PNBRQKpnbrqk"


def run_example(name, *args, cwd):
    env = dict(os.environ, PYTHONPATH=MODULE_DIR)
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


# Seed 10 ends in mate or stalemate at ply 195; the others reach their cap.
@pytest.mark.parametrize("seed, cap", [(1, 60), (10, 400), (2, 0)])
def test_selfplay_planes_match_the_game(tmp_path, seed, cap):
    out = run_example("selfplay_planes.py", "--seed", seed, "--max-plies", cap,
                      "--save", tmp_path / "game.npz", cwd=tmp_path)
    data = np.load(tmp_path / "game.npz")
    planes, moves, fens = data["planes"], list(data["moves"]), list(data["fens"])
    assert f"planes: {planes.shape} bool" in out
    assert planes.dtype == bool and planes.shape == (len(moves), 12, 8, 8)
    assert len(moves) <= cap

    board, gen = Board(), MoveGenerator()
    for i, move in enumerate(moves):
        assert board.fen() == fens[i]
        # Orientation and plane order checked against the FEN, not the module.
        assert np.array_equal(planes[i], planes_of(fens[i])), f"ply {i}"
        placement = fens[i].split()[0]
        assert [int(planes[i][p].sum()) for p in range(12)] == [placement.count(c) for c in LETTERS]
        assert move in gen(board)
        board.push(move)
    if len(moves) < cap:  # the game stopped early only because it was over
        assert gen(board) == []
        assert "no legal move" in out
    assert f"final position: {board.fen()}" in out


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


def test_screenshot_script_renders_a_board(tmp_path):
    from PIL import Image
    script = Path(__file__).resolve().parents[2] / "tools" / "screenshot.py"
    env = dict(os.environ, VEMLA_MODULE_DIR=MODULE_DIR)
    subprocess.run([sys.executable, str(script), str(tmp_path / "board.png")], env=env, check=True,
                   capture_output=True, timeout=60)
    assert Image.open(tmp_path / "board.png").size == (360, 360)
