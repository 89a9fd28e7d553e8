"""Self-play datasets: random games written as shards of .npz files.

    selfplay.py OUT_DIR [--games N] [--seed S] [--games-per-shard G] [--max-plies P]
                        [--jobs N | --scheduler ADDRESS]

Plays N games of uniformly sampled legal moves from the starting position, on
one worker process per core (--jobs N to choose, --jobs 1 for this process
alone) or on a Dask cluster (--scheduler tcp://HOST:8786, or local), and
writes them to OUT_DIR as shard-00000.npz, shard-00001.npz, ..., G games each.
Game g is played from its own generator seeded by (S, g), so the same seed
gives the same shards, byte for byte, whatever runs them.

A game ends in checkmate, stalemate, insufficient material, the third
occurrence of a position, or after P plies. A shard holds, for each position in
which a move was chosen, in game order:

    planes   uint8 (positions, 12, 8, 8)  piece planes P N B R Q K p n b r q k,
                                          [plane][rank][file], rank 1 first
    moves    str (positions,)             the move played from the position
    fens     str (positions,)             the position
    game     int64 (positions,)           the game it belongs to
    ply      int32 (positions,)           its ply in that game
and for each of its games:
    games    int64 (games,)               game numbers
    results  str (games,)                 checkmate, stalemate, insufficient_material,
                                          threefold_repetition or ply_cap
    winners  str (games,)                 white or black after checkmate, else ""
    plies    int32 (games,)               moves played

A shard is written under a temporary name and renamed when complete, so after
an interruption the same command goes on from the first missing shard.
OUT_DIR/dataset.json records the settings; a run with other settings is refused.
"""

import argparse
import collections
import json
import os
import random
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from task_pool import (TaskFailed, chess_call, check_pool_arguments, open_pool,  # noqa: E402
                       worker_generator, worker_module)

RESULTS = ("checkmate", "stalemate", "insufficient_material", "threefold_repetition", "ply_cap")
# Games per task: small enough to spread a shard over the workers and report
# progress often, large enough that shipping a task costs little beside it.
GAMES_PER_TASK = 8
MANIFEST = "dataset.json"
# A fixed time stamp for the members of a shard, so that equal shards are equal files.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def game_rng(seed, game):
    """The random generator of one game: a function of the seed and the game number only."""
    return random.Random(f"vemla-selfplay/{seed}/{game}")


def play_games(seed, first, count, max_plies):
    """Worker side: plays games first .. first+count-1; returns plain Python data (see `Chunk`)."""
    vemla_chess = worker_module()
    generator = worker_generator()
    planes, moves, fens, game_of, ply_of, results, winners, plies = [], [], [], [], [], [], [], []
    for game in range(first, first + count):
        rng = game_rng(seed, game)
        board = vemla_chess.Board()
        ply = 0
        while True:
            result = chess_call(generator.outcome, board)
            if result is None and board.repetitions() >= 3:
                result = "threefold_repetition"
            if result is None and ply >= max_plies:
                result = "ply_cap"
            if result is not None:
                break
            legal = generator(board)
            planes.append(board.bitboard_bytes())
            fens.append(board.fen())
            move = legal[rng.randrange(len(legal))]
            chess_call(board.push, move)
            moves.append(move)
            game_of.append(game)
            ply_of.append(ply)
            ply += 1
        results.append(result)
        # After checkmate the side to move has lost.
        winners.append(("black" if board.turn() == "white" else "white") if result == "checkmate" else "")
        plies.append(ply)
    return dict(planes=b"".join(planes), moves=moves, fens=fens, game=game_of, ply=ply_of,
                games=list(range(first, first + count)), results=results, winners=winners, plies=plies)


