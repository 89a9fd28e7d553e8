#!/usr/bin/env python3
"""Self-play datasets: the dataset tool's self-play source under its old name.

    selfplay.py OUT_DIR [--games N] [--seed S] [--games-per-shard G] [--max-plies P]
                        [--jobs N | --scheduler ADDRESS]

is `dataset.py selfplay OUT_DIR ...` (installed as `vemla-dataset selfplay`):
games of uniformly random legal moves, written as shards of memory-mappable
.npy records that the vemla_chess_data package reads. See --help for every
option with its default.
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE_DIR = os.path.join(ROOT, "python")
sys.path.insert(0, PACKAGE_DIR)
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [PACKAGE_DIR, os.environ.get("PYTHONPATH")]))

from vemla_chess_data import tool  # noqa: E402


def main(argv):
    parser = argparse.ArgumentParser(
        prog="selfplay.py", formatter_class=tool.HelpFormatter,
        description="Plays games of uniformly random legal moves from the starting position and writes them "
                    "as a dataset (the same as dataset.py selfplay). Game g is a function of the seed and g "
                    "only, so the same settings give the same files whatever runs them.")
    parser.add_argument("out_dir", metavar="OUT_DIR", help="the dataset folder (created if missing)")
    tool.add_selfplay_options(parser)
    tool.add_pool_options(parser)
    args = parser.parse_args(argv)
    args.source = "selfplay"
    return tool.execute(parser, args, "selfplay.py")

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
