"""Shared set-up for the Python tests of vemla_chess.

The extension is imported from VEMLA_MODULE_DIR (default: <repo>/build/python),
which goes first on sys.path so that a stale installed copy cannot shadow the
build under test.
"""
import os
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
MODULE_DIR = os.path.abspath(os.environ.get("VEMLA_MODULE_DIR", str(REPO / "build" / "python")))
sys.path.insert(0, MODULE_DIR)
# Plain helpers shared by the test files live next to this file.
sys.path.insert(1, str(Path(__file__).resolve().parent))

import vemla_chess  # noqa: E402

from chess_util import panic_type  # noqa: E402


@pytest.fixture(scope="session")
def vc():
    return vemla_chess


@pytest.fixture(scope="session")
def gen():
    """One generator for the whole run: it holds 4 MiB of tables."""
    return vemla_chess.MoveGenerator()


@pytest.fixture(scope="session")
def Panic():
    return panic_type()


# Under the sanitizers the preloaded runtime follows every child process; Dask's
# workers would only add minutes there, with no native code of ours to check.
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")
ASAN_SKIP = "Dask clusters are left out of the sanitizer run"


@pytest.fixture(scope="session")
def cluster():
    """A two-worker Dask LocalCluster, as the tools open it (started on first use)."""
    if UNDER_ASAN:
        pytest.skip(ASAN_SKIP)
    pytest.importorskip("distributed", reason="Dask (python3-distributed) is not installed")
    from task_pool import open_pool  # tools/, on the path through chess_util

    with open_pool(2, "local") as pool:
        yield pool
