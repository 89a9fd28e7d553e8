"""The dataset tool and its reader: records that replay as the games played,
the same bytes on every pool, resume after a kill or a corrupt shard, the lock."""
import contextlib
import json
import os
import random
import signal
import subprocess
import sys
import time

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import DATA, TOOLS
from conftest import MODULE_DIR, UNDER_ASAN, optional_dask, optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
import vemla_chess_data  # noqa: E402  python/, on the path through conftest
from vemla_chess_data.pool import InlinePool  # noqa: E402
from vemla_chess_data import shards, sources, tool  # noqa: E402

SELFPLAY = ["--games", "10", "--games-per-shard", "4", "--seed", "1"]
CORPUS = DATA / "pgn" / "corpus.pgn"
HAS_PGN = hasattr(MoveGenerator, "read_pgn")


def dataset_files(directory):
    """Every file of a dataset but its (empty) lock, by relative path."""
    found = {}
    for root, _, files in os.walk(directory):
        for name in files:
            path = os.path.join(root, name)
            if name != ".lock":
                found[os.path.relpath(path, directory)] = open(path, "rb").read()
    return found


def run_tool(*args, script="dataset.py", **kwargs):
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    env = dict(os.environ, PYTHONPATH=path)
    return subprocess.run([sys.executable, str(TOOLS / script), *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=600, **kwargs)


def build_selfplay(out_dir, pool, games=10, per=4, seed=1, max_plies=400, on_shard=None):
    settings = dict(seed=seed, games_per_shard=per, max_plies=max_plies)
    return tool.build(str(out_dir), "selfplay", settings, [{"path": "selfplay"}],
                      tool.selfplay_plan_of(str(out_dir), settings, games, print),
                      lambda: contextlib.nullcontext(pool), lambda text: None, on_shard=on_shard)


@pytest.fixture(scope="module")
def selfplay_set(tmp_path_factory):
    out = tmp_path_factory.mktemp("selfplay")
    done = run_tool("selfplay", out, *SELFPLAY, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "3 shards written, 0 already there; the dataset holds 10 games" in done.stdout
    return out


def mover_result(result, white_to_move):
    score = {"1-0": 1, "0-1": -1}.get(result, 0)
    return score if white_to_move else -score


def check_replay(gen, data, shard, limit=None):
    """Replays every game of a shard from its start and checks every field of
    every record against the board (fen() for the state), move by move."""
    positions, games = data.positions(shard), data.games(shard)
    assert positions.dtype == vemla_chess_data.position_dtype()
    played = []
    for number, game in enumerate(games[:limit]):
        rows = positions[game["first"]:game["first"] + game["positions"]]
        assert (rows["game"] == number).all()
        board = Board.from_full_fen(str(game["start_fen"])) if game["start_fen"] else Board()
        clock, moves = 0, []
        for ply, record in enumerate(rows):
            fen = board.fen().split()
            words = [sum(1 << k for k, bit in enumerate(plane) if bit) for plane in board.bitboard()]
            assert [int(w) for w in record["pieces"]] == words
            assert record["ply"] == ply and record["white_to_move"] == (fen[1] == "w")
            assert record["castling"] == sum(1 << i for i, c in enumerate("KQkq") if c in fen[2])
            ep = -1 if fen[3] == "-" else "abcdefgh".index(fen[3][0]) + 8 * (int(fen[3][1]) - 1)
            assert record["en_passant"] == ep and record["repetitions"] == board.repetitions()
            assert record["key"] == board.zobrist()
            assert record["result"] == mover_result(str(game["result"]), fen[1] == "w")
            text = next(m for m in gen(board) if code_of(m) == record["move"])
            for scheme in ("lc0", "alphazero"):
                assert record[f"policy_{scheme}"] == gen.policy_index(board, text, scheme)
            assert record["halfmove_clock"] == board.halfmove_clock()
            assert record["fullmove_number"] == board.fullmove_number()
            if game["start_fen"] == "":
                assert record["halfmove_clock"] == clock
            before = board.bitboard()
            board.push(text)
            after = board.bitboard()
            pawn_moved = before[0] != after[0] or before[6] != after[6]
            captured = sum(map(sum, after)) < sum(map(sum, before))
            clock = 0 if pawn_moved or captured else clock + 1
            moves.append(text)
        played.append((game, moves, board))
    return played


def code_of(text):
    sq = lambda s: "abcdefgh".index(s[0]) + 8 * (int(s[1]) - 1)  # noqa: E731
    return sq(text[:2]) | sq(text[2:4]) << 6 | ("nbrq".index(text[4]) + 4 if len(text) == 5 else 0) << 12


def test_selfplay_records_replay_as_the_games_played(gen, selfplay_set):
    data = vemla_chess_data.open_dataset(str(selfplay_set))
    endings = []
    for shard in range(len(data.names)):
        for game, moves, board in check_replay(gen, data, shard):
            ending = str(game["termination"])
            if ending == "ply_cap":
                assert len(moves) == 400
            elif "claim_draw" in (MoveGenerator.outcome.__text_signature__ or ""):
                assert gen.outcome(board, claim_draw=True) == ending
            else:
                assert ending == ("threefold_repetition" if board.repetitions() >= 3 else gen.outcome(board))
            assert str(game["result"]) == ({"white": "0-1", "black": "1-0"}[board.turn()] if ending == "checkmate"
                                           else "*" if ending == "ply_cap" else "1/2-1/2")
            endings.append(ending)
    assert len(endings) == 10 and {"insufficient_material", "checkmate", "stalemate"} <= set(endings)
    assert data.index["games"] == 10 and len(data) == data.index["positions"]


needs_dask = pytest.mark.skipif(UNDER_ASAN or optional_dask() is None,
                                reason="Dask is not available here, or left out under the sanitizers")


def test_same_bytes_for_one_job_and_two(selfplay_set, tmp_path):
    done = run_tool("selfplay", tmp_path / "two", *SELFPLAY, "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert dataset_files(tmp_path / "two") == dataset_files(selfplay_set)


@needs_dask
def test_same_bytes_on_a_local_dask_cluster(selfplay_set, tmp_path):
    # In a child process: a cluster's threads in this one would disturb the
    # reference counts that the leak tests compare.
    done = run_tool("selfplay", tmp_path, *SELFPLAY, "--scheduler", "local", "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert dataset_files(tmp_path) == dataset_files(selfplay_set)


def test_selfplay_entry_writes_the_same_dataset(selfplay_set, tmp_path):
    done = run_tool(tmp_path, *SELFPLAY, "--jobs", "2", script="selfplay.py")
    assert done.returncode == 0, done.stderr
    assert dataset_files(tmp_path) == dataset_files(selfplay_set)
    help_text = run_tool("--help", script="selfplay.py").stdout
    assert "(default: 1000)" in help_text and "games per shard" in help_text


def test_extending_with_the_same_settings(selfplay_set, tmp_path):
    build_selfplay(tmp_path, InlinePool(), games=6)
    assert json.loads((tmp_path / "index.json").read_text())["games"] == 6
    # Shard 1 held games 4-5; it grows to 4-7 and shard 2 is added.
    done = run_tool("selfplay", tmp_path, *SELFPLAY, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "shard-00001: was made for fewer games; it will be rebuilt" in done.stderr
    assert dataset_files(tmp_path) == dataset_files(selfplay_set)
    before = dataset_files(tmp_path)
    refused = run_tool("selfplay", tmp_path, *SELFPLAY, "--max-plies", "10", "--jobs", "1")
    assert refused.returncode == 2 and "other settings" in refused.stderr
    fewer = run_tool("selfplay", tmp_path, "--games", "3", "--games-per-shard", "4", "--jobs", "1")
    assert fewer.returncode == 0 and "already holds 10 games" in fewer.stderr
    assert dataset_files(tmp_path) == before


KILL_SETTINGS = ["--games", "48", "--games-per-shard", "2", "--seed", "5", "--max-plies", "120"]


@pytest.fixture(scope="module")
def kill_reference(tmp_path_factory):
    out = tmp_path_factory.mktemp("kill_reference")
    assert run_tool("selfplay", out, *KILL_SETTINGS, "--jobs", "1").returncode == 0
    return out


@pytest.mark.parametrize("attempt", range(3))
def test_resume_after_sigkill_loses_and_doubles_nothing(kill_reference, tmp_path, attempt):
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    child = subprocess.Popen([sys.executable, str(TOOLS / "dataset.py"), "selfplay", str(tmp_path), *KILL_SETTINGS,
                              "--jobs", "1"], env=dict(os.environ, PYTHONPATH=path),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(random.Random(attempt).uniform(0.3, 1.5))
    child.send_signal(signal.SIGKILL)
    child.wait()
    done = run_tool("selfplay", tmp_path, *KILL_SETTINGS, "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert dataset_files(tmp_path) == dataset_files(kill_reference)


def test_corrupt_shards_are_reported_and_rebuilt(kill_reference, tmp_path):
    for name, data in dataset_files(kill_reference).items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_bytes(data)
    positions = tmp_path / "shard-00003" / "positions.npy"
    flipped = bytearray(positions.read_bytes())
    flipped[-5] ^= 1
    positions.write_bytes(bytes(flipped))
    games = tmp_path / "shard-00007" / "games.npy"
    games.write_bytes(games.read_bytes()[:100])
    (tmp_path / "shard-00009" / "positions.npy").unlink()
    done = run_tool("selfplay", tmp_path, *KILL_SETTINGS, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    assert "shard-00003: positions.npy does not match its checksum; it will be rebuilt" in done.stderr
    assert "shard-00007: games.npy has 100 bytes instead of" in done.stderr
    assert "shard-00009: positions.npy is missing" in done.stderr
    assert "3 shards written, 21 already there" in done.stdout
    assert dataset_files(tmp_path) == dataset_files(kill_reference)


def test_a_second_run_in_the_same_folder_is_refused(tmp_path):
    with shards.FolderLock(str(tmp_path)):
        done = run_tool("selfplay", tmp_path, *SELFPLAY, "--jobs", "1")
    assert done.returncode == 2
    assert f"another run (process {os.getpid()}) is writing to {tmp_path}" in done.stderr
    assert sorted(os.listdir(tmp_path)) == [".lock"]


def test_interrupted_run_keeps_whole_shards_only(selfplay_set, tmp_path):
    def stop(name):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        build_selfplay(tmp_path, InlinePool(), on_shard=stop)
    assert sorted(n for n in os.listdir(tmp_path) if n.startswith("shard")) == ["shard-00000"]
    (tmp_path / ".tmp-shard-00001-999-abcd").mkdir()
    _, written, found = build_selfplay(tmp_path, InlinePool())
    assert written == ["shard-00001", "shard-00002"] and found == 1
    assert dataset_files(tmp_path) == dataset_files(selfplay_set)


def test_reader_batches_cover_every_position_once(selfplay_set):
    data = vemla_chess_data.open_dataset(str(selfplay_set))

    def keys(batches):
        return [(int(s), int(g), int(p)) for b in batches for s, g, p in zip(b["shard"], b["game"], b["ply"])]

    in_order = keys(data.batches(100))
    shuffled = keys(data.batches(100, seed=3, mix=2))
    assert len(in_order) == len(data) == len(set(in_order))
    assert sorted(shuffled) == sorted(in_order) and shuffled != in_order
    assert keys(data.batches(100, seed=3, mix=2)) == shuffled
    assert all(len(b["move"]) == 100 for b in data.batches(100, drop_last=True))


def test_planes_from_records(gen, selfplay_set):
    data = vemla_chess_data.open_dataset(str(selfplay_set))
    batch = next(data.batches(len(data), columns=["pieces", "white_to_move", "castling", "en_passant",
                                                  "halfmove_clock", "repetitions", "game", "ply"]))
    board_view = vemla_chess_data.planes(batch)
    mover_view = vemla_chess_data.planes(batch, view="mover")
    games = data.games(0)
    for row in (0, 1, 57, 200):
        game = games[batch["game"][row]]
        board = Board()
        moves_of = data.positions(0)[game["first"]:game["first"] + batch["ply"][row]]
        for record in moves_of:
            board.push(next(m for m in gen(board) if code_of(m) == record["move"]))
        expected = np.array(board.bitboard(), dtype=np.float32).reshape(12, 8, 8)
        assert np.array_equal(board_view[row, :12], expected)
        assert board_view[row, 12].all() == (board.turn() == "white")
        if board.turn() == "black":
            mirrored = board.copy()
            mirrored.reflect()
            assert np.array_equal(mover_view[row, :12],
                                  np.array(mirrored.bitboard(), dtype=np.float32).reshape(12, 8, 8))


# ---- PGN ---------------------------------------------------------------------------------------

needs_pgn = pytest.mark.skipif(not HAS_PGN, reason="this build has no PGN reader")


@pytest.fixture(scope="module")
def corpus_set(tmp_path_factory):
    out = tmp_path_factory.mktemp("corpus")
    done = run_tool("pgn", out, CORPUS, "--range-mb", "1", "--jobs", "1")
    assert done.returncode == 0, done.stderr
    return out


@needs_pgn
def test_corpus_moves_equal_the_independent_reading(corpus_set):
    expected = [json.loads(line) for line in (DATA / "pgn" / "expected.jsonl").read_text().splitlines()]
    data = vemla_chess_data.open_dataset(str(corpus_set))
    games = []
    for shard in range(len(data.names)):
        table, positions = data.games(shard), data.positions(shard)
        for game in table:
            rows = positions[game["first"]:game["first"] + game["positions"]]
            games.append((int(game["offset"]), [int(m) for m in rows["move"]], str(game["result"])))
    assert [g[0] for g in games] == sorted(g[0] for g in games)
    assert len(games) == len(expected)
    for (offset, moves, result), want in zip(games, expected):
        assert moves == [code_of(m) for m in want["uci"]], offset
        assert result == want["headers"].get("Result", "*")
    for shard in range(len(data.names)):
        check_replay(MoveGenerator(), data, shard, limit=60)


@needs_pgn
def test_corpus_same_bytes_on_every_pool(corpus_set, tmp_path):
    done = run_tool("pgn", tmp_path / "two", CORPUS, "--range-mb", "1", "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert dataset_files(tmp_path / "two") == dataset_files(corpus_set)


FILTERS = ["--min-elo", "1500", "--time-control", "blitz,rapid", "--skip-plies", "4", "--sample", "0.5",
           "--seed", "9", "--dedup", "--range-mb", "1"]


@needs_pgn
def test_filters_sampling_and_dedup(tmp_path):
    done = run_tool("pgn", tmp_path / "one", CORPUS, *FILTERS, "--jobs", "1")
    assert done.returncode == 0, done.stderr
    data = vemla_chess_data.open_dataset(str(tmp_path / "one"))
    games = np.concatenate([np.asarray(data.games(s)) for s in range(len(data.names))])
    positions = np.concatenate([np.asarray(data.positions(s)) for s in range(len(data.names))])
    assert len(games) and (games["white_elo"] >= 1500).all() and (games["black_elo"] >= 1500).all()
    classes = {sources.time_class(str(t)) for t in games["time_control"]}
    assert classes <= {"blitz", "rapid"}
    # Every game of the corpus is kept or counted under a reason.
    assert len(games) + sum(data.index["rejected"].values()) == 3000
    assert data.index["rejected"]["filtered: rating"] > 0
    assert (positions["ply"] >= 4).all()
    played = sum(max(0, len(m) - 4) for m in kept_games_moves(games))
    assert 0.45 < len(positions) / played < 0.55
    unique = np.concatenate([np.asarray(data.unique(s)) for s in range(len(data.names))])
    keys = positions["key"]
    assert len(set(keys[unique].tolist())) == unique.sum() and set(keys[unique].tolist()) == set(keys.tolist())
    assert unique.sum() < len(unique)  # opening positions repeat
    assert sum(len(b["key"]) for b in data.batches(1000, seed=1)) == unique.sum()
    again = run_tool("pgn", tmp_path / "two", CORPUS, *FILTERS, "--jobs", "2")
    assert again.returncode == 0, again.stderr
    assert dataset_files(tmp_path / "two") == dataset_files(tmp_path / "one")


def kept_games_moves(games):
    """The mainline of each kept game, from the independent reading, by Site tag order."""
    expected = [json.loads(line) for line in (DATA / "pgn" / "expected.jsonl").read_text().splitlines()]
    by_players = {(e["headers"].get("White"), e["headers"].get("Black"), e["headers"].get("Site")): e["uci"]
                  for e in expected}
    offsets = sorted(int(o) for o in games["offset"])
    corpus = CORPUS.read_bytes()
    found = []
    for offset in offsets:
        header = corpus[offset:offset + 2000].decode("utf-8", "replace")
        site = header.split('[Site "', 1)[1].split('"', 1)[0]
        white = header.split('[White "', 1)[1].split('"', 1)[0]
        black = header.split('[Black "', 1)[1].split('"', 1)[0]
        found.append(by_players[(white, black, site)])
    return found


@needs_pgn
def test_compressed_inputs_give_the_shards_of_the_plain_file(corpus_set, tmp_path):
    """A compressed file is cut into the same ranges as its text, whatever
    decompresses it and whatever runs the tasks."""
    import bz2
    import gzip
    import lzma

    packers = {".gz": gzip.compress, ".bz2": bz2.compress, ".xz": lzma.compress}
    zstandard = optional_import("zstandard")
    if zstandard is not None:
        packers[".zst"] = zstandard.ZstdCompressor().compress
    want = {name: data for name, data in dataset_files(corpus_set).items() if name != "index.json"}
    assert len(want) > 6  # several shards
    text = CORPUS.read_bytes()
    for jobs, (suffix, pack) in enumerate(packers.items(), start=1):
        packed = tmp_path / f"corpus.pgn{suffix}"
        packed.write_bytes(pack(text))
        done = run_tool("pgn", tmp_path / suffix, packed, "--range-mb", "1", "--jobs", 1 + jobs % 2)
        assert done.returncode == 0, done.stderr
        got = dataset_files(tmp_path / suffix)
        index = json.loads(got.pop("index.json"))
        assert got == want, suffix
        assert index["sources"][0]["text_size"] == len(text)
    # Resumed with shards missing: the decompressor passes over the whole ones.
    for name in ("shard-00000", "shard-00002"):
        shards.shutil.rmtree(tmp_path / ".gz" / name)
    done = run_tool("pgn", tmp_path / ".gz", tmp_path / "corpus.pgn.gz", "--range-mb", "1", "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert "2 shards written" in done.stdout and "measuring" not in done.stderr
    got = dataset_files(tmp_path / ".gz")
    got.pop("index.json")
    assert got == want


def test_stream_ranges_cut_as_the_plain_file_is_cut(tmp_path):
    """Ranges of a decompressed stream equal the plain file's, boundaries in
    odd places included: blank lines with spaces, a start right at a
    boundary, a game larger than a range, ranges asked for with gaps."""
    import gzip

    games = []
    rng = random.Random(3)
    for k in range(400):
        gap = rng.choice(["\n\n", "\n \t\n", "\n\r\n  ", "\n\n\n"])
        body = " ".join(["e4"] * rng.choice([1, 5, 3000]))
        games.append(f'[Event "{k}"]\n\n1. {body} *{gap}')
    text = "".join(games).encode()
    plain, packed = tmp_path / "g.pgn", tmp_path / "g.pgn.gz"
    plain.write_bytes(text)
    packed.write_bytes(gzip.compress(text))
    for step in (97, 4093, 65536, 200_003):
        bounds = [(start, min(len(text), start + step)) for start in range(0, len(text), step)]
        stream = sources.StreamRanges(str(packed))
        for number, (start, end) in enumerate(bounds):
            if number % 3 == 1:
                continue
            assert stream.range(start, end) == sources.read_range(str(plain), start, end), (step, start)
        stream.close()
    assert sources.text_size(str(packed)) == len(text)


def test_history_planes_hold_the_positions_before(gen, selfplay_set):
    data = vemla_chess_data.open_dataset(str(selfplay_set))
    batch = next(data.batches(64, seed=5))
    stacked = data.history_planes(batch, history=4, view="mover")
    assert stacked.shape == (64, 12 * 4 + 8, 8, 8)
    current = vemla_chess_data.planes(batch, view="mover")
    assert np.array_equal(stacked[:, :12], current[:, :12]) and np.array_equal(stacked[:, 48:], current[:, 12:])
    for i in range(64):
        positions = data.positions(int(batch["shard"][i]))
        row, ply = int(batch["row"][i]), int(batch["ply"][i])
        for step in range(1, 4):
            frame = stacked[i, 12 * step:12 * step + 12]
            if ply < step:
                assert not frame.any()
                continue
            earlier = {name: positions[row - step:row - step + 1][name] for name in ("pieces",)}
            expected = vemla_chess_data.piece_planes(earlier["pieces"])[0]
            if batch["white_to_move"][i] == 0:
                expected = np.concatenate([expected[6:], expected[:6]])[:, ::-1, :]
            assert np.array_equal(frame, expected), (i, step)


@needs_pgn
def test_a_truncated_compressed_file_is_refused_in_one_line(tmp_path):
    import gzip

    packed = tmp_path / "cut.pgn.gz"
    packed.write_bytes(gzip.compress(CORPUS.read_bytes())[:200_000])
    done = run_tool("pgn", tmp_path / "out", packed, "--jobs", "1")
    assert done.returncode == 2, done.stderr
    assert "cut.pgn.gz: cannot be decompressed: EOFError" in done.stderr and "Traceback" not in done.stderr
