"""Engine labels of a dataset: what the engine said of each position, the
same bytes on every pool, resume after a kill, stale and broken labels redone,
and a misbehaving engine stopping the run with its name and nothing half-written."""
import glob
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import TOOLS
from conftest import MODULE_DIR, UNDER_ASAN, optional_dask, optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
import vemla_chess_data  # noqa: E402
from vemla_chess_data import labels  # noqa: E402
from vemla_chess_data.engine import Engine  # noqa: E402

STOCKFISH = "/usr/games/stockfish"
FAKE = str(Path(__file__).resolve().parent / "fake_engine.py")
needs_stockfish = pytest.mark.skipif(not os.access(STOCKFISH, os.X_OK), reason="Stockfish is not installed")
needs_dask = pytest.mark.skipif(UNDER_ASAN or optional_dask() is None,
                                reason="Dask is not available here, or left out under the sanitizers")
SELFPLAY = ["--games", "5", "--games-per-shard", "2", "--seed", "3", "--max-plies", "40"]
LABEL = ["--engine", STOCKFISH, "--nodes", "200"]


def environment():
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    return dict(os.environ, PYTHONPATH=path)


def run_tool(*args, **kwargs):
    return subprocess.run([sys.executable, str(TOOLS / "dataset.py"), *map(str, args)], env=environment(),
                          capture_output=True, text=True, timeout=600, **kwargs)


def label_files(dataset, name="engine"):
    """{relative path: bytes} of every file of a label set."""
    root = Path(dataset) / "labels" / name
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def copy_dataset(source, target):
    shutil.copytree(source, target, ignore=shutil.ignore_patterns("labels", ".lock"))
    return target


