"""Engine labels for every position of a dataset: score, WDL and best move.

    vemla-dataset label DATASET --engine /usr/games/stockfish --nodes 1000 [--multipv K]

The labels live beside the shards, which they leave as they are:

    DATASET/labels/NAME/labels.json            the settings, and per shard the size
                                               and CRC-32 of the positions.npy its
                                               labels belong to and of its own files
    DATASET/labels/NAME/shard-00000/labels.npy one record per position, in the
                                   shard.json  order of positions.npy; its entry

A label shard is written like a dataset shard (a temporary folder renamed into
place once synced), so it is whole or absent; a run that resumes keeps the
label shards that match their checksums and the shard they were made from,
and labels the rest again.

Each worker process runs one engine with one thread and a node limit, and
each shard is analysed from a new game (ucinewgame: a cleared hash and
history) in file order, or with --new-game position from a new game before
every position. Either way a shard's labels depend on its positions and the
settings only, not on the worker, the number of jobs or the cluster.
"""

import contextlib
import os
import shutil
import sys
import time

from . import records, shards
from .pool import WORKER_STATE, TaskFailed, worker_state

LABELS_DIR = "labels"
LABEL_INDEX = "labels.json"
LABEL_FILE = "labels.npy"
LABEL_FORMAT = 1
DEFAULT_NAME = "engine"
# The flags of a line: it exists, it has a WDL estimate, its score is only a bound.
LINE, HAS_WDL, BOUND = 1, 2, 4
NEW_GAME = ("shard", "position")
# Seconds an engine may take to start and to answer anything but a search.
START_TIMEOUT = 30.0
PIECE_LETTERS = b"PNBRQKpnbrqk1"
PROMOTIONS = {"n": 4, "b": 5, "r": 6, "q": 7}


class LabelFailed(Exception):
    """A shard could not be labelled: "shard-00003, row 17 (FEN): what the engine did"."""


def label_dtype(multipv=1):
    """The numpy dtype of one position's labels: every field but nodes holds
    one value per line (a scalar for multipv=1, else `multipv` values, best
    line first)."""
    import numpy as np

    line = () if multipv == 1 else (multipv,)
    return np.dtype([
        ("score", "<i4", line),           # from the side to move: centipawns, or for a mate +-(100000 - moves)
        ("mate", "<i2", line),            # moves to mate from the side to move (negative: mated); 0: no mate
        ("wdl", "<u2", line + (3,)),      # win, draw, loss in permille from the side to move; 0s: none given
        ("best_move", "<u2", line),       # the line's first move, coded as the records' move field
        ("best_lc0", "<u2", line),        # its lc0 policy index
        ("best_alphazero", "<u2", line),  # its alphazero policy index
        ("depth", "<u2", line),           # the depth the score comes from
        ("flags", "u1", line),            # LINE 1 (there is a line), HAS_WDL 2, BOUND 4 (the score is a bound)
        ("nodes", "<u4"),                 # the nodes the search visited
    ])


def label_root(dataset, name):
    return os.path.join(dataset, LABELS_DIR, name)


# ---- the worker side -------------------------------------------------------------------------------

def board_fens(positions):
    """The full FEN of every record of a positions array (pieces, side,
    castling, en passant and both counters), built for the whole array at once."""
    import numpy as np

    n = len(positions)
    if n == 0:
        return []
    pieces = np.ascontiguousarray(positions["pieces"], dtype="<u8")
    bits = np.unpackbits(pieces.view(np.uint8).reshape(n, 12, 8), axis=2, bitorder="little").reshape(n, 12, 64)
    which = np.where(bits.any(axis=1), bits.argmax(axis=1), 12)
    letters = np.frombuffer(PIECE_LETTERS, np.uint8)[which].reshape(n, 8, 8)[:, ::-1, :]
    rows = np.full((n, 8, 9), ord("/"), np.uint8)
    rows[:, :, :8] = letters
    rows[:, 7, 8] = ord("\n")
    # Runs of empty squares ("1"s) become their length, all positions at once:
    # a run never crosses a "/" or a line break.
    text = rows.tobytes().decode()
    for run in range(8, 1, -1):
        text = text.replace("1" * run, str(run))
    placements = text.split("\n")
    white = positions["white_to_move"].tolist()
    castling = (positions["castling"] & 15).tolist()
    ep = positions["en_passant"].tolist()
    clocks, numbers = positions["halfmove_clock"].tolist(), positions["fullmove_number"].tolist()
    rights = ["".join(c for k, c in enumerate("KQkq") if mask >> k & 1) or "-" for mask in range(16)]
    squares = [f"{'abcdefgh'[s % 8]}{s // 8 + 1}" for s in range(64)]
    fens = [f"{placements[i]} {'w' if white[i] else 'b'} {rights[castling[i]]} "
            f"{squares[ep[i]] if 0 <= ep[i] < 64 else '-'} {clocks[i]} {numbers[i]}" for i in range(n)]
    return fens


