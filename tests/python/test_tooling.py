"""The script that tests the module on every supported Python."""
import os
import subprocess
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "tools" / "test_pythons.sh"


def test_missing_interpreters_are_reported_not_failed(tmp_path):
    # No pyenv and a PATH whose only Python is Debian's, which is skipped as
    # already tested: nothing is built, every version is accounted for.
    env = dict(os.environ, PYENV_ROOT=str(tmp_path / "no-pyenv"), PATH="/usr/bin:/bin")
    done = subprocess.run(["bash", str(SCRIPT), "--skip", "/usr/bin/python3"], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "Python versions:"
    report = {line.split()[0]: line for line in lines[1:]}
    assert sorted(report) == ["3.10", "3.11", "3.12", "3.13"]
    # Whichever version Debian's python3 is, it is the one skipped.
    debian = subprocess.run(["/usr/bin/python3", "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                            capture_output=True, text=True, check=True).stdout.strip()
    for version in report:
        if version != debian:
            assert report[version].endswith("not found on this machine, not tested")
    assert report[debian].endswith("/usr/bin/python3: skipped (tested elsewhere)")


def test_an_interpreter_that_is_not_there_fails():
    done = subprocess.run(["bash", str(SCRIPT), "/nonexistent/python3.12"],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert "/nonexistent/python3.12: not an executable" in done.stdout


# The command-line tools as a new user meets them: ./run.sh (tools/perft.py),
# tools/screenshot.py and tools/python.
import pty  # noqa: E402
import select  # noqa: E402
import signal  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

import pytest  # noqa: E402

from chess_util import signals_at_default  # noqa: E402

REPO = SCRIPT.parents[1]
MATED = "k7/1Q6/1K6/8/8/8/8/8 b - -"  # black is checkmated


def tool_env(**extra):
    from conftest import MODULE_DIR

    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    return dict(os.environ, PYTHONPATH=path, **extra)


def perft(*args, **extra):
    return subprocess.run([sys.executable, str(REPO / "tools" / "perft.py"), *map(str, args)],
                          env=tool_env(**extra), capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("args, position, depth, total", [
    ((), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 6, None),
    (("2",), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 2, 400),
    (("startpos", "1"), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 1, 20),
    (("startpos",), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 6, None),
    # No tree below a mate, however deep: nothing to refuse.
    ((MATED, "60"), MATED, 60, 0),
])
def test_perft_reads_a_lone_depth_and_startpos(args, position, depth, total):
    if total is None:  # only the reading of the arguments: refuse at once through a bad --jobs
        done = perft(*args, "--jobs", "0")
        assert done.returncode == 2 and "--jobs must be at least 1" in done.stderr
        return
    done = perft("--jobs", "1", *args)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith(f"position: {position}\ndepth: {depth}\n")
    assert f"\nNodes searched: {total}\n" in done.stdout


@pytest.mark.parametrize("args, message", [
    (("99",), "depth 99 means about 2.0e+133 leaf nodes from this position, hours of counting or far more; "
              "give --force"),
    (("startpos", "9"), "depth 9 means about 1.1e+12 leaf nodes"),
    (("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "w", "KQkq", "-", "3"),
     'a FEN is one argument: put it in quotes, e.g. ./run.sh "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR '
     'w KQkq -" 3'),
    (("8/8/8/8/8/8/8/8", "w"), "a FEN is one argument"),
    (("startpos", "six"), "the depth must be a whole number, not 'six'"),
    (("0",), "the depth must be at least 1"),
])
def test_perft_refuses_what_it_cannot_do_with_the_usage_of_run_sh(args, message):
    done = perft(*args, VEMLA_PERFT_PROG="./run.sh")
    assert done.returncode == 2 and done.stdout == ""
    usage, error = done.stderr.splitlines()
    assert usage.startswith("usage: ./run.sh [-h] [--jobs N | --scheduler ADDRESS] [--force] [FEN | startpos] [DEPTH]")
    assert error.startswith("./run.sh: error: " + message), error


def test_perft_ends_quietly_when_its_reader_goes_away():
    # ./run.sh ... | head -3
    process = subprocess.Popen([sys.executable, str(REPO / "tools" / "perft.py"), "--jobs", "2", "5"],
                               env=tool_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = [process.stdout.readline() for _ in range(3)]
    process.stdout.close()
    err = process.stderr.read()
    process.wait(120)
    assert lines[0].startswith("position: ")
    assert process.returncode == 128 + signal.SIGPIPE and err == "", err


def test_perft_shows_progress_on_a_terminal_from_the_start(launched_in_the_background):
    leader, follower = pty.openpty()
    process = subprocess.Popen([sys.executable, str(REPO / "tools" / "perft.py"), "--jobs", "2", "7"],
                               env=tool_env(), stdout=subprocess.DEVNULL, stderr=follower, start_new_session=True,
                               preexec_fn=signals_at_default)
    os.close(follower)
    try:
        seen = b""
        deadline = time.monotonic() + 120
        while b"s " not in seen and time.monotonic() < deadline:
            if select.select([leader], [], [], 1.0)[0]:
                seen += os.read(leader, 1024)
        # The first thing shown is what the run is doing, before any task has finished.
        assert seen.startswith(b"\r... starting the workers, 0 s") or seen.startswith(b"\r... 0/"), seen
    finally:
        os.killpg(process.pid, signal.SIGINT)
        process.wait(120)
        os.close(leader)
    assert process.returncode == 130


def test_screenshot_help_and_no_argument_leave_the_readme_picture_alone():
    script = REPO / "tools" / "screenshot.py"
    picture = REPO / "docs" / "board.png"
    before = picture.read_bytes()
    helped = subprocess.run([sys.executable, str(script), "--help"], env=tool_env(), capture_output=True,
                            text=True, timeout=60)
    assert helped.returncode == 0 and helped.stdout.startswith("usage: screenshot.py [-h] [--size SIZE] OUTPUT.png")
    bare = subprocess.run([sys.executable, str(script)], env=tool_env(), capture_output=True, text=True, timeout=60)
    assert bare.returncode == 2 and "the following arguments are required: OUTPUT.png" in bare.stderr
    assert picture.read_bytes() == before


def test_a_tool_without_numpy_names_its_interpreter(tmp_path):
    # A numpy that cannot be imported, first on the path: wherever this
    # interpreter finds the real one (site-packages, or Debian's packages on
    # PYTHONPATH), the tool meets the failure.
    blocker = tmp_path / "no-numpy" / "numpy"
    blocker.mkdir(parents=True)
    (blocker / "__init__.py").write_text("raise ImportError('numpy is hidden from this test')\n")
    env = tool_env()
    env["PYTHONPATH"] = os.pathsep.join((str(blocker.parent), env["PYTHONPATH"]))
    done = subprocess.run([sys.executable, str(REPO / "tools" / "selfplay.py"), str(tmp_path / "out")],
                          env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert f"selfplay.py needs numpy, which {sys.executable} cannot import: run it with tools/python" in done.stderr