@pytest.fixture(scope="module")
def plain_set(tmp_path_factory):
    out = tmp_path_factory.mktemp("plain")
    done = run_tool("selfplay", out, *SELFPLAY, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    return out


@pytest.fixture(scope="module")
def labelled_set(plain_set, tmp_path_factory):
    if not os.access(STOCKFISH, os.X_OK):
        pytest.skip("Stockfish is not installed")
    out = copy_dataset(plain_set, tmp_path_factory.mktemp("labelled") / "data")
    done = run_tool("label", out, *LABEL, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("labels of 3 shards written, 0 already there; "), done.stdout
    assert "positions labelled by Stockfish" in done.stdout
    return out


@needs_stockfish
def test_labels_are_what_the_engine_says_of_each_position(gen, labelled_set):
    data = vemla_chess_data.open_dataset(str(labelled_set))
    assert data.label_sets == ["engine"]
    assert data.label_index()["settings"]["nodes"] == 200
    # The same searches made here, in the same order from a new game, say the same.
    with Engine(STOCKFISH, {"Threads": 1, "Hash": 16}) as engine:
        for shard in range(len(data.names)):
            found = data.labels(shard)
            assert found.dtype == labels.label_dtype() and len(found) == data.sizes[shard]
            engine.new_game()
            positions, games = data.positions(shard), data.games(shard)
            for game in games:
                board = Board()
                for row in range(game["first"], game["first"] + game["positions"]):
                    info = engine.analyse(board, nodes=200)
                    label = found[row]
                    assert label["score"] == info.score.value and label["mate"] == (info.score.mate or 0)
                    assert tuple(label["wdl"]) == info.wdl and label["depth"] == info.depth
                    assert label["flags"] == labels.LINE | labels.HAS_WDL | (labels.BOUND * (info.bound != "exact"))
                    assert label["best_move"] == labels.move_code(info.move)
                    assert label["best_lc0"] == gen.policy_index(board, info.move, "lc0")
                    assert label["best_alphazero"] == gen.policy_index(board, info.move, "alphazero")
                    move = next(m for m in gen(board) if labels.move_code(m) == positions[row]["move"])
                    board.push(move)
    # The batches carry them next to the records they belong to.
    seen = 0
    for batch in data.batches(64, seed=2, labels="engine"):
        assert batch["engine_labelled"].all()
        for shard, row, score, wdl, best in zip(batch["shard"], batch["row"], batch["engine_score"],
                                                batch["engine_wdl"], batch["engine_best_lc0"]):
            label = data.labels(int(shard))[row]
            assert (score, tuple(wdl), best) == (label["score"], tuple(label["wdl"]), label["best_lc0"])
            seen += 1
    assert seen == len(data)
    with pytest.raises(KeyError, match="no label set 'other'"):
        next(data.batches(8, labels="other"))


@needs_stockfish
def test_same_label_files_for_one_job_and_two(plain_set, labelled_set, tmp_path):
    out = copy_dataset(plain_set, tmp_path / "two")
    done = run_tool("label", out, *LABEL, "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert label_files(out) == label_files(labelled_set)


@needs_stockfish
@needs_dask
def test_same_label_files_on_a_local_dask_cluster(plain_set, labelled_set, tmp_path):
    out = copy_dataset(plain_set, tmp_path / "dask")
    done = run_tool("label", out, *LABEL, "--scheduler", "local", "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert label_files(out) == label_files(labelled_set)


KILL_SET = ["--games", "12", "--games-per-shard", "1", "--seed", "8", "--max-plies", "60"]
KILL_LABEL = ["--engine", STOCKFISH, "--nodes", "600"]


def children_of(pid):
    found = []
    for listing in glob.glob(f"/proc/{pid}/task/*/children"):
        try:
            with open(listing) as f:
                found += [int(word) for word in f.read().split()]
        except FileNotFoundError:
            pass
    return found


def gone(pid, wait=20.0):
    end = time.monotonic() + wait
    while time.monotonic() < end:
        try:
            with open(f"/proc/{pid}/stat") as f:
                if f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X"):
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.05)
    return False


@needs_stockfish
def test_resume_after_sigkill_keeps_whole_labels_and_redoes_the_rest(tmp_path):
    reference = tmp_path / "reference"
    assert run_tool("selfplay", reference, *KILL_SET, "--jobs", "1").returncode == 0
    out = copy_dataset(reference, tmp_path / "out")
    done = run_tool("label", reference, *KILL_LABEL, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    child = subprocess.Popen([sys.executable, str(TOOLS / "dataset.py"), "label", str(out), *KILL_LABEL,
                              "--jobs", "1"], env=environment(), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    folder = out / "labels" / "engine"
    deadline = time.monotonic() + 120
    while child.poll() is None and time.monotonic() < deadline and \
            not (folder.is_dir() and any(n.startswith("shard-") for n in os.listdir(folder))):
        time.sleep(0.01)
    engines = [pid for pid in children_of(child.pid) if "stockfish" in Path(f"/proc/{pid}/cmdline").read_text()]
    assert child.poll() is None and engines, "the run ended before it could be killed"
    child.send_signal(signal.SIGKILL)
    child.wait()
    # Its engine dies with it.
    assert all(gone(pid) for pid in engines)
    done = run_tool("label", out, *KILL_LABEL, "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert "shards are already labelled" in done.stderr and "already there" in done.stdout
    assert label_files(out) == label_files(reference)


@needs_stockfish
def test_broken_and_stale_labels_are_redone_and_never_read(plain_set, labelled_set, tmp_path):
    out = copy_dataset(plain_set, tmp_path / "data")
    shutil.copytree(labelled_set / "labels", out / "labels")
    broken = out / "labels" / "engine" / "shard-00001" / "labels.npy"
    flipped = bytearray(broken.read_bytes())
    flipped[-3] ^= 1
    broken.write_bytes(bytes(flipped))
    (out / "labels" / "engine" / ".tmp-shard-00002-1-abcd").mkdir()
    # The dataset grows: its last shard, which held one game, is rebuilt with two.
    grown = run_tool("selfplay", out, "--games", "6", *SELFPLAY[2:], "--jobs", "1")
    assert grown.returncode == 0, grown.stderr
    data = vemla_chess_data.open_dataset(str(out))
    assert data.labels(0) is not None and data.labels(2) is None
    batch = next(data.batches(10_000, labels="engine"))
    labelled = batch["engine_labelled"]
    assert labelled[batch["shard"] <= 1].all() and not labelled[batch["shard"] == 2].any()
    assert (batch["engine_score"][~labelled] == 0).all()
    done = run_tool("label", out, *LABEL, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "labels of shard-00001: labels.npy does not match its checksum; labelling it again" in done.stderr
    assert "labels of shard-00002: was made from another version of the shard; labelling it again" in done.stderr
    assert "removed the unfinished files" in done.stderr
    assert done.stdout.startswith("labels of 2 shards written, 1 already there"), done.stdout
    files = label_files(out)
    reference = label_files(labelled_set)
    for name in ("shard-00000/labels.npy", "shard-00001/labels.npy"):
        assert files[name] == reference[name]
    assert not any(name.startswith(".tmp") for name in os.listdir(out / "labels" / "engine"))
    other = run_tool("label", out, "--engine", STOCKFISH, "--nodes", "300", "--jobs", "1")
    assert other.returncode == 2 and "labels made with other settings" in other.stderr
    assert run_tool("label", out, "--engine", STOCKFISH, "--nodes", "300", "--name", "deeper",
                    "--jobs", "1").returncode == 0
    assert vemla_chess_data.open_dataset(str(out)).label_sets == ["deeper", "engine"]


@needs_stockfish
def test_multipv_mates_and_single_moves(gen, tmp_path):
    games = [
        {"moves": ["e2e4", "e7e5"], "result": "*"},
        # White mates in one (Ra8#).
        {"moves": ["a1a8"], "result": "1-0", "start_fen": "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1"},
        # Black's king in check with one way out.
        {"moves": ["h8h7"], "result": "*", "start_fen": "R6k/8/5K2/8/8/8/8/8 b - - 0 1"},
    ]
    vemla_chess_data.write_games(str(tmp_path), games)
    single = gen(Board.from_full_fen("R6k/8/5K2/8/8/8/8/8 b - - 0 1"))
    done = run_tool("label", tmp_path, *LABEL, "--multipv", "3", "--new-game", "position", "--jobs", "1")
    assert done.returncode == 0, done.stderr
    found = vemla_chess_data.open_dataset(str(tmp_path)).labels(0)
    assert found.dtype == labels.label_dtype(3) and found["score"].shape == (4, 3)
    opening = found[:2]
    assert (opening["flags"] & labels.LINE).all()
    assert (opening["score"][:, 0] >= opening["score"][:, 1]).all() and \
        (opening["score"][:, 1] >= opening["score"][:, 2]).all()
    assert len(set(opening["best_move"][0])) == 3
    mate = found[2]
    assert mate["mate"][0] == 1 and mate["score"][0] == 100000 - 1
    assert mate["best_move"][0] == labels.move_code("a1a8")
    forced = found[3]
    assert len(single) == 1 and forced["best_move"][0] == labels.move_code(single[0])
    assert list(forced["flags"][1:]) == [0, 0] and list(forced["score"][1:]) == [0, 0]


def fake_engine(tmp_path, mode):
    script = tmp_path / f"fake-{mode}"
    script.write_text(f"#!/bin/sh\nexec {sys.executable} {FAKE} {mode}\n")
    script.chmod(0o755)
    return script


@pytest.fixture()
def start_positions(tmp_path):
    # Every position is the starting one, the only one the fake engine knows.
    out = tmp_path / "starts"
    vemla_chess_data.write_games(str(out), [{"moves": ["e2e4"], "result": "*"}] * 3)
    return out


def test_labels_from_a_fake_engine_hold_exactly_what_it_said(gen, tmp_path, start_positions):
    done = run_tool("label", start_positions, "--engine", fake_engine(tmp_path, "good"), "--nodes", "50",
                    "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "positions labelled by fake" in done.stdout
    found = vemla_chess_data.open_dataset(str(start_positions)).labels(0)
    start = Board()
    said = dict(score=30, mate=0, best_move=labels.move_code("e2e4"), best_lc0=gen.policy_index(start, "e2e4"),
                best_alphazero=gen.policy_index(start, "e2e4", "alphazero"), depth=1,
                flags=labels.LINE | labels.HAS_WDL, nodes=20)
    assert len(found) == 3 and (found["wdl"] == [100, 850, 50]).all()
    assert {field: found[field].tolist() for field in said} == {field: [value] * 3 for field, value in said.items()}


@pytest.mark.parametrize("mode, message", [
    ("hang-on-go", "sent no bestmove within 2 s while analysing"),
    ("exit-on-go", "exited with status 1 while analysing"),
    ("killed-on-go", "was killed by SIGKILL while analysing"),
    ("garbage", "sent no bestmove within 2 s while analysing"),
    ("bad-info", "sent a malformed info line: 'info depth two"),
    ("illegal-best", "sent an illegal move e2e5 in rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"),
])
def test_a_misbehaving_engine_stops_the_run_with_its_name_and_leaves_no_labels(tmp_path, start_positions, mode,
                                                                                message):
    done = run_tool("label", start_positions, "--engine", fake_engine(tmp_path, mode), "--nodes", "50",
                    "--timeout", "2", "--jobs", "1")
    assert done.returncode == 1, done.stderr
    line = done.stderr.strip().splitlines()[-1]
    assert line.startswith("dataset.py: failed: shard-00000, row 0 (rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR "
                           "w KQkq - 0 1): engine 'fake' (")
    assert message in line and line.endswith("run the same command again to go on")
    folder = start_positions / "labels" / "engine"
    assert os.listdir(folder) == ["labels.json"]
    assert vemla_chess_data.open_dataset(str(start_positions)).labels(0) is None


def test_what_the_tool_refuses_before_any_engine_starts(tmp_path, start_positions):
    missing = run_tool("label", tmp_path / "nothing", "--engine", "/bin/true", "--nodes", "5", "--jobs", "1")
    assert missing.returncode == 2 and "holds no dataset (no index.json)" in missing.stderr
    threads = run_tool("label", start_positions, "--engine", "/bin/true", "--nodes", "5", "--option", "Threads=4")
    assert threads.returncode == 2 and "Threads is set by the tool" in threads.stderr
    absent = run_tool("label", start_positions, "--engine", tmp_path / "no-engine", "--nodes", "5", "--jobs", "1")
    assert absent.returncode == 1 and "could not be started" in absent.stderr
    unknown = run_tool("label", start_positions, "--engine", fake_engine(tmp_path, "good"), "--nodes", "5",
                       "--option", "Colour=red", "--jobs", "1")
    assert unknown.returncode == 1 and "engine 'fake'" in unknown.stderr and "has no option 'Colour'" in unknown.stderr
    (start_positions / "labels").mkdir()
    os.symlink(tmp_path, start_positions / "labels" / "engine")
    linked = run_tool("label", start_positions, "--engine", fake_engine(tmp_path, "good"), "--nodes", "5")
    assert linked.returncode == 2 and "is a symbolic link" in linked.stderr


@needs_stockfish
def test_chess960_games_are_labelled_from_their_own_castling_rooks(gen, tmp_path):
    # Castling (the king on b1 taking its rook on a1, which lands on d1) is the
    # only mate: only a board that knows where its castling rook stands lets
    # the engine find it.
    fen = "2rkr3/2p1p3/8/8/8/8/8/RK6 w Q - 0 1"
    vemla_chess_data.write_games(str(tmp_path), [{"moves": ["b1a1"], "result": "1-0", "start_fen": fen,
                                                  "variant": "chess960"}])
    data = vemla_chess_data.open_dataset(str(tmp_path))
    assert list(data.games(0)["variant"]) == ["chess960"]
    done = run_tool("label", tmp_path, *LABEL[:3], "100", "--jobs", "1")
    assert done.returncode == 0, done.stderr
    label = data.labels(0)[0]
    board = Board.from_full_fen(fen, chess960=True)
    assert label["flags"] & labels.LINE and label["mate"] == 1
    assert label["best_move"] == labels.move_code("b1a1")
    assert label["best_lc0"] == gen.policy_index(board, "b1a1", "lc0")


def test_board_fens_are_the_positions_of_the_records(gen, tmp_path):
    games = [{"moves": ["e2e4", "c7c5", "e4e5", "d7d5", "e5d6", "e8d7", "g1f3", "b8c6", "f1e2", "a7a6", "e1g1"],
              "result": "*"},
             {"moves": ["e1c1", "h3h2"], "result": "*", "start_fen": "r3k2r/8/8/8/8/7p/8/R3K2R w KQkq - 12 40"}]
    vemla_chess_data.write_games(str(tmp_path), games)
    fens = labels.board_fens(vemla_chess_data.open_dataset(str(tmp_path)).positions(0))
    expected = []
    for game in games:
        board = Board.from_full_fen(game["start_fen"]) if "start_fen" in game else Board()
        for move in game["moves"]:
            expected.append(board.full_fen())
            board.push(move)
    assert fens == expected
    assert labels.board_fens(np.zeros(0, vemla_chess_data.position_dtype())) == []
