#!/usr/bin/env python3
"""Writes the Chess960 perft counts of tests/data/chess960/ with Stockfish.

Run once (or again after changing the choice of positions); the tests read
the files it writes and never need Stockfish:

    python3 tools/chess960_perft_data.py [/usr/games/stockfish]

starts.txt holds every start position, numbered the standard way, with its
perft counts to depth 4; midgame.txt positions reached by random play from the
starts that still hold castling rights, with counts to depth 5. The start
positions are built here from their numbers, independently of the library.
"""
import random
import subprocess
import sys
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "tests" / "data" / "chess960"
KNIGHTS = [(0, 1), (0, 2), (0, 3), (0, 4), (1, 2), (1, 3), (1, 4), (2, 3), (2, 4), (3, 4)]


def back_rank(n):
    rank = [None] * 8
    rank[2 * (n % 4) + 1] = "B"
    n //= 4
    rank[2 * (n % 4)] = "B"
    n //= 4
    empty = [i for i in range(8) if rank[i] is None]
    rank[empty[n % 6]] = "Q"
    n //= 6
    empty = [i for i in range(8) if rank[i] is None]
    for k in KNIGHTS[n]:
        rank[empty[k]] = "N"
    empty = [i for i in range(8) if rank[i] is None]
    for sq, piece in zip(empty, "RKR"):
        rank[sq] = piece
    return "".join(rank)


def start_fen(n):
    white = back_rank(n)
    return f"{white.lower()}/pppppppp/8/8/8/8/PPPPPPPP/{white} w KQkq - 0 1"


class Engine:
    def __init__(self, path):
        self.p = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.send("uci")
        self.wait("uciok")
        self.send("setoption name UCI_Chess960 value true")
        self.send("isready")
        self.wait("readyok")

    def send(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()

    def wait(self, prefix):
        lines = []
        while True:
            line = self.p.stdout.readline()
            if not line:
                raise RuntimeError("engine ended")
            line = line.rstrip("\n")
            lines.append(line)
            if line.startswith(prefix):
                return lines

    def perft(self, fen, depth, moves=()):
        self.send(f"position fen {fen}" + (" moves " + " ".join(moves) if moves else ""))
        self.send(f"go perft {depth}")
        lines = self.wait("Nodes searched")
        divide = [l.split(":")[0] for l in lines if ": " in l and not l.startswith("Nodes")]
        return int(lines[-1].split(":")[1]), divide

    def fen(self, fen, moves):
        self.send(f"position fen {fen} moves " + " ".join(moves))
        self.send("d")
        for line in self.wait("Checkers"):
            if line.startswith("Fen: "):
                return line[5:]
        raise RuntimeError("no fen")


def main():
    paths = [a for a in sys.argv[1:] if not a.startswith("--")]
    engine = Engine(paths[0] if paths else "/usr/games/stockfish")
    assert back_rank(518) == "RNBQKBNR" and back_rank(0) == "BBQNNRKR" and back_rank(959) == "RKRNNQBB"
    OUT.mkdir(parents=True, exist_ok=True)
    if "--midgame-only" in sys.argv:
        pass
    else:
      with open(OUT / "starts.txt", "w") as out:
        out.write("# number;fen;perft 1;perft 2;perft 3;perft 4 (Stockfish, UCI_Chess960)\n")
        for n in range(960):
            fen = start_fen(n)
            counts = [engine.perft(fen, d)[0] for d in range(1, 5)]
            out.write(f"{n};{fen};" + ";".join(map(str, counts)) + "\n")
    rng = random.Random(960)
    found = []
    while len(found) < 60:
        n = rng.randrange(960)
        fen = start_fen(n)
        if len(found) >= 30:
            # Half the set starts with some back-rank pieces other than king
            # and rooks taken off, so that castling comes sooner and more often
            # over and against attacked squares.
            def clear(rank):
                return "".join(c if c in "KRkr" or rng.random() < 0.4 else "1" for c in rank)
            placement = fen.split()[0].split("/")
            placement[0], placement[7] = clear(placement[0]), clear(placement[7])
            fen = "/".join(placement) + " w KQkq - 0 1"
        moves = []
        for _ in range(rng.randrange(4, 40) if len(found) >= 30 else rng.randrange(8, 40)):
            _, legal = engine.perft(fen, 1, moves)
            if not legal:
                break
            moves.append(rng.choice(legal))
        current = engine.fen(fen, moves)
        rights = current.split()[2]
        if rights == "-" or not engine.perft(current, 1)[1]:
            continue
        found.append(current)
    with open(OUT / "midgame.txt", "w") as out:
        out.write("# fen (Shredder-FEN);perft 1;...;perft 5 (Stockfish, UCI_Chess960)\n")
        for fen in found:
            counts = [engine.perft(fen, d)[0] for d in range(1, 6)]
            out.write(f"{fen};" + ";".join(map(str, counts)) + "\n")


if __name__ == "__main__":
    main()
