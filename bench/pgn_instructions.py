"""Instructions read_pgn spends on the bare and the annotated bench files
(valgrind's cachegrind, which does not depend on the machine's load). Prints
figures only.

    tools/python bench/pgn_instructions.py [build-dir] [--games N] [--vector-copies]

The files are pgn_bench.py's bare and annotated ones (made by it if missing),
cut to their first N games (default 5,000). Each count is that of a whole
interpreter reading the file, less one reading a one-move game, so start-up,
import and the MoveGenerator's tables are not counted. Valgrind counts every
byte that glibc's memcpy moves with "rep movsb" (its way for large copies) as
one instruction; --vector-copies sets glibc's threshold for it out of reach,
so that large copies count as the vector loop they take on most machines.
"""

import os
import pathlib
import re
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import pgn_bench  # noqa: E402

READ = """
import sys, vemla_chess
gen = vemla_chess.MoveGenerator()
for game in gen.read_pgn(sys.argv[1]):
    game.moves
"""


def first_games(path, out, games):
    text = path.read_text()
    at = 0
    for _ in range(games):
        at = text.find("[Event ", at + 1)
        if at < 0:
            at = len(text)
            break
    out.write_text(text[:at])
    return out


def instructions(build, env, *args):
    result = subprocess.run(
        ["valgrind", "--tool=cachegrind", "--cache-sim=no", "--cachegrind-out-file=/dev/null",
         sys.executable, "-c", READ, *args],
        capture_output=True, text=True, env=env, check=True)
    return int(re.search(r"I\s+refs:\s+([\d,]+)", result.stderr).group(1).replace(",", ""))


def main():
    args = sys.argv[1:]
    vector = "--vector-copies" in args
    games = int(args[args.index("--games") + 1]) if "--games" in args else 5000
    rest = [a for i, a in enumerate(args) if not a.startswith("--") and
            (i == 0 or args[i - 1] != "--games")]
    build = pathlib.Path(rest[0] if rest else pgn_bench.ROOT / "build").resolve()
    path, _ = pgn_bench.bench_file(build)
    bare, annotated = pgn_bench.derived_files(build, path)
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    if vector:
        env["GLIBC_TUNABLES"] = "glibc.cpu.x86_rep_movsb_threshold=2147483647"
    empty = build / "pgn_instructions_empty.pgn"
    empty.write_text('[Event "x"]\n\n1. e4 *\n')
    base = instructions(build, env, str(empty))
    counts = {}
    for name, file in (("bare", bare), ("annotated", annotated)):
        cut = first_games(file, build / f"pgn_instructions_{name}.pgn", games)
        counts[name] = instructions(build, env, str(cut)) - base
        print(f"read_pgn {name}, {games} games: {counts[name]:,} instructions")
    print(f"bare / annotated: {counts['bare'] / counts['annotated']:.3f}"
          f"{' (large copies as vector loops)' if vector else ''}")


if __name__ == "__main__":
    main()