def chess960_rows(games, count):
    """Which of count records belong to Chess960 games, by the games table's
    variant (a dataset made before Chess960 has none). Their castling rights
    are the outermost rooks', as X-FEN's KQkq reads."""
    import numpy as np

    rows = np.zeros(count, dtype=bool)
    if "variant" in (games.dtype.names or ()):
        for game in games[games["variant"] == "chess960"]:
            rows[game["first"]:game["first"] + game["positions"]] = True
    return rows


def analysable(positions):
    """Which records an engine can be given: one king of each side, no pawn
    on the first or last rank (Stockfish may crash on anything else). The
    side not to move in check is tested on the boards (analysable_board)."""
    import numpy as np

    pieces = np.asarray(positions["pieces"], dtype=np.uint64)
    kings = np.ones(len(positions), dtype=bool)
    for index in (5, 11):
        board = pieces[:, index]
        kings &= (board != 0) & ((board & (board - np.uint64(1))) == 0)
    edges = np.uint64(0xFF000000000000FF)
    return kings & ((pieces[:, 0] | pieces[:, 6]) & edges == 0)


def analysable_board(generator, Board, fen, chess960=False):
    """Whether the side not to move is out of check (else the position cannot arise)."""
    words = fen.split(" ")
    words[1] = "b" if words[1] == "w" else "w"
    words[3] = "-"
    return not generator.is_check(Board.from_full_fen(" ".join(words), chess960=chess960))


def move_code(text):
    """A move text as the records code moves: from + 64 x to + 4096 x promotion (4 n, 5 b, 6 r, 7 q)."""
    source = ord(text[0]) - 97 + 8 * (ord(text[1]) - 49)
    target = ord(text[2]) - 97 + 8 * (ord(text[3]) - 49)
    return source | target << 6 | (PROMOTIONS.get(text[4:5], 0) << 12)


def start_engine(command, hash_mb, options, timeout):
    """An Engine with one thread, `hash_mb` of hash (where it has those
    options) and the user's options; ValueError for an option it refuses."""
    from .engine import Engine

    engine = Engine(command, timeout=max(timeout, START_TIMEOUT))
    try:
        listed = {name.lower() for name in engine.options}
        wanted = {name: value for name, value in (("Threads", 1), ("Hash", hash_mb)) if name.lower() in listed}
        wanted.update(options)
        if wanted:
            engine.configure(wanted)
    except BaseException:
        engine.close()
        raise
    return engine


def worker_engine(command, hash_mb, options, timeout):
    """This process's engine for these settings, started on first use and
    kept for the next tasks (one engine per worker process)."""
    state = worker_state()
    key = (tuple(command), hash_mb, tuple(sorted(options.items())), timeout)
    held = getattr(state, "engine", None)
    if held is not None and held[0] != key:
        held[1].close()
        held = None
    if held is None:
        state.engine = None
        held = state.engine = (key, start_engine(command, hash_mb, options, timeout))
    return held[1]


def close_worker_engine():
    """Closes this process's engine, if it holds one."""
    state = sys.modules.get(WORKER_STATE)
    held = getattr(state, "engine", None) if state is not None else None
    if held is not None:
        state.engine = None
        held[1].close()


def probe_engine(command, hash_mb, options, timeout):
    """Task: starts (or finds) the worker's engine; returns its name."""
    from .engine import EngineError

    try:
        return worker_engine(command, hash_mb, options, timeout).name
    except (EngineError, ValueError) as error:
        raise LabelFailed(str(error)) from None


