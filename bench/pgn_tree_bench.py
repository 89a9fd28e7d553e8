"""Speed of read_pgn on a file with side variations, with and without the
game trees. Prints figures only.

    PYTHONPATH=build/python python3 bench/pgn_tree_bench.py [build-dir]

The bench file is tests/data/pgn/corpus.pgn (comments, NAGs and one level of
side variations) repeated until it holds at least 30,000 games, written to
<build-dir>/pgn_tree_bench.pgn (never committed). Figures: read_pgn in
games/s, each the best of a few runs in CPU time, for the plain reading (the
variations skipped), for variations=True (every game's tree built), and for
variations=True with every node visited from Python (move, SAN, comment, eval,
clock); then generator.pgn() writing the trees back, in games/s.
"""

import pathlib
import sys
import time

import vemla_chess

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "tests" / "data" / "pgn" / "corpus.pgn"
GAMES = 30_000
RUNS = 3


def bench_file(build):
    path = build / "pgn_tree_bench.pgn"
    base = CORPUS.read_bytes()
    per_copy = base.count(b"[Event ")
    copies = -(-GAMES // per_copy)
    content = (base.rstrip() + b"\n\n") * copies
    if not path.exists() or path.read_bytes() != content:
        path.write_bytes(content)
    return path, per_copy * copies


def best(run):
    times = []
    for _ in range(RUNS):
        start = time.process_time()
        run()
        times.append(time.process_time() - start)
    return min(times)


def visit(game):
    """Every node of the game's tree, without recursion."""
    pending = [game.tree]
    while pending:
        node = pending.pop()
        node.move, node.san, node.comment, node.eval, node.clock
        pending.extend(node.children)


def main():
    build = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build"
    path, games = bench_file(build)
    generator = vemla_chess.MoveGenerator()
    has_tree = "variations" in (vemla_chess.MoveGenerator.read_pgn.__text_signature__ or "")

    def plain():
        for _ in generator.read_pgn(str(path)):
            pass

    seconds = best(plain)
    print(f"read_pgn, variations skipped:      {games / seconds:10,.0f} games/s")
    if not has_tree:
        print("(this build has no variations=True)")
        return

    def trees():
        for _ in generator.read_pgn(str(path), variations=True):
            pass

    seconds = best(trees)
    print(f"read_pgn(variations=True):         {games / seconds:10,.0f} games/s")

    def visited():
        for game in generator.read_pgn(str(path), variations=True):
            visit(game)

    seconds = best(visited)
    print(f"  and every node visited:          {games / seconds:10,.0f} games/s")

    read = list(generator.read_pgn(str(path), variations=True))[:5000]

    def written():
        for game in read:
            generator.pgn(game)

    seconds = best(written)
    print(f"pgn() of a game with its tree:     {len(read) / seconds:10,.0f} games/s")


if __name__ == "__main__":
    main()
