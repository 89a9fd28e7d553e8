#!/usr/bin/python3
"""Build perft reference data with Stockfish as the oracle.

Input files hold one position per line: a FEN (only its first four fields are
used, so EPD lines such as "FEN ;D1 20 ;D2 400" work too). Blank lines are
skipped; lines starting with "#" are group comments.

  stockfish_perft.py epd INPUT... [-o OUT] [--depth N] [--max-nodes M]
      Writes "FEN ;D1 n ;D2 n ..." per position, keeping the comment lines.
      Depths run from 1 to N; with --max-nodes a depth is kept only while its
      count stays within M, and a depth whose estimated count (last count
      times the last growth factor) exceeds M is not searched at all.

  stockfish_perft.py divide INPUT... [-o OUT] [--depth N]
      Writes per-move counts (default depth 2): a line "fen FEN", then one
      "move count" line per legal move in Stockfish's order, then a blank
      line. Positions without a legal move are left out.

  stockfish_perft.py check INPUT...
      Checks that every position is legal in the four-field dialect and that
      Stockfish reads back the same side, castling rights and en-passant
      square. Prints one line per problem; exit status 1 if there is any.

The files in tests/data were made with (each can be its own input):
  stockfish_perft.py epd tests/data/perft_standard.epd --depth 6 --max-nodes 200000000 -o ...
  stockfish_perft.py epd tests/data/perft_cases.epd --depth 8 --max-nodes 2000000 -o ...
  stockfish_perft.py divide tests/data/perft_standard.epd tests/data/perft_cases.epd -o ...
"""

import argparse
import re
import subprocess
import sys

STOCKFISH = "/usr/games/stockfish"
MOVE_LINE = re.compile(r"^([a-h][1-8][a-h][1-8][nbrq]?): (\d+)$")


class Stockfish:
    """A Stockfish process driven over UCI, one request at a time."""

    def __init__(self, path=STOCKFISH):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)
        self.send("uci")
        self.read_until(lambda line: line == "uciok")
        self.send("setoption name Threads value 1")
        self.send("isready")
        self.read_until(lambda line: line == "readyok")

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def read_until(self, is_last):
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("stockfish exited unexpectedly")
            line = line.rstrip("\n")
            lines.append(line)
            if is_last(line):
                return lines

    def divide(self, fen, depth):
        """Returns ([(move, count)] in Stockfish's order, total nodes)."""
        self.send("position fen " + fen)
        self.send(f"go perft {depth}")
        # "go perft" runs on the search thread, so wait for its closing line.
        lines = self.read_until(lambda line: line.startswith("Nodes searched:"))
        moves = [(m.group(1), int(m.group(2))) for m in map(MOVE_LINE.match, lines) if m]
        total = int(lines[-1].split(":")[1])
        if sum(count for _, count in moves) != total:
            raise RuntimeError(f"per-move counts do not add up to {total} for {fen}")
        return moves, total

    def perft(self, fen, depth):
        return self.divide(fen, depth)[1]

    def display(self, fen):
        """Returns (Stockfish's FEN of the position, list of checking squares)."""
        self.send("position fen " + fen)
        self.send("d")
        lines = self.read_until(lambda line: line.startswith("Checkers:"))
        echoed = next(line[len("Fen: "):] for line in lines if line.startswith("Fen: "))
        return echoed, lines[-1][len("Checkers:"):].split()

    def close(self):
        self.send("quit")
        self.proc.stdin.close()
        self.proc.wait()


def read_positions(paths):
    """Yields ("comment", text) and ("fen", four-field FEN) items in file order."""
    for path in paths:
        with open(path) as f:
            for raw in f:
                line = raw.strip()
                if not line:
                    continue
                if line.startswith("#"):
                    yield "comment", line
                    continue
                fields = line.split(";")[0].split()
                if len(fields) < 4:
                    raise SystemExit(f"{path}: not a four-field FEN: {line}")
                yield "fen", " ".join(fields[:4])


def counts_by_depth(engine, fen, max_depth, max_nodes):
    counts = []
    for depth in range(1, max_depth + 1):
        if max_nodes and len(counts) >= 2 and counts[-2]:
            if counts[-1] * counts[-1] // counts[-2] > max_nodes:
                break
        nodes = engine.perft(fen, depth)
        if max_nodes and nodes > max_nodes:
            break
        counts.append(nodes)
        if nodes == 0:
            break
    return counts


def write_epd(engine, items, out, max_depth, max_nodes):
    for kind, value in items:
        if kind == "comment":
            out.write(value + "\n")
            continue
        counts = counts_by_depth(engine, value, max_depth, max_nodes)
        out.write(value + "".join(f" ;D{d} {n}" for d, n in enumerate(counts, 1)) + "\n")


def write_divide(engine, items, out, depth):
    for kind, fen in items:
        if kind != "fen":
            continue
        moves, _ = engine.divide(fen, depth)
        if not moves:
            continue
        out.write(f"fen {fen}\n")
        out.writelines(f"{move} {count}\n" for move, count in moves)
        out.write("\n")


