"""Shared set-up for the Python tests of vemla_chess.

The extension is imported from VEMLA_MODULE_DIR (default: <repo>/build/python),
which goes first on sys.path so that a stale installed copy cannot shadow the
build under test.
"""
import importlib
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

# Set by ./test.sh for Debian's python3, which must run every test: there a
# module that cannot be imported is a broken installation, not a skip.
REQUIRE_OPTIONAL = os.environ.get("VEMLA_REQUIRE_OPTIONAL", "") not in ("", "0")


def optional_import(name):
    """The module `name`, or None where this interpreter cannot import it.

    numpy and hypothesis come from Debian's packages, built for Debian's
    python3; other interpreters (tools/test_pythons.sh) may find only an
    incompatible copy or none, and skip the tests that need them. Only
    ImportError counts as "cannot import": any other failure is a fault.
    """
    try:
        return importlib.import_module(name)
    except ImportError:
        if REQUIRE_OPTIONAL:
            raise
        return None


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
