"""Cost of each Python-visible call, in ns or µs per call. Prints figures only.

    PYTHONPATH=build/python python3 bench/api_bench.py

Also prints, measured in the same run, the generator call on Kiwipete against
the bare cost of a list of as many fresh 4-character str objects, and perft in
Python (Kiwipete, depth 4) against Stockfish's native `go perft` rate on the
same position when /usr/games/stockfish is installed.
"""

import os
import pathlib
import sys
import time
import timeit

import vemla_chess

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from perft import perft  # noqa: E402  the main job's own perft

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from vs_stockfish import STOCKFISH, stockfish  # noqa: E402

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
MIDDLEGAME = "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -"


def per_call(stmt, number, **names):
    """Best of five runs, in ns per call."""
    timer = timeit.Timer(stmt, globals=names)
    return min(timer.repeat(repeat=5, number=number)) / number * 1e9


def main():
    Board, generator = vemla_chess.Board, vemla_chess.MoveGenerator()
    board = Board()
    rows = [
        ("Board() default FEN", per_call("Board()", 200_000, Board=Board)),
        ("Board(fen) Kiwipete", per_call("Board(f)", 200_000, Board=Board, f=KIWIPETE)),
        ("fen()", per_call("b.fen()", 200_000, b=board)),
        ("turn()", per_call("b.turn()", 500_000, b=board)),
        ('push("e2e4") + pop()', per_call("p('e2e4'); q()", 500_000, p=board.push, q=board.pop)),
        ("copy() fresh board", per_call("b.copy()", 200_000, b=board)),
        ("bitboard()", per_call("b.bitboard()", 50_000, b=board)),
        ("bitboard_from_fen()", per_call("f(s)", 50_000, f=Board.bitboard_from_fen, s=START)),
        ("MoveGenerator()", per_call("M()", 200, M=vemla_chess.MoveGenerator)),
    ]
    ratios = {}
    for name, fen in (("initial", START), ("Kiwipete", KIWIPETE), ("middlegame", MIDDLEGAME)):
        b = Board(fen)
        count = len(generator(b))
        texts = " ".join(["e2e4"] * count)
        call = per_call("g(b)", 100_000, g=generator, b=b)
        bare = per_call("t.split()", 100_000, t=texts)
        rows.append((f"generator(board) {name} ({count} moves)", call))
        rows.append((f"  bare: list of {count} fresh 4-char str", bare))
        ratios[name] = call / bare

    width = max(len(name) for name, _ in rows)
    for name, ns in rows:
        figure = f"{ns / 1000:10.2f} µs" if ns >= 1000 else f"{ns:10.1f} ns"
        print(f"{name:<{width}}  {figure}")

    print(f"{'generator(board) Kiwipete / bare list':<{width}}  {ratios['Kiwipete']:10.2f}")

    board = Board(KIWIPETE)
    best = 0.0
    for _ in range(3):
        start = time.perf_counter()
        nodes = perft(generator, board, 4)
        best = max(best, nodes / (time.perf_counter() - start))
    print(f"{'Python perft Kiwipete depth 4':<{width}}  {best / 1e6:10.2f} M nodes/s (best of 3)")
    if os.path.exists(STOCKFISH):
        # Stockfish's rate is taken at depth 5: at depth 4 its whole count
        # takes about as long as its start-up, which is subtracted.
        startup = min(stockfish(KIWIPETE, 1)[0] for _ in range(3))
        native = max(n / max(t - startup, 1e-9) for t, n in (stockfish(KIWIPETE, 5) for _ in range(2)))
        print(f"{'Stockfish go perft 5 Kiwipete':<{width}}  {native / 1e6:10.2f} M nodes/s (best of 2)")
        print(f"{'Python perft / Stockfish':<{width}}  {best / native:10.2f}")


if __name__ == "__main__":
    main()