def label_shard(dataset, name, shard, source, command, settings):
    """Task: analyses every position of `shard` and writes its labels as the
    label shard of the same name; returns its entry. `source` is the (size,
    CRC-32) of the positions.npy the labels belong to."""
    import numpy as np

    from .engine import EngineError

    state = worker_state()
    generator, Board = state.generator, state.vemla_chess.Board
    nodes, multipv, per_position = settings["nodes"], settings["multipv"], settings["new_game"] == "position"
    timeout = settings["timeout"]
    try:
        engine = worker_engine(command, settings["hash"], settings["options"], settings["timeout"])
    except (EngineError, ValueError) as error:
        raise LabelFailed(f"{shard}: {error}") from None
    positions = np.load(os.path.join(dataset, shard, records.POSITIONS_FILE), mmap_mode="r")
    if positions.dtype != records.position_dtype():
        raise LabelFailed(f"{shard}: {records.POSITIONS_FILE} holds records of another layout")
    out = np.zeros(len(positions), dtype=label_dtype(multipv))
    columns = {field: out[field] for field in out.dtype.names}
    fens = board_fens(positions)
    usable = analysable(positions)
    chess960 = chess960_rows(np.load(os.path.join(dataset, shard, records.GAMES_FILE)), len(positions)).tolist()
    skipped = 0
    row, fen = 0, None
    try:
        engine.new_game()
        for row, fen in enumerate(fens):
            board = Board.from_full_fen(fen, chess960=chess960[row])
            if not (usable[row] and analysable_board(generator, Board, fen, chess960[row])):
                skipped += 1
                continue
            if per_position and row:
                engine.new_game()
            found = engine.analyse(board, nodes=nodes, multipv=multipv, timeout=timeout)
            lines = [found] if multipv == 1 else found
            columns["nodes"][row] = min(lines[0].nodes or 0, 0xFFFFFFFF)
            for rank, line in enumerate(lines[:multipv]):
                where = row if multipv == 1 else (row, rank)
                score = line.score
                flags = LINE
                columns["score"][where] = max(-2**31, min(2**31 - 1, score.value))
                columns["mate"][where] = score.mate or 0
                if line.wdl is not None:
                    columns["wdl"][where] = line.wdl
                    flags |= HAS_WDL
                if line.bound != "exact":
                    flags |= BOUND
                move = line.move
                if move is not None:
                    columns["best_move"][where] = move_code(move)
                    columns["best_lc0"][where] = generator.policy_index(board, move, "lc0")
                    columns["best_alphazero"][where] = generator.policy_index(board, move, "alphazero")
                columns["depth"][where] = min(line.depth or 0, 0xFFFF)
                columns["flags"][where] = flags
    except EngineError as error:
        raise LabelFailed(f"{shard}, row {row} ({fen}): {error}") from None
    entry = dict(name=shard, positions=len(out), source=list(source), engine=engine.name, skipped=skipped)
    folder = label_root(dataset, name)
    return shards.write_shard(folder, shard, {LABEL_FILE: out}, entry)


# ---- the run ---------------------------------------------------------------------------------------

def check_links(dataset, name):
    """DatasetError if the labels folder, the label set or a name in it is a symbolic link."""
    for path in (os.path.join(dataset, LABELS_DIR), label_root(dataset, name)):
        if os.path.islink(path):
            raise shards.DatasetError(f"{path} is a symbolic link; the dataset tool writes only inside "
                                      f"{dataset} and follows no link there: put what it points to in its "
                                      "place, or use another folder")
        if os.path.exists(path) and not os.path.isdir(path):
            raise shards.DatasetError(f"{path} is not a folder; remove it, or use another --name")
    folder = label_root(dataset, name)
    if os.path.isdir(folder):
        shards.refuse_links(folder)
        index = os.path.join(folder, LABEL_INDEX)
        if os.path.islink(index) or (os.path.exists(index) and not os.path.isfile(index)):
            raise shards.DatasetError(f"{index} is a symbolic link or not a regular file; remove it")


def read_label_index(folder):
    import json

    path = os.path.join(folder, LABEL_INDEX)
    if not os.path.exists(path):
        return None
    try:
        with open(path) as f:
            return json.load(f)
    except ValueError as error:
        raise shards.DatasetError(f"{path} cannot be read ({error}); move the folder aside and label again") \
            from None


