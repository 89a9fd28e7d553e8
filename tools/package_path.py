"""Puts this checkout's python/ folder (the vemla_chess_data package) first on
sys.path, for the tools run from the checkout: `import package_path` before
importing the package. Installed, the same tools are the commands vemla-perft
and vemla-dataset and need none of this."""
import os
import sys

PACKAGE_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "python")
sys.path.insert(0, PACKAGE_DIR)
