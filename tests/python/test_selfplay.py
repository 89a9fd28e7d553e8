"""tools/selfplay.py, the dataset tool's self-play source: how its games end,
and one Ctrl-C stopping a run with its finished shards intact."""
import os
import signal
import subprocess
import sys
import time

import pytest
from vemla_chess import Board

from chess_util import TOOLS, signals_at_default
from conftest import MODULE_DIR, optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
from vemla_chess_data import sources, shards  # noqa: E402


def test_games_end_by_the_rules_or_the_cap(gen):
    state = sources.worker_state()
    # Seed 1: game 123 ends in threefold repetition, games 0-9 in the others.
    moves, ending, result = sources.play_game(state, 1, 123, 400)
    board = Board()
    for move in moves:
        board.push(move)
    assert ending == "threefold_repetition" and board.repetitions() == 3 and result == "1/2-1/2"
    endings = {sources.play_game(state, 1, g, 400)[1] for g in range(10)}
    assert {"ply_cap", "insufficient_material", "checkmate", "stalemate"} <= endings
    moves, ending, result = sources.play_game(state, 1, 0, 7)
    assert (len(moves), ending, result) == (7, "ply_cap", "*")


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_one_ctrl_c_stops_the_run_and_keeps_whole_shards(tmp_path, jobs, launched_in_the_background):
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    child = subprocess.Popen([sys.executable, str(TOOLS / "selfplay.py"), str(tmp_path), "--games", "20000",
                              "--games-per-shard", "50", "--jobs", jobs], env=dict(os.environ, PYTHONPATH=path),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             preexec_fn=signals_at_default)
    deadline = time.monotonic() + 60
    while not any(n.startswith("shard-") for n in os.listdir(tmp_path)) and time.monotonic() < deadline:
        time.sleep(0.05)
    child.send_signal(signal.SIGINT)
    stopped = time.monotonic()
    _, err = child.communicate(timeout=30)
    assert time.monotonic() - stopped < 10
    assert child.returncode == 130 and "interrupted; the finished shards are kept" in err
    assert "Traceback" not in err
    index = shards.read_index(str(tmp_path))
    names = sorted(n for n in os.listdir(tmp_path) if n.startswith("shard-"))
    assert names and all(shards.check_shard(str(tmp_path), n, index["shards"][n]) is None
                         for n in names if n in index["shards"])