def remove_temporaries(folder):
    removed = shards.remove_temporaries(folder)
    for entry in os.listdir(folder):
        if entry.startswith(LABEL_INDEX) and entry.endswith(".tmp"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(folder, entry))
            removed += 1
    return removed


def check_dataset(dataset, index):
    """The dataset's shards, each checked against its index; DatasetError naming the broken ones."""
    problems = []
    for shard in sorted(index.get("shards", {})):
        problem = shards.check_shard(dataset, shard, index["shards"][shard])
        if problem is not None:
            problems.append(f"{shard}: {problem}")
    if problems:
        raise shards.DatasetError(f"{dataset} has broken shards ({'; '.join(problems)}); run the command that "
                                  "made the dataset again to rebuild them, then label it")
    return sorted(index.get("shards", {}))


def check_labels(dataset, folder, label_index, names, source_of, report):
    """Which shards have whole labels made from their present positions;
    removes label shards that are broken or stale, adopts whole ones that a
    run stopped before recording. Returns the names done."""
    done = set()
    wanted = set(names)
    for entry in sorted(os.listdir(folder)):
        if entry.startswith("shard-") and entry not in wanted:
            report(f"{LABELS_DIR}/{os.path.basename(folder)}/{entry}: the dataset has no such shard; left alone")
    for shard in names:
        entry = label_index["shards"].get(shard)
        found = os.path.isdir(os.path.join(folder, shard))
        if entry is None and found:
            entry = shards.shard_manifest(folder, shard)
            problem = "has no readable record of its files" if entry is None else None
        elif entry is None:
            continue
        else:
            problem = None
        if problem is None and entry.get("source") != source_of[shard]:
            problem = "was made from another version of the shard"
        if problem is None:
            problem = shards.check_shard(folder, shard, entry)
        if problem is None and entry.get("engine") != label_index["settings"].get("engine"):
            problem = f"was made by engine {entry.get('engine')!r}"
        if problem is None:
            label_index["shards"][shard] = entry
            done.add(shard)
            continue
        report(f"labels of {shard}: {problem}; labelling it again")
        label_index["shards"].pop(shard, None)
        if found:
            shutil.rmtree(os.path.join(folder, shard))
    for shard in list(label_index["shards"]):
        if shard not in wanted:
            del label_index["shards"][shard]
    return done


def label_totals(label_index):
    label_index["positions"] = sum(e["positions"] for e in label_index["shards"].values())
    label_index["skipped"] = sum(e.get("skipped", 0) for e in label_index["shards"].values())
    return label_index


class Progress:
    """Shards and positions labelled, the rate and the time left, on standard
    error: one line kept up to date on a terminal, a line per shard otherwise."""

    def __init__(self, shards_total, positions_total, stream=None):
        self.shards_total, self.positions_total = shards_total, max(positions_total, 1)
        self.shards = self.positions = 0
        self.stream = stream or sys.stderr
        self.tty = self.stream.isatty()
        self.start = time.perf_counter()

    def line(self):
        elapsed = max(time.perf_counter() - self.start, 1e-9)
        done = self.positions / self.positions_total
        left = f"{elapsed * (1 - done) / done:,.0f} s left" if done > 0 else "time left unknown"
        return (f"{self.shards}/{self.shards_total} shards, {self.positions:,} of {self.positions_total:,} "
                f"positions labelled, {self.positions / elapsed:,.0f} positions/s, {left}")

    def shard(self, entry):
        self.shards += 1
        self.positions += entry["positions"]
        if self.tty:
            print("\r" + self.line() + "\033[K", end="", file=self.stream, flush=True)
        else:
            print(f"labels of {entry['name']} written; {self.line()}", file=self.stream, flush=True)

    def close(self):
        if self.tty and self.shards:
            print(file=self.stream)


