#!/usr/bin/env python3
"""Renders the README's picture of a board: Board.svg() drawn by librsvg.

    tools/screenshot.py [output.png]     (default: docs/board.png)

Needs the built module (VEMLA_MODULE_DIR, default build/python) and
rsvg-convert (Debian package librsvg2-bin).
"""
import os
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, os.environ.get("VEMLA_MODULE_DIR", str(REPO / "build" / "python")))

from vemla_chess import Board  # noqa: E402

# The position after 1. e4 e5 2. Nf3 Nc6 3. Bb5 a6, from White's side.
MOVES = ["e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6"]


def main() -> int:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else REPO / "docs" / "board.png"
    board = Board()
    for move in MOVES:
        board.push(move)
    subprocess.run(["rsvg-convert", "--format=png", "--output", str(out)],
                   input=board.svg(size=360).encode(), check=True)
    print(f"{out}: {board.fen()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
