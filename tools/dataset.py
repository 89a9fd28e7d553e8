#!/usr/bin/env python3
"""Runs the dataset tool from a checkout: python3 tools/dataset.py --help.

The same tool is installed by `pip install .` as the command vemla-dataset.
It needs the vemla_chess module on the path (PYTHONPATH=build/python) and an
interpreter that has numpy: Debian's /usr/bin/python3 with python3-numpy.
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE_DIR = os.path.join(ROOT, "python")
sys.path.insert(0, PACKAGE_DIR)
# Workers started afresh (a Dask LocalCluster) find the package the same way.
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [PACKAGE_DIR, os.environ.get("PYTHONPATH")]))

from vemla_chess_data.tool import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(prog="dataset.py"))
