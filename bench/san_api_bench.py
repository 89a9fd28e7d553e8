"""Cost of the SAN calls from Python, in ns per call, on a middlegame
position; and of writing one corpus game as PGN. Prints figures only.

    PYTHONPATH=build/python python3 bench/san_api_bench.py
"""

import json
import os
import pathlib
import time
import timeit

import vemla_chess

MIDDLEGAME = "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -"
CORPUS = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "pgn" / "expected.jsonl"


def per_call(stmt, number, **names):
    """Best of five runs, in ns per call of the process's CPU time (on a
    shared machine wall time also counts the time others held the core)."""
    timer = timeit.Timer(stmt, globals=names, timer=time.process_time)
    return min(timer.repeat(repeat=5, number=number)) / number * 1e9


def main():
    generator = vemla_chess.MoveGenerator()
    board = vemla_chess.Board(MIDDLEGAME)
    print(f"load average {os.getloadavg()[0]:.2f}; middlegame {MIDDLEGAME}")
    baseline = per_call("f(b)", 500_000, f=generator.is_check, b=board)
    print(f"  {'is_check(board), for the cost of a call':<36} {baseline:7.1f} ns")
    for uci, san in [("c3d5", "Nd5"), ("g5f6", "Bxf6"), ("a1e1", "Rae1"), ("h2h3", "h3"), ("e2e3", "Qe3")]:
        out = per_call("f(b, m)", 500_000, f=generator.san, b=board, m=uci)
        back = per_call("f(b, s)", 500_000, f=generator.parse_san, b=board, s=san)
        print(f"  san(board, {uci!r}) {out:7.1f} ns   parse_san(board, {san!r}) {back:7.1f} ns")
    with open(CORPUS, encoding="utf-8") as lines:
        game = json.loads(lines.readline())
    moves = game["uci"]
    text = per_call("f(m, h)", 2_000, f=generator.pgn, m=moves, h=game["headers"])
    print(f"  pgn() of a {len(moves)}-ply game: {text / 1e3:.1f} µs ({text / len(moves):.0f} ns per move)")


if __name__ == "__main__":
    main()
