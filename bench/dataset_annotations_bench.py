"""The dataset tool's shard task on games with and without evals and clocks:
positions per CPU second of one process.

    tools/python bench/dataset_annotations_bench.py [--copies 3] [--rounds 10] [--keep DIR]

Makes two inputs from tests/data/pgn/corpus.pgn: plain.pgn (the corpus's
games, mainline moves and tags only: no comment, NAG or variation) and
annotated.pgn (the same games with an [%eval] and a [%clk] after every move,
one eval in 40 a mate), each the games repeated --copies times. Both hold the
same positions. Then it runs the task that builds one shard (read, filter,
encode, write with fsync) over each whole file, alternating, --rounds times,
and prints the best CPU time of this process for each: CPU time, unlike wall
time, hardly depends on what else the machine runs. --keep DIR writes the
inputs there and keeps them (to run bench/dataset_bench.py --input on them).
"""

import argparse
import os
import random
import shutil
import tempfile
import time

from vemla_chess import MoveGenerator
from vemla_chess_data import sources

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def annotations(count, rng):
    """Evals and clocks for a game of count moves: a drifting eval, a mate
    now and then, and both clocks running down from ten minutes."""
    evals, clocks, value, left = [], [], rng.uniform(-0.5, 0.5), [600.0, 600.0]
    for ply in range(count):
        value += rng.gauss(0, 0.3)
        evals.append(f"#{rng.choice((-1, 1)) * rng.randint(1, 9)}" if rng.random() < 0.025 else round(value, 2))
        left[ply % 2] = max(0.0, left[ply % 2] - rng.randint(0, 12))
        clocks.append(left[ply % 2])
    return evals, clocks


def write_inputs(out_dir, copies, seed=0):
    """(plain path, annotated path, games) of the two inputs in out_dir."""
    generator, rng = MoveGenerator(), random.Random(seed)
    plain, annotated = [], []
    with open(os.path.join(ROOT, "tests", "data", "pgn", "corpus.pgn"), "rb") as source:
        for game in generator.read_pgn(source):
            if game.error is not None or not game.moves:
                continue
            moves = list(game.moves)
            plain.append(generator.pgn(moves, headers=game.tags, fen=game.fen, result=game.result))
            evals, clocks = annotations(len(moves), rng)
            annotated.append(generator.pgn(moves, headers=game.tags, fen=game.fen, result=game.result,
                                           evals=evals, clocks=clocks))
    paths = []
    for name, texts in (("plain.pgn", plain), ("annotated.pgn", annotated)):
        path = os.path.join(out_dir, name)
        with open(path, "w") as f:
            for _ in range(copies):
                for text in texts:
                    f.write(text)
                    f.write("\n\n")
        paths.append(path)
    return paths[0], paths[1], len(plain) * copies


FILTERS = dict(min_elo=None, elo_of="both", time_classes=None, tag_equals=[], tag_contains=[], skip_plies=0,
               sample=1.0, seed=0, dedup=False)


def shard_cpu(path, work):
    """(CPU seconds, positions) of the shard task over the whole file."""
    out = tempfile.mkdtemp(dir=work)
    try:
        start = time.process_time()
        entry = sources.pgn_shard(out, "shard-00000", 0, path, 0, None, FILTERS)
        return time.process_time() - start, entry["positions"]
    finally:
        shutil.rmtree(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--copies", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--keep", metavar="DIR", help="write the inputs here and keep them")
    args = parser.parse_args()
    print(f"load: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    work = tempfile.mkdtemp(prefix="annotations-bench-")
    try:
        where = args.keep or work
        os.makedirs(where, exist_ok=True)
        inputs = write_inputs(where, args.copies)[:2]
        best = {path: float("inf") for path in inputs}
        for path in inputs:
            print(f"{os.path.basename(path)}: {os.path.getsize(path) / 1e6:.1f} MB")
        for _ in range(args.rounds):
            for path in inputs:
                seconds, positions = shard_cpu(path, work)
                best[path] = min(best[path], seconds)
        for path in inputs:
            print(f"{os.path.basename(path)}: {positions} positions, best CPU {best[path]:.3f} s: "
                  f"{positions / best[path]:,.0f} positions per CPU second")
        plain, annotated = inputs
        print(f"annotated / plain: {best[plain] / best[annotated]:.2f}x the speed")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
