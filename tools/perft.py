"""Perft through the vemla_chess module: counts the leaf nodes of the move tree.

    perft.py [FEN] [depth]

Prints the count below each legal move of the position, the total, the time
taken and the nodes per second. Defaults to the starting position at depth 6.
"""

import sys
import threading
import time

import vemla_chess

DEFAULT_DEPTH = 6


def perft(generator, board, depth):
    moves = generator(board)
    if depth <= 1:
        return len(moves) if depth == 1 else 1
    nodes = 0
    for move in moves:
        board.push(move)
        nodes += perft(generator, board, depth - 1)
        board.pop()
    return nodes


class Progress:
    """Reports on standard error, once a second, how far the root moves have got."""

    def __init__(self, total):
        self.total = total
        self.done = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        start = time.perf_counter()
        while not self.stop.wait(1.0):
            elapsed = time.perf_counter() - start
            print(f"\r... {self.done}/{self.total} root moves, {elapsed:.0f} s", end="", file=sys.stderr, flush=True)

    def __enter__(self):
        if sys.stderr.isatty():
            self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        if self.thread.is_alive():
            self.thread.join()
            print("\r" + " " * 40 + "\r", end="", file=sys.stderr, flush=True)


def main(argv):
    fen = argv[1] if len(argv) > 1 else "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
    try:
        depth = int(argv[2]) if len(argv) > 2 else DEFAULT_DEPTH
    except ValueError:
        print(f"depth must be a whole number, not {argv[2]!r}", file=sys.stderr)
        return 2
    if depth < 1:
        print("depth must be at least 1", file=sys.stderr)
        return 2
    try:
        board = vemla_chess.Board(fen)
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, KeyboardInterrupt):
            raise
        print(f"cannot read the position: {type(error).__name__}: {error}", file=sys.stderr)
        return 2
    generator = vemla_chess.MoveGenerator()

    print(f"position: {board.fen()}\ndepth: {depth}\n")
    root_moves = generator(board)
    total = 0
    start = time.perf_counter()
    with Progress(len(root_moves)) as progress:
        for move in root_moves:
            board.push(move)
            nodes = perft(generator, board, depth - 1)
            board.pop()
            total += nodes
            progress.done += 1
            print(f"{move}: {nodes}", flush=True)
    elapsed = time.perf_counter() - start
    rate = total / elapsed if elapsed > 0 else 0.0
    print(f"\nNodes searched: {total}\nTime: {elapsed:.3f} s\nNodes per second: {rate:,.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
