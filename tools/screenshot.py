#!/usr/bin/env python3
"""Renders a picture of a board, as the README shows it: Board.svg() drawn by librsvg.

    tools/screenshot.py OUTPUT.png

The README's picture is docs/board.png: name it to make it again. Needs the
built module (VEMLA_MODULE_DIR, default build/python) and rsvg-convert
(Debian package librsvg2-bin).
"""
import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
# The position after 1. e4 e5 2. Nf3 Nc6 3. Bb5 a6, from White's side.
MOVES = ["e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6"]


def main(argv) -> int:
    parser = argparse.ArgumentParser(prog="screenshot.py", description=__doc__.split("\n\n")[0],
                                     epilog="The README's picture is docs/board.png: name it to make it again.")
    parser.add_argument("output", metavar="OUTPUT.png", type=Path, help="where to write the PNG picture")
    parser.add_argument("--size", type=int, default=360, help="width and height in pixels (default 360)")
    args = parser.parse_args(argv)
    if shutil.which("rsvg-convert") is None:
        print("screenshot.py needs rsvg-convert: apt-get install librsvg2-bin", file=sys.stderr)
        return 1
    sys.path.insert(0, os.environ.get("VEMLA_MODULE_DIR", str(REPO / "build" / "python")))
    try:
        from vemla_chess import Board
    except ImportError as error:
        print(f"{sys.executable} cannot import vemla_chess ({error}); build it with ./run.sh first",
              file=sys.stderr)
        return 1
    board = Board()
    for move in MOVES:
        board.push(move)
    done = subprocess.run(["rsvg-convert", "--format=png", "--output", str(args.output)],
                          input=board.svg(size=args.size).encode(), stderr=subprocess.PIPE)
    if done.returncode != 0:
        print(f"rsvg-convert failed: {done.stderr.decode(errors='replace').strip()}", file=sys.stderr)
        return 1
    print(f"{args.output}: {board.fen()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
