"""Native perft speed of vemla_perft against Stockfish's `go perft`, same run.

    python3 bench/vs_stockfish.py [path/to/vemla_perft]

Stockfish takes a while to start, so its `go perft 1` time is measured in the
same way and subtracted. Depths are chosen so that Stockfish needs a second or
more. Prints figures only.
"""

import re
import subprocess
import sys
import time

STOCKFISH = "/usr/games/stockfish"
# (name, FEN, Stockfish's depth, vemla's depth): rates are compared, and
# Stockfish needs the deeper tree to run for a second or more.
POSITIONS = [
    ("initial", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 7, 6),
    ("Kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 5, 5),
]


def stockfish(fen, depth):
    """Wall time and node count of one Stockfish process running perft."""
    script = f"setoption name Threads value 1\nposition fen {fen} 0 1\ngo perft {depth}\nquit\n"
    start = time.perf_counter()
    out = subprocess.run([STOCKFISH], input=script, capture_output=True, text=True, check=True).stdout
    elapsed = time.perf_counter() - start
    return elapsed, int(re.search(r"Nodes searched: (\d+)", out).group(1))


def native(binary, fen, depth):
    out = subprocess.run([binary, fen, str(depth)], capture_output=True, text=True, check=True).stdout
    nodes = int(re.search(r"Nodes searched: (\d+)", out).group(1))
    seconds = float(re.search(r"Time: ([\d.]+) s", out).group(1))
    return seconds, nodes


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/vemla_perft"
    print(f"{'position':<10} {'depths':>7} {'vemla M/s':>10} {'stockfish M/s':>14} {'ratio':>6}")
    for name, fen, sf_depth, v_depth in POSITIONS:
        startup = min(stockfish(fen, 1)[0] for _ in range(3))
        sf_time, sf_nodes = stockfish(fen, sf_depth)
        sf_rate = sf_nodes / (sf_time - startup)
        v_time, v_nodes = native(binary, fen, v_depth)
        v_rate = v_nodes / v_time
        depths = f"{v_depth}/{sf_depth}"
        print(f"{name:<10} {depths:>7} {v_rate / 1e6:>10.1f} {sf_rate / 1e6:>14.1f} {v_rate / sf_rate:>6.2f}")


if __name__ == "__main__":
    main()
