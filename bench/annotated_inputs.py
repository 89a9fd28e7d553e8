"""The inputs of the annotation benchmarks, made from tests/data/pgn/corpus.pgn.

    tools/python bench/annotated_inputs.py OUT_DIR [--copies 10]

Writes OUT_DIR/plain.pgn (the corpus's games, mainline moves and tags only:
no comment, NAG or variation) and OUT_DIR/annotated.pgn (the same games with
an [%eval] and a [%clk] after every move, one eval in 40 a mate), each the
games repeated --copies times. The two hold the same positions, so a tool's
positions/s on them compares the cost of the annotations alone.
"""

import argparse
import os
import random

from vemla_chess import MoveGenerator

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--copies", type=int, default=10)
    args = parser.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    plain, annotated, games = write_inputs(args.out_dir, args.copies)
    for path in (plain, annotated):
        print(f"{path}: {os.path.getsize(path) / 1e6:.1f} MB, {games} games")


if __name__ == "__main__":
    main()
