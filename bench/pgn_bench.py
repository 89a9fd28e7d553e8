"""Speed of the PGN reader: the native tool and read_pgn from Python. Prints figures only.

    PYTHONPATH=build/python python3 bench/pgn_bench.py [build-dir]

The bench file is made here from tests/data/pgn/corpus.pgn: side variations
removed (comments, NAGs and everything else kept), repeated until it holds at
least 50,000 games, and written to <build-dir>/pgn_bench.pgn (default build/).
It is never committed. Two more files are made from it: pgn_bench_bare.pgn
with every comment, NAG and escape line removed (the mainline moves only), and
pgn_bench_annotated.pgn, the same games with { [%eval ...] [%clk ...] } after
every move, the form of the largest public databases, both written by
MoveGenerator.pgn; read_pgn's rate on the second over the first is printed. Figures: the native tool vemla_pgn (<build-dir>/vemla_pgn)
in moves/s and games/s; read_pgn in games/s with every game built as Python
objects (tags dict, move list); read_pgn with a keep filter that refuses every
game; each the best of a few runs, in CPU time (the process's own time,
which on a machine shared with other work is what the reader costs; on a
quiet machine it equals the wall-clock time).
"""

import os
import pathlib
import subprocess
import sys
import time

import vemla_chess

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "tests" / "data" / "pgn" / "corpus.pgn"
GAMES = 50_000
RUNS = 3


def without_variations(text):
    """text with every ( ... ) outside comments removed, nested ones included."""
    out = []
    depth = 0
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == "{":
            end = text.index("}", i) + 1
            if depth == 0:
                out.append(text[i:end])
            i = end
            continue
        if c == ";" or (c == "%" and (i == 0 or text[i - 1] == "\n")):
            end = text.find("\n", i)
            end = n if end < 0 else end
            if depth == 0:
                out.append(text[i:end])
            i = end
            continue
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        elif depth == 0:
            out.append(c)
        i += 1
    return "".join(out)


def bench_file(build):
    path = build / "pgn_bench.pgn"
    base = without_variations(CORPUS.read_bytes().decode())
    per_copy = base.count("[Event ")
    copies = -(-GAMES // per_copy)
    content = (base.rstrip() + "\n\n") * copies
    if not path.exists() or path.read_bytes() != content.encode():
        path.write_bytes(content.encode())
    return path, per_copy * copies


def derived_files(build, path):
    """The bare and the annotated forms of the bench file's games, written by
    MoveGenerator.pgn (made once; delete them to make them again)."""
    bare, annotated = build / "pgn_bench_bare.pgn", build / "pgn_bench_annotated.pgn"
    if bare.exists() and annotated.exists():
        return bare, annotated
    gen = vemla_chess.MoveGenerator()
    plain, noted = [], []
    for number, game in enumerate(gen.read_pgn(path)):
        moves = game.moves
        evals = [f"#{'-' if ply % 2 else ''}{ply % 9 + 1}" if ply % 41 == 40
                 else ((number * 7919 + ply * 104729) % 1201 - 600) / 100 for ply in range(len(moves))]
        clocks = [float(max(0, 600 - ply * 3 - number % 17)) for ply in range(len(moves))]
        plain.append(gen.pgn(moves, game.tags, game.fen, game.result))
        noted.append(gen.pgn(moves, game.tags, game.fen, game.result, evals=evals, clocks=clocks))
    bare.write_text("\n".join(plain))
    annotated.write_text("\n".join(noted))
    return bare, annotated


def best(fn):
    """The least CPU time of a few runs (the machine may be shared), and fn's result."""
    times = []
    result = None
    for _ in range(RUNS):
        start = time.process_time()
        result = fn()
        times.append(time.process_time() - start)
    return min(times), result


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build").resolve()
    path, games = bench_file(build)
    bare, annotated = derived_files(build, path)
    print(f"bench file: {path} ({games} games, {path.stat().st_size / 1e6:.1f} MB)")
    print(f"load: {os.getloadavg()[0]:.2f}")

    tool = build / "vemla_pgn"
    for name, file in (("", path), (" bare", bare), (" annotated", annotated)):
        if not tool.exists():
            print(f"vemla_pgn: not built ({tool})")
            break
        rates = []
        for _ in range(RUNS):
            out = subprocess.run([str(tool), str(file)], capture_output=True, text=True, check=True).stdout
            fields = dict(line.split(": ") for line in out.strip().splitlines())
            rates.append((float(fields["moves/s"]), float(fields["games/s"]), fields))
        moves_rate, games_rate, fields = max(rates, key=lambda r: r[0])
        print(f"vemla_pgn{name}: {moves_rate / 1e6:.2f} M moves/s, {games_rate:,.0f} games/s "
              f"({fields['games']} games, {fields['moves']} moves, {fields['errors']} errors)")

    gen = vemla_chess.MoveGenerator()

    def read_all(file=path):
        n = moves = 0
        for game in gen.read_pgn(file):
            n += 1
            moves += len(game.moves)
        return n, moves

    seconds, (n, moves) = best(read_all)
    print(f"read_pgn: {n / seconds:,.0f} games/s, {moves / seconds / 1e6:.2f} M moves/s ({seconds:.2f} s)")
    bare_seconds, (n, moves) = best(lambda: read_all(bare))
    print(f"read_pgn bare: {n / bare_seconds:,.0f} games/s ({bare_seconds:.2f} s)")
    annotated_seconds, (n, moves) = best(lambda: read_all(annotated))
    print(f"read_pgn annotated: {n / annotated_seconds:,.0f} games/s ({annotated_seconds:.2f} s, "
          f"{bare_seconds / annotated_seconds:.2f}x the bare file's rate)")

    def refuse_all():
        return sum(1 for _ in gen.read_pgn(path, keep=lambda tags: False))

    refused, _ = best(refuse_all)
    print(f"read_pgn, keep refusing every game: {games / refused:,.0f} games/s "
          f"({seconds / refused:.1f}x reading them)")

    def keep_rated():
        return sum(1 for _ in gen.read_pgn(path, keep=lambda tags: tags.get("WhiteElo", "0") > "2000"))

    filtered, kept = best(keep_rated)
    print(f"read_pgn, keep WhiteElo > 2000 ({kept} of {games} games): {games / filtered:,.0f} games/s")
    print(f"load: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
