"""Perft through the vemla_chess module: counts the leaf nodes of the move tree.

    perft.py [--jobs N | --scheduler ADDRESS] [FEN] [depth]

Prints the count below each legal move of the position, the total, the time
taken and the nodes per second. Defaults to the starting position at depth 6.

The tree is cut into tasks (the root moves, or the positions one or two plies
further down when that gives too few tasks for the workers) that run on one
worker process per core, or on --jobs N of them; --jobs 1 counts in this
process. --scheduler tcp://HOST:8786 runs the tasks on a Dask cluster and
--scheduler local on a Dask LocalCluster started here. Every way gives the
same counts.

Imported, it offers `perft` (the plain recursive count, used by the tests and
benchmarks too) and `divide` (the count per root move through a task pool).
"""

import argparse
import collections
import os
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from task_pool import (TaskFailed, chess_call, check_pool_arguments, open_pool,  # noqa: E402
                       worker_generator, worker_module)

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
DEFAULT_DEPTH = 6
# The tree is split until there are this many tasks per worker, so that the
# last tasks to finish are short and no worker waits long for the others.
TASKS_PER_WORKER = 16
# At most this many plies are expanded in the parent, and only while every
# task keeps at least MIN_TASK_DEPTH plies of counting to do.
MAX_SPLIT_PLIES = 3
MIN_TASK_DEPTH = 4


def perft(generator, board, depth):
    """The number of leaf nodes `depth` plies below the board's position.

    The board ends as it started."""
    moves = generator(board)
    if depth <= 1:
        return len(moves) if depth == 1 else 1
    nodes = 0
    for move in moves:
        board.push(move)
        nodes += perft(generator, board, depth - 1)
        board.pop()
    return nodes


def split(generator, board, depth, min_tasks, min_task_depth=MIN_TASK_DEPTH):
    """Cuts the count below the board's position into tasks.

    Returns the root moves and a list of (root index, path): each path is a
    sequence of moves from the position, its first one the root move, and its
    task counts the nodes depth - len(path) plies below the end of the path.
    A path that ends in a position without moves is dropped: it adds nothing."""
    root = generator(board)
    paths = [(index, (move,)) for index, move in enumerate(root)]
    plies = 1
    while len(paths) < min_tasks and plies < min(MAX_SPLIT_PLIES, depth - min_task_depth):
        deeper = []
        for index, path in paths:
            for move in path:
                board.push(move)
            deeper.extend((index, path + (move,)) for move in generator(board))
            for _ in path:
                board.pop()
        paths = deeper
        plies += 1
    return root, paths


def count_task(fen, path, depth):
    """Worker side: the nodes `depth` plies below the position reached by playing `path` from `fen`."""
    board = chess_call(worker_module().Board, fen)
    for move in path:
        chess_call(board.push, move)
    return chess_call(perft, worker_generator(), board, depth)


def divide(pool, fen, depth, on_move=None, on_task=None, min_tasks=None, min_task_depth=MIN_TASK_DEPTH):
    """Counts the nodes below each root move of `fen` on `pool`; returns [(move, count)] in the generator's order.

    on_move(move, count) is called for each root move in that order as soon as
    its count and those of the moves before it are complete; on_task(done,
    total) after each finished task. With `min_tasks` None the tree is split
    for the pool's workers, with one worker it is not split below the root."""
    import vemla_chess

    generator = vemla_chess.MoveGenerator()
    board = vemla_chess.Board(fen)
    if min_tasks is None:
        min_tasks = 1 if pool.workers == 1 else pool.workers * TASKS_PER_WORKER
    root, paths = split(generator, board, depth, min_tasks, min_task_depth)
    counts = [0] * len(root)
    unfinished = collections.Counter(index for index, _ in paths)
    reported = 0

    def report_ready():
        nonlocal reported
        while reported < len(root) and unfinished[reported] == 0:
            if on_move:
                on_move(root[reported], counts[reported])
            reported += 1

    tasks = [(fen, path, depth - len(path)) for _, path in paths]
    report_ready()
    for done, (task, nodes) in enumerate(pool.run(count_task, tasks), 1):
        index = paths[task][0]
        counts[index] += nodes
        unfinished[index] -= 1
        if on_task:
            on_task(done, len(tasks))
        report_ready()
    return list(zip(root, counts))


class Progress:
    """Reports on standard error, once a second, how many tasks have finished."""

    def __init__(self):
        self.done = self.total = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def update(self, done, total):
        self.done, self.total = done, total

    def run(self):
        start = time.perf_counter()
        while not self.stop.wait(1.0):
            elapsed = time.perf_counter() - start
            print(f"\r... {self.done}/{self.total} tasks, {elapsed:.0f} s", end="", file=sys.stderr, flush=True)

    def __enter__(self):
        if sys.stderr.isatty():
            self.thread.start()
        return self

    def clear(self):
        """Wipes the progress line, so that a line printed next starts clean on the terminal."""
        if self.thread.ident is not None:
            print("\r" + " " * 40 + "\r", end="", file=sys.stderr, flush=True)

    def __exit__(self, *exc):
        self.stop.set()
        if self.thread.ident is not None:
            self.thread.join()
            self.clear()


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="perft.py", description=__doc__.splitlines()[0])
    parser.add_argument("fen", nargs="?", default=START, help="position (default: the starting position)")
    parser.add_argument("depth", nargs="?", default=str(DEFAULT_DEPTH), help=f"plies (default {DEFAULT_DEPTH})")
    parser.add_argument("--jobs", type=int, metavar="N",
                        help="worker processes (default: one per core; 1: count in this process)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run on a Dask cluster: tcp://HOST:PORT, or 'local' for a LocalCluster of --jobs workers")
    args = parser.parse_args(argv)
    check_pool_arguments(parser, args)
    return args


def main(argv):
    args = parse_args(argv[1:])
    try:
        depth = int(args.depth)
    except ValueError:
        print(f"depth must be a whole number, not {args.depth!r}", file=sys.stderr)
        return 2
    if depth < 1:
        print("depth must be at least 1", file=sys.stderr)
        return 2
    import vemla_chess

    try:
        board = vemla_chess.Board(args.fen)
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, KeyboardInterrupt):
            raise
        print(f"cannot read the position: {type(error).__name__}: {error}", file=sys.stderr)
        return 2

    print(f"position: {board.fen()}\ndepth: {depth}\n", flush=True)
    try:
        with open_pool(args.jobs, args.scheduler) as pool, Progress() as progress:
            start = time.perf_counter()

            def print_move(move, nodes):
                progress.clear()
                print(f"{move}: {nodes}", flush=True)

            counts = divide(pool, args.fen, depth, on_task=progress.update, on_move=print_move)
            elapsed = time.perf_counter() - start
    except TaskFailed as error:
        print(f"perft failed: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    total = sum(nodes for _, nodes in counts)
    rate = total / elapsed if elapsed > 0 else 0.0
    print(f"\nNodes searched: {total}\nTime: {elapsed:.3f} s\nNodes per second: {rate:,.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
