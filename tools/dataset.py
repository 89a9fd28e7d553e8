#!/usr/bin/env python3
"""Runs the dataset tool from a checkout: python3 tools/dataset.py --help.

The same tool is installed by `pip install .` as the command vemla-dataset.
It needs the vemla_chess module on the path (PYTHONPATH=build/python) and an
interpreter that has numpy: Debian's /usr/bin/python3 with python3-numpy.
"""
import sys

import package_path  # noqa: F401  the checkout's vemla_chess_data first on the path
from vemla_chess_data.tool import main

if __name__ == "__main__":
    sys.exit(main(prog="dataset.py"))
