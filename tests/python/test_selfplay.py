"""tools/selfplay.py: the games in the shards are real games, the same seed
gives the same files on any pool, and an interrupted run goes on where it stopped."""
import os
import subprocess
import sys

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import TOOLS
from conftest import MODULE_DIR, optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
import selfplay  # noqa: E402  tools/selfplay.py, on the path through chess_util
from task_pool import InlinePool

# Seed 1, games 0 to 9 end at the ply cap, in insufficient material (1),
# checkmate (4) and stalemate (9); game 123 ends in threefold repetition.
SETTINGS = dict(seed=1, games=10, games_per_shard=4, max_plies=400)


def files_of(directory):
    return {name: (directory / name).read_bytes() for name in sorted(os.listdir(directory))}


def run_tool(out_dir, *args):
    # The module under test first, then whatever the test run itself was given.
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    env = dict(os.environ, PYTHONPATH=path)
    options = [f"--{k.replace('_', '-')}={v}" for k, v in SETTINGS.items()]
    return subprocess.run([sys.executable, str(TOOLS / "selfplay.py"), str(out_dir), *options, *args],
                          env=env, capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def dataset(tmp_path_factory):
    """The reference dataset, written by one process through the command line."""
    out = tmp_path_factory.mktemp("one_job")
    done = run_tool(out, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "3 shards written, 0 already there; 10 games" in done.stdout
    assert "shard 2 written; 10/10 games" in done.stderr
    return out


def replay(gen, shard):
    """Checks each game of a shard move by move against the module; returns the results seen."""
    with np.load(shard) as archive:
        data = dict(archive)  # an NpzFile would decompress an array on every access
    assert data["planes"].dtype == np.uint8 and data["planes"].shape == (len(data["moves"]), 12, 8, 8)
    seen = []
    for game, result, winner, plies in zip(data["games"], data["results"], data["winners"], data["plies"]):
        rows = np.flatnonzero(data["game"] == game)
        assert list(data["ply"][rows]) == list(range(plies))
        board = Board()
        for row in rows:
            assert data["fens"][row] == board.fen()
            planes = np.array(board.bitboard(), dtype=np.uint8).reshape(12, 8, 8)
            assert np.array_equal(data["planes"][row], planes)
            assert data["moves"][row] in gen(board)
            board.push(data["moves"][row])
        ended = {"threefold_repetition": board.repetitions() >= 3, "ply_cap": plies == SETTINGS["max_plies"]}
        assert ended.get(result, gen.outcome(board) == result), (game, result)
        assert winner == ({"white": "black", "black": "white"}[board.turn()] if result == "checkmate" else "")
        seen.append(str(result))
    return seen


def test_shards_hold_the_games_played(gen, dataset):
    seen = []
    for shard in sorted(dataset.glob("shard-*.npz")):
        seen += replay(gen, shard)
    assert len(seen) == SETTINGS["games"]
    assert {"ply_cap", "insufficient_material", "checkmate", "stalemate"} <= set(seen) <= set(selfplay.RESULTS)


def test_threefold_repetition_ends_a_game(gen, tmp_path):
    chunk = selfplay.play_games(1, 123, 1, 400)
    assert chunk["results"] == ["threefold_repetition"]
    path = str(tmp_path / "game.npz")
    selfplay.write_npz_atomically(path, selfplay.shard_arrays([chunk]))
    assert replay(gen, path) == ["threefold_repetition"]


def test_same_seed_same_files_on_every_pool(dataset, tmp_path):
    two = tmp_path / "two_jobs"
    done = run_tool(two, "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert files_of(two) == files_of(dataset)
    other = tmp_path / "other_seed"
    selfplay.generate(InlinePool(), str(other), **dict(SETTINGS, seed=2, games=4))
    assert files_of(other)["shard-00000.npz"] != files_of(dataset)["shard-00000.npz"]


def test_dask_cluster_writes_the_same_files(dataset, cluster, tmp_path):
    selfplay.generate(cluster, str(tmp_path), **SETTINGS)
    assert files_of(tmp_path) == files_of(dataset)


def test_interrupted_run_goes_on_without_duplicates(dataset, tmp_path):
    def stop_after_first_shard(shard):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        selfplay.generate(InlinePool(), str(tmp_path), **SETTINGS, on_shard=stop_after_first_shard)
    assert sorted(os.listdir(tmp_path)) == ["dataset.json", "shard-00000.npz"]
    # What a run killed while writing leaves behind.
    (tmp_path / ".shard-00001.npz.999.tmp").write_bytes(b"half a shard")
    games = []
    written = selfplay.generate(InlinePool(), str(tmp_path), **SETTINGS,
                                on_task=lambda n, positions: games.append(n))
    assert written == [1, 2] and sum(games) == 6
    assert files_of(tmp_path) == files_of(dataset)
    # Other settings in the same directory are refused, nothing is touched.
    with pytest.raises(SystemExit, match="other settings"):
        selfplay.generate(InlinePool(), str(tmp_path), **dict(SETTINGS, max_plies=10))
    assert files_of(tmp_path) == files_of(dataset)
