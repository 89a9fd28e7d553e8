#!/usr/bin/env python3
"""Perft from a checkout, as ./run.sh runs it: python3 tools/perft.py --help.

The same command is installed by `pip install .` as vemla-perft. It needs the
vemla_chess module on the path (PYTHONPATH=build/python).
"""
import sys

import package_path  # noqa: F401  the checkout's vemla_chess_data first on the path
from vemla_chess_data.perft import run

if __name__ == "__main__":
    sys.exit(run(sys.argv))