def shard_arrays(chunks):
    """The arrays of one shard from its chunks, in game order."""
    import numpy as np

    joined = collections.defaultdict(list)
    for chunk in chunks:
        for name, value in chunk.items():
            if name == "planes":
                joined[name].append(value)
            else:
                joined[name].extend(value)
    planes = np.frombuffer(b"".join(joined["planes"]), dtype=np.uint8).reshape(-1, 12, 8, 8)

    def text(values):
        # An empty list would get a float array; keep it a text array.
        return np.array(values, dtype=str) if values else np.zeros(0, dtype="<U1")

    return {
        "planes": planes,
        "moves": text(joined["moves"]),
        "fens": text(joined["fens"]),
        "game": np.array(joined["game"], dtype=np.int64),
        "ply": np.array(joined["ply"], dtype=np.int32),
        "games": np.array(joined["games"], dtype=np.int64),
        "results": text(joined["results"]),
        "winners": text(joined["winners"]),
        "plies": np.array(joined["plies"], dtype=np.int32),
    }


def write_npz_atomically(path, arrays):
    """Writes arrays as an .npz file (what numpy.load reads) that appears whole or not at all."""
    import numpy as np

    temporary = os.path.join(os.path.dirname(path), f".{os.path.basename(path)}.{os.getpid()}.tmp")
    try:
        with zipfile.ZipFile(temporary, "w", compression=zipfile.ZIP_DEFLATED) as archive:
            for name, array in arrays.items():
                info = zipfile.ZipInfo(name + ".npy", date_time=ZIP_TIME)
                info.compress_type = zipfile.ZIP_DEFLATED
                with archive.open(info, "w", force_zip64=True) as member:
                    np.lib.format.write_array(member, array, allow_pickle=False)
        with open(temporary, "rb") as written:
            os.fsync(written.fileno())
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise
    directory = os.open(os.path.dirname(path) or ".", os.O_RDONLY)
    try:
        os.fsync(directory)
    finally:
        os.close(directory)


def shard_path(out_dir, shard):
    return os.path.join(out_dir, f"shard-{shard:05d}.npz")


def prepare(out_dir, settings):
    """Creates or checks OUT_DIR and its manifest; removes temporary files of an interrupted run."""
    os.makedirs(out_dir, exist_ok=True)
    manifest = os.path.join(out_dir, MANIFEST)
    if os.path.exists(manifest):
        with open(manifest) as f:
            recorded = json.load(f)
        if recorded != settings:
            raise SystemExit(f"{out_dir} holds a dataset made with other settings ({recorded}); "
                             "use another directory or the same settings")
    else:
        temporary = manifest + ".tmp"
        with open(temporary, "w") as f:
            json.dump(settings, f, indent=1, sort_keys=True)
            f.write("\n")
        os.replace(temporary, manifest)
    for name in os.listdir(out_dir):
        if name.startswith(".shard-") and name.endswith(".tmp"):
            os.remove(os.path.join(out_dir, name))