def label_dataset(dataset, name, command, settings, pool_factory, report, progress_stream=None, on_shard=None):
    """Labels every shard of `dataset` that has no whole labels in label set
    `name`; returns (label index, shards written, shards found whole).

    `settings`: nodes, multipv, hash (MB), options ({name: value} for the
    engine), new_game ("shard" or "position"), timeout (seconds)."""
    if not os.path.isfile(os.path.join(dataset, records.INDEX)):
        raise shards.DatasetError(f"{dataset} holds no dataset (no {records.INDEX}); make one with "
                                  "vemla-dataset pgn or selfplay first")
    with shards.FolderLock(dataset):
        check_links(dataset, name)
        index = shards.read_index(dataset)
        names = check_dataset(dataset, index)
        source_of = {shard: index["shards"][shard]["files"][records.POSITIONS_FILE] for shard in names}
        folder = label_root(dataset, name)
        if os.path.isdir(folder) and remove_temporaries(folder):
            report("removed the unfinished files of a run that was stopped")
        stored = {key: settings[key] for key in ("nodes", "multipv", "hash", "options", "new_game")}
        label_index = read_label_index(folder)
        if label_index is not None:
            recorded = {key: value for key, value in label_index.get("settings", {}).items() if key != "engine"}
            if label_index.get("format") != LABEL_FORMAT or recorded != stored:
                raise shards.DatasetError(
                    f"{folder} holds labels made with other settings ({recorded}); use the same settings to "
                    "resume, or another --name")
        written, done, progress = [], set(), None
        try:
            with pool_factory() as pool:
                engine = next(iter(pool.run(probe_engine, [(command, settings["hash"], settings["options"],
                                                            settings["timeout"])])))[1]
                if label_index is None:
                    label_index = dict(format=LABEL_FORMAT, settings=dict(stored, engine=engine), shards={})
                elif label_index["settings"].get("engine") != engine:
                    raise shards.DatasetError(
                        f"{folder} holds labels made by engine {label_index['settings'].get('engine')!r}, and "
                        f"this engine is {engine!r}; use that engine to resume, or another --name")
                os.makedirs(folder, exist_ok=True)
                done = check_labels(dataset, folder, label_index, names, source_of, report)
                if done:
                    report(f"resuming: {len(done)} of {len(names)} shards are already labelled")
                shards.write_json_atomically(os.path.join(folder, LABEL_INDEX), label_totals(label_index))
                todo = [shard for shard in names if shard not in done]
                progress = Progress(len(todo), sum(index["shards"][shard]["positions"] for shard in todo),
                                    progress_stream)
                tasks = [(dataset, name, shard, source_of[shard], command, settings) for shard in todo]
                for position, entry in pool.run(label_shard, tasks):
                    shard = todo[position]
                    if entry.get("engine") != engine:
                        raise TaskFailed(f"{shard} was labelled by engine {entry.get('engine')!r}, the others "
                                          f"by {engine!r}: every worker must run the same engine")
                    label_index["shards"][shard] = entry
                    shards.write_json_atomically(os.path.join(folder, LABEL_INDEX), label_totals(label_index))
                    written.append(shard)
                    progress.shard(entry)
                    if on_shard:
                        on_shard(shard)
                client = getattr(pool, "client", None)
                if client is not None:
                    # The engines of a cluster's workers are not left running between runs.
                    with contextlib.suppress(Exception):
                        client.run(close_worker_engine)
        finally:
            close_worker_engine()
            if os.path.isdir(folder):
                remove_temporaries(folder)
            if progress is not None:
                progress.close()
        return label_index, written, len(done)


def run(args, report):
    """The label command of the dataset tool (tool.py parses its arguments)."""
    command = [args.engine]
    options = dict(args.option or [])
    settings = dict(nodes=args.nodes, multipv=args.multipv, hash=args.hash, options=options,
                    new_game=args.new_game, timeout=args.timeout)
    started = time.perf_counter()
    label_index, written, found = label_dataset(args.out_dir, args.name, command, settings,
                                                lambda: _open_pool(args), report)
    elapsed = time.perf_counter() - started
    new_positions = sum(label_index["shards"][shard]["positions"] for shard in written)
    folder = label_root(args.out_dir, args.name)
    skipped = label_index.get("skipped", 0)
    print(f"labels of {len(written)} shards written, {found} already there; {label_index['positions']} positions "
          f"labelled by {label_index['settings']['engine']} in {folder} ({new_positions / max(elapsed, 1e-9):,.0f} "
          f"positions/s in {elapsed:.1f} s)" + (f"; {skipped} positions no engine can be given were left "
                                                  "unlabelled" if skipped else ""))
    return 0


def _open_pool(args):
    from .pool import open_pool

    return open_pool(args.jobs, args.scheduler)
