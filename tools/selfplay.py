#!/usr/bin/env python3
"""Self-play datasets: the dataset tool's self-play source under its old name.

    selfplay.py OUT_DIR [--games N] [--seed S] [--games-per-shard G] [--max-plies P]
                        [--jobs N | --scheduler ADDRESS]

is `dataset.py selfplay OUT_DIR ...` (installed as `vemla-dataset selfplay`).
See --help for every option with its default.
"""
import sys

import package_path  # noqa: F401  the checkout's vemla_chess_data first on the path
from vemla_chess_data.tool import selfplay_main

if __name__ == "__main__":
    sys.exit(selfplay_main(prog="selfplay.py"))
