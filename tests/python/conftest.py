"""Shared set-up for the Python tests of vemla_chess.

The extension is imported from VEMLA_MODULE_DIR (default: <repo>/build/python),
which goes first on sys.path so that a stale installed copy cannot shadow the
build under test.
"""
import ast
import importlib
import inspect
import os
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
MODULE_DIR = os.path.abspath(os.environ.get("VEMLA_MODULE_DIR", str(REPO / "build" / "python")))
sys.path.insert(0, MODULE_DIR)
# Plain helpers shared by the test files live next to this file.
sys.path.insert(1, str(Path(__file__).resolve().parent))
# The pure-Python dataset package, here and in the workers the tests start
# (a Dask LocalCluster's workers take the path from the environment).
PACKAGE_DIR = str(REPO / "python")
sys.path.insert(2, PACKAGE_DIR)
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [PACKAGE_DIR, os.environ.get("PYTHONPATH")]))

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


def optional_dask():
    """distributed (Dask), or None where this interpreter cannot use it.

    Debian's Dask is pure Python written for Debian's python3; on a newer
    interpreter its imports fail with errors other than ImportError
    (TypeError from typing_extensions on 3.12), which mean the same here."""
    try:
        return optional_import("distributed")
    except Exception:
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


def _lambda_source(function):
    """The body of a one-line lambda as written in the test file, or None."""
    try:
        line = inspect.getsourcelines(function)[0][0]
    except (OSError, TypeError, IndexError):
        return None
    # The lambda starts its own item in a list of cases: "(lambda b, g: body, ...)".
    text = line.strip().lstrip("(*").rstrip(",")
    for candidate in (text, text.rsplit(",", 1)[0]):
        # Close what the line leaves open; drop what closes an enclosing list.
        candidate = candidate.rstrip(")")
        candidate += ")" * (candidate.count("(") - candidate.count(")"))
        try:
            tree = ast.parse(candidate)
        except SyntaxError:
            continue
        for node in ast.walk(tree):
            if isinstance(node, ast.Lambda) and node.lineno == 1:
                return ast.get_source_segment(candidate, node.body)
    return None


def pytest_make_parametrize_id(config, val, argname):
    """Test ids that say what a case tests: a call as written, a move list, a
    short text. Large values keep pytest's own id (the name and an index)."""
    from chess_util import EMPTY, START

    if callable(val) and getattr(val, "__name__", "") == "<lambda>":
        return _lambda_source(val)
    if isinstance(val, str):
        text = val.replace(START, "start").replace(EMPTY, "empty")
        # Control characters and lone surrogates as escapes, the rest as is.
        text = "".join(c if c.isprintable() else c.encode("unicode_escape").decode() for c in text)
        return text if len(text) <= 60 else text[:57] + "..."
    if isinstance(val, (list, tuple)) and all(isinstance(v, str) and len(v) <= 5 for v in val):
        moves = " ".join(val)
        return moves if len(moves) <= 30 else None
    return None


@pytest.fixture
def launched_in_the_background():
    """The test runs as under `nohup pytest ... &` in a script: SIGINT and
    SIGHUP ignored and SIGTERM blocked in this process, so in every child it
    starts that does not reset them (chess_util.signals_at_default). A test of
    how a tool stops then passes or fails the same whatever started the run."""
    import signal

    saved = {number: signal.signal(number, signal.SIG_IGN) for number in (signal.SIGINT, signal.SIGHUP)}
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        for number, handler in saved.items():
            signal.signal(number, handler)


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
    from vemla_chess_data.pool import open_pool

    with open_pool(2, "local") as pool:
        yield pool