# Squares are named by (file, rank) pairs counted from 0, a1 = (0, 0).
def square(name):
    return ord(name[0]) - ord("a"), int(name[1]) - 1


def placement(field):
    board = {}
    for rank, row in zip(range(7, -1, -1), field.split("/")):
        file = 0
        for c in row:
            if c.isdigit():
                file += int(c)
            else:
                board[(file, rank)] = c
                file += 1
    return board


def dialect_problems(fen):
    """Problems that make a FEN unfit for the four-field dialect's trusting reader."""
    place, side, castling, ep = fen.split()
    rows = place.split("/")
    if (len(rows) != 8 or any(sum(int(c) if c.isdigit() else 1 for c in r) != 8 for r in rows)
            or not re.fullmatch(r"[1-8pnbrqkPNBRQK/]+", place)):
        return ["placement is not 8x8 squares of known pieces"]
    if not (side in "wb" and len(side) == 1 and re.fullmatch(r"-|K?Q?k?q?", castling)
            and re.fullmatch(r"-|[a-h][36]", ep)):
        return ["malformed side, castling or en-passant field"]
    board = placement(place)
    problems = []
    for king in "Kk":
        if list(board.values()).count(king) != 1:
            problems.append(f"not exactly one {king}")
    if any(piece in "Pp" and rank in (0, 7) for (_, rank), piece in board.items()):
        problems.append("pawn on the first or last rank")
    homes = {"K": ("e1", "h1", "K", "R"), "Q": ("e1", "a1", "K", "R"),
             "k": ("e8", "h8", "k", "r"), "q": ("e8", "a8", "k", "r")}
    for right in castling.replace("-", ""):
        king_sq, rook_sq, king, rook = homes[right]
        if board.get(square(king_sq)) != king or board.get(square(rook_sq)) != rook:
            problems.append(f"castling right {right} without king and rook at home")
    if ep != "-":
        file, rank = square(ep)
        pawn, forward = ("p", -1) if side == "w" else ("P", 1)
        if (rank != (5 if side == "w" else 2) or board.get((file, rank + forward)) != pawn
                or (file, rank) in board or (file, rank - forward) in board):
            problems.append(f"en-passant square {ep} without a double step just made")
    return problems


def between(a, b):
    """Squares strictly between a and b if they share a line, else none."""
    dx, dy = b[0] - a[0], b[1] - a[1]
    if dx and dy and abs(dx) != abs(dy):
        return []
    sx, sy = (dx > 0) - (dx < 0), (dy > 0) - (dy < 0)
    return [(a[0] + i * sx, a[1] + i * sy) for i in range(1, max(abs(dx), abs(dy)))]


def unreachable_check(fen, checkers):
    """After a double step only that pawn, or a line through the square it left, can check.

    Stockfish's en-passant evasions rely on this: with another pawn or a knight giving
    check it counts an en-passant capture that leaves the king in check."""
    place, side, _, ep = fen.split()
    if ep == "-" or not checkers:
        return []
    board = placement(place)
    king = next(sq for sq, piece in board.items() if piece == ("K" if side == "w" else "k"))
    file, rank = square(ep)
    forward = -1 if side == "w" else 1
    pawn, origin = (file, rank + forward), (file, rank - forward)
    if all(square(c) == pawn or origin in between(king, square(c)) for c in checkers):
        return []
    return ["in a check that the double step cannot have given (unreachable)"]


def check(engine, items):
    bad = 0
    for kind, fen in items:
        if kind != "fen":
            continue
        problems = dialect_problems(fen)
        if not problems:
            echoed, checkers = engine.display(fen)
            if echoed.split()[1:4] != fen.split()[1:4]:
                problems.append(f"stockfish reads it as {echoed}")
            problems += unreachable_check(fen, checkers)
            # The side that just moved must not be left in check.
            place, side = fen.split()[:2]
            if engine.display(f"{place} {'b' if side == 'w' else 'w'} - -")[1]:
                problems.append("the side not to move is in check")
        for problem in problems:
            print(f"{fen}: {problem}")
        bad += bool(problems)
    return bad


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("mode", choices=["epd", "divide", "check"])
    parser.add_argument("inputs", nargs="+")
    parser.add_argument("-o", "--output", help="output file (default: standard output)")
    parser.add_argument("--depth", type=int, help="maximum depth (epd) or depth (divide)")
    parser.add_argument("--max-nodes", type=int, help="node budget per depth (epd)")
    args = parser.parse_args()

    if args.mode == "epd" and not args.depth and not args.max_nodes:
        parser.error("epd needs --depth, --max-nodes or both")

    # Read everything first, so that an input file may also be the output file.
    items = list(read_positions(args.inputs))
    engine = Stockfish()
    try:
        if args.mode == "check":
            return 1 if check(engine, items) else 0
        out = open(args.output, "w") if args.output else sys.stdout
        try:
            if args.mode == "epd":
                write_epd(engine, items, out, args.depth or 99, args.max_nodes)
            else:
                write_divide(engine, items, out, args.depth or 2)
        finally:
            if out is not sys.stdout:
                out.close()
    finally:
        engine.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