def generate(pool, out_dir, seed, games, games_per_shard, max_plies, on_shard=None, on_task=None):
    """Plays the games that are not in OUT_DIR yet on `pool` and writes their shards.

    on_task(games, positions) is called after each finished task with its
    counts, on_shard(shard) after each shard written. Returns the shards written."""
    settings = dict(seed=seed, games=games, games_per_shard=games_per_shard, max_plies=max_plies)
    prepare(out_dir, settings)
    shards = -(-games // games_per_shard)
    missing = [s for s in range(shards) if not os.path.exists(shard_path(out_dir, s))]
    tasks, shard_of, left = [], [], collections.Counter()
    for shard in missing:
        end = min(games, (shard + 1) * games_per_shard)
        for first in range(shard * games_per_shard, end, GAMES_PER_TASK):
            tasks.append((seed, first, min(GAMES_PER_TASK, end - first), max_plies))
            shard_of.append(shard)
            left[shard] += 1
    chunks = collections.defaultdict(dict)
    written = []
    for index, chunk in pool.run(play_games, tasks):
        shard = shard_of[index]
        chunks[shard][tasks[index][1]] = chunk
        if on_task:
            on_task(len(chunk["games"]), len(chunk["moves"]))
        left[shard] -= 1
        if left[shard] == 0:
            done = chunks.pop(shard)
            ordered = [done[first] for first in sorted(done)]
            write_npz_atomically(shard_path(out_dir, shard), shard_arrays(ordered))
            written.append(shard)
            if on_shard:
                on_shard(shard)
    return written


class Progress:
    """Games done and positions per second, on standard error: a line kept up
    to date on a terminal, a line per shard otherwise."""

    def __init__(self, games_before, games):
        self.games_done, self.games = games_before, games
        self.positions = 0
        self.start = time.perf_counter()
        self.tty = sys.stderr.isatty()

    def line(self):
        rate = self.positions / max(time.perf_counter() - self.start, 1e-9)
        return f"{self.games_done}/{self.games} games, {self.positions} positions, {rate:,.0f} positions/s"

    def task(self, games, positions):
        self.games_done += games
        self.positions += positions
        if self.tty:
            print("\r" + self.line(), end="", file=sys.stderr, flush=True)

    def shard(self, shard):
        if not self.tty:
            print(f"shard {shard} written; {self.line()}", file=sys.stderr, flush=True)

    def close(self):
        if self.tty:
            print(file=sys.stderr)


def main(argv):
    parser = argparse.ArgumentParser(prog="selfplay.py", description=__doc__.splitlines()[0])
    parser.add_argument("out_dir", metavar="OUT_DIR")
    parser.add_argument("--games", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--games-per-shard", type=int, default=100)
    parser.add_argument("--max-plies", type=int, default=400)
    parser.add_argument("--jobs", type=int, metavar="N",
                        help="worker processes (default: one per core; 1: play in this process)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="play on a Dask cluster: tcp://HOST:PORT, or 'local' for a LocalCluster of --jobs workers")
    args = parser.parse_args(argv)
    for name in ("games", "games_per_shard"):
        if getattr(args, name) < 1:
            parser.error(f"--{name.replace('_', '-')} must be at least 1")
    if args.max_plies < 0:
        parser.error("--max-plies must not be negative")
    check_pool_arguments(parser, args)
    try:
        import numpy  # noqa: F401  the shards are numpy arrays
    except ImportError:
        raise SystemExit(f"selfplay.py needs numpy, which {sys.executable} cannot import: run it with "
                         "tools/python (Debian's python3; apt-get install python3-numpy), or pip install "
                         "numpy for this interpreter")

    prepare(args.out_dir, dict(seed=args.seed, games=args.games, games_per_shard=args.games_per_shard,
                               max_plies=args.max_plies))
    shards = -(-args.games // args.games_per_shard)
    done_before = sum(min(args.games, (s + 1) * args.games_per_shard) - s * args.games_per_shard
                      for s in range(shards) if os.path.exists(shard_path(args.out_dir, s)))
    progress = Progress(done_before, args.games)
    try:
        with open_pool(args.jobs, args.scheduler) as pool:
            progress.start = time.perf_counter()
            written = generate(pool, args.out_dir, args.seed, args.games, args.games_per_shard, args.max_plies,
                               on_shard=progress.shard, on_task=progress.task)
    except TaskFailed as error:
        progress.close()
        print(f"self-play failed: {error}", file=sys.stderr)
        return 1
    except OSError as error:  # a full disk, say: the shards written before it are complete
        progress.close()
        print(f"self-play failed: cannot write to {args.out_dir}: {error.strerror or error}; the shards "
              "written so far are complete, "
              "and the same command goes on from them", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        progress.close()
        print("interrupted; run the same command again to go on", file=sys.stderr)
        return 130
    progress.close()
    elapsed = time.perf_counter() - progress.start
    print(f"{len(written)} shards written, {shards - len(written)} already there; "
          f"{progress.games_done - done_before} games, {progress.positions} positions in {elapsed:.1f} s "
          f"({progress.positions / max(elapsed, 1e-9):,.0f} positions/s) to {args.out_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
