"""Native perft speed of vemla_perft against Stockfish's `go perft`, same run.

    python3 bench/vs_stockfish.py [path/to/vemla_perft] [runs] [--chess960]

Both programs count the same tree (same position, same depth). Stockfish
takes a while to start, so its `go perft 1` time is measured in the same way
and subtracted. Each program runs `runs` times (default 3), alternating; the
best rate of each is compared, and the spread (worst to best) is printed so
that a noisy machine shows. Prints figures only.

With --chess960 the positions are Chess960 ones (starts and mid-game
positions of the test data), Stockfish runs with UCI_Chess960 and vemla_perft
with --chess960.
"""

import re
import subprocess
from pathlib import Path
import sys
import time

STOCKFISH = "/usr/games/stockfish"
# (name, FEN, depth)
POSITIONS = [
    ("initial", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 6),
    ("Kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 5),
]


MIDGAME = Path(__file__).resolve().parent.parent / "tests" / "data" / "chess960" / "midgame.txt"


def chess960_positions():
    """Two starts (0 and 959) at depth 6, four mid-game
    positions with castling rights at depth 5."""
    starts = {0: "bbqnnrkr", 959: "rkrnnqbb"}
    out = []
    lines = [l for l in MIDGAME.read_text().splitlines() if not l.startswith("#")]
    for number, rank in starts.items():
        out.append((f"start {number}", f"{rank}/pppppppp/8/8/8/8/PPPPPPPP/{rank.upper()} w KQkq - 0 1", 6))
    for i in (0, 5, 30, 35):
        out.append((f"midgame {i}", lines[i].split(";")[0], 5))
    return out


def with_counters(fen):
    return fen if len(fen.split()) >= 6 else fen + " 0 1"


def stockfish(fen, depth, chess960=False):
    """Wall time and node count of one Stockfish process running perft."""
    mode = "setoption name UCI_Chess960 value true\n" if chess960 else ""
    script = f"setoption name Threads value 1\n{mode}position fen {with_counters(fen)}\ngo perft {depth}\nquit\n"
    start = time.perf_counter()
    out = subprocess.run([STOCKFISH], input=script, capture_output=True, text=True, check=True).stdout
    elapsed = time.perf_counter() - start
    return elapsed, int(re.search(r"Nodes searched: (\d+)", out).group(1))


def native(binary, fen, depth, chess960=False):
    args = [binary, "--chess960"] if chess960 else [binary]
    out = subprocess.run([*args, fen, str(depth)], capture_output=True, text=True, check=True).stdout
    nodes = int(re.search(r"Nodes searched: (\d+)", out).group(1))
    seconds = float(re.search(r"Time: ([\d.]+) s", out).group(1))
    return seconds, nodes


def spread(rates):
    return f"{min(rates) / 1e6:.0f}-{max(rates) / 1e6:.0f}"


def main():
    chess960 = "--chess960" in sys.argv
    argv = [a for a in sys.argv if a != "--chess960"]
    binary = argv[1] if len(argv) > 1 else "build/vemla_perft"
    runs = int(argv[2]) if len(argv) > 2 else 3
    print(f"{'position':<12} {'depth':>5} {'vemla M/s':>10} {'(spread)':>10} "
          f"{'stockfish M/s':>14} {'(spread)':>10} {'ratio':>6}")
    for name, fen, depth in chess960_positions() if chess960 else POSITIONS:
        ours, theirs = [], []
        for _ in range(runs):
            startup = min(stockfish(fen, 1, chess960)[0] for _ in range(3))
            sf_time, sf_nodes = stockfish(fen, depth, chess960)
            theirs.append(sf_nodes / max(sf_time - startup, 1e-9))
            v_time, v_nodes = native(binary, fen, depth, chess960)
            if v_nodes != sf_nodes:
                raise SystemExit(f"{name}: vemla counts {v_nodes} nodes, Stockfish {sf_nodes}")
            ours.append(v_nodes / v_time)
        print(f"{name:<12} {depth:>5} {max(ours) / 1e6:>10.1f} {spread(ours):>10} "
              f"{max(theirs) / 1e6:>14.1f} {spread(theirs):>10} {max(ours) / max(theirs):>6.2f}")


if __name__ == "__main__":
    main()
