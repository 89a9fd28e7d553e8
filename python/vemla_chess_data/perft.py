"""Perft through the vemla_chess module: counts the leaf nodes of the move tree.

    vemla-perft [--jobs N | --scheduler ADDRESS] [--force] [FEN | startpos] [DEPTH]

(in a checkout: ./run.sh or tools/perft.py; also python3 -m vemla_chess_data.perft)

Prints the count below each legal move of the position, the total, the time
taken and the nodes per second. Defaults to the starting position at depth 6;
a lone number is the depth, and `startpos` names the starting position. A FEN
is one argument: quote it. A depth whose tree would take hours (estimated from
the first plies) is refused unless --force is given.

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
import math
import os
import signal
import sys
import threading
import time

from .pool import TaskFailed, chess_call, check_pool_arguments, open_pool, worker_generator, worker_module

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
DEFAULT_DEPTH = 6
# The tree is split until there are this many tasks per worker, so that the
# last tasks to finish are short and no worker waits long for the others.
TASKS_PER_WORKER = 16
# At most this many plies are expanded in the parent, and only while every
# task keeps at least MIN_TASK_DEPTH plies of counting to do.
MAX_SPLIT_PLIES = 3
MIN_TASK_DEPTH = 4
# Deeper trees than this many leaf nodes (hours of counting on a few cores)
# are refused without --force: a mistyped depth must not start a run that never ends.
MAX_NODES = 10**12
# The estimate of a tree's size counts this many plies exactly.
ESTIMATE_PLIES = 3


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


def estimated_nodes(generator, board, depth):
    """About how many leaf nodes `depth` plies below the board's position: exact
    up to ESTIMATE_PLIES, then the last ply's growth for each further ply."""
    known = min(depth, ESTIMATE_PLIES)
    before, counted = perft(generator, board, known - 1), perft(generator, board, known)
    if depth == known or counted == 0:
        return float(counted)
    try:
        return counted * (counted / before) ** (depth - known)
    except OverflowError:
        return math.inf


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
    generator = worker_generator()
    board = worker_module().Board(fen)
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
    if on_task:
        on_task(0, len(tasks))
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
    """Reports on standard error, from the start and then once a second, what
    the run is doing: starting its workers, then how many tasks have finished."""

    def __init__(self):
        self.done = self.total = None
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def update(self, done, total):
        self.done, self.total = done, total

    def run(self):
        # Ctrl-C is for the main thread, which stops the run; delivered here,
        # it would wait for the main thread to wake up.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        start = time.perf_counter()
        while True:
            elapsed = time.perf_counter() - start
            what = "starting the workers" if self.total is None else f"{self.done}/{self.total} tasks"
            print(f"\r... {what}, {elapsed:.0f} s   ", end="", file=sys.stderr, flush=True)
            if self.stop.wait(1.0):
                return

    def __enter__(self):
        if sys.stderr.isatty():
            self.thread.start()
        return self

    def clear(self):
        """Wipes the progress line, so that a line printed next starts clean on the terminal."""
        if self.thread.ident is not None:
            print("\r" + " " * 50 + "\r", end="", file=sys.stderr, flush=True)

    def __exit__(self, *exc):
        self.stop.set()
        if self.thread.ident is not None:
            self.thread.join()
            self.clear()


def parse_args(argv, prog):
    # ./run.sh passes its own name, which is the one the user typed.
    prog = os.environ.get("VEMLA_PERFT_PROG") or prog
    parser = argparse.ArgumentParser(prog=prog, description=__doc__.splitlines()[0],
                                     usage=f"{prog} [-h] [--jobs N | --scheduler ADDRESS] [--force] "
                                           "[FEN | startpos] [DEPTH]")
    parser.add_argument("position", nargs="*", metavar="[FEN | startpos] [DEPTH]",
                        help=f"the position, as one quoted FEN or startpos (the default), and the "
                             f"depth in plies (default {DEFAULT_DEPTH}); a lone number is the depth")
    parser.add_argument("--jobs", type=int, metavar="N",
                        help="worker processes (default: one per core; 1: count in this process)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run on a Dask cluster: tcp://HOST:PORT, or 'local' for a LocalCluster of --jobs workers")
    parser.add_argument("--force", action="store_true",
                        help=f"count a tree of more than about {MAX_NODES:.0e} leaf nodes (hours of work) all the same")
    args = parser.parse_args(argv)
    check_pool_arguments(parser, args)
    words = args.position
    if len(words) > 2 or (len(words) == 2 and words[1] in ("w", "b")):
        parser.error(f"a FEN is one argument: put it in quotes, e.g. {prog} \"{' '.join(words[:4])}\""
                     + (f" {words[-1]}" if len(words) > 4 and words[-1].isdigit() else ""))
    if len(words) == 1 and words[0].lstrip("+-").isdigit():
        words = [START] + words
    args.fen = words[0] if words else START
    if args.fen == "startpos":
        args.fen = START
    depth = words[1] if len(words) == 2 else str(DEFAULT_DEPTH)
    try:
        args.depth = int(depth)
    except ValueError:
        parser.error(f"the depth must be a whole number, not {depth!r}")
    if args.depth < 1:
        parser.error("the depth must be at least 1")
    return parser, args


def import_module():
    try:
        import vemla_chess
    except ImportError as error:
        raise SystemExit(f"{sys.executable} cannot import vemla_chess ({error}); build it with ./run.sh "
                         "and run this with PYTHONPATH=build/python, or use ./run.sh") from None
    return vemla_chess


def main(argv):
    parser, args = parse_args(argv[1:], os.path.basename(argv[0]) if argv else "vemla-perft")
    depth = args.depth
    vemla_chess = import_module()
    try:
        board = vemla_chess.Board(args.fen)
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, KeyboardInterrupt):
            raise
        print(f"cannot read the position: {type(error).__name__}: {error}", file=sys.stderr)
        return 2
    if not args.force:
        nodes = estimated_nodes(worker_generator(), board, depth)
        if nodes > MAX_NODES:
            parser.error(f"depth {depth} means about {nodes:.1e} leaf nodes from this position, hours of "
                         f"counting or far more; give --force to count them all the same")

    print(f"position: {board.fen()}\ndepth: {depth}\n", flush=True)
    try:
        with Progress() as progress, open_pool(args.jobs, args.scheduler) as pool:
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
    print(f"\nNodes searched: {total}\nTime: {elapsed:.3f} s\nNodes per second: {rate:,.0f}", flush=True)
    return 0


def run(argv=None):
    """main() on `argv` (default sys.argv), ending quietly when the reader of
    standard output goes away (`... | head`). The vemla-perft command."""
    try:
        return main(sys.argv if argv is None else argv)
    except BrokenPipeError:
        # Python would report the failed flush of standard output again at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 128 + signal.SIGPIPE


if __name__ == "__main__":
    sys.exit(run())
