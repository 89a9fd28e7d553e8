"""The tools stop when told and leave nothing behind: one Ctrl-C, a killed
parent, a full disk, a fork that fails and a scheduler that is not there, each
with real signals and limits on real processes.

Timings are bounds for a loaded machine ("ends within a minute"), never speeds.
Every test here runs with the stop signals ignored or blocked in this process,
as a launcher may leave them, and starts each tool as a terminal would: the
outcome depends on the tools alone."""
import contextlib
import glob
import os
import resource
import signal
import subprocess
import sys
import threading
import time

import pytest

from chess_util import START, TOOLS, signals_at_default
from conftest import MODULE_DIR, UNDER_ASAN, optional_dask, optional_import
from vemla_chess_data import pool as task_pool
from vemla_chess_data.pool import TaskFailed, open_pool

pytestmark = pytest.mark.usefixtures("launched_in_the_background")
np = optional_import("numpy")
needs_numpy = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
# Long enough to be stopped in the middle on any machine: depth 7 takes a
# minute on two idle cores.
LONG_PERFT = ("--jobs", "2", START, "7")
SELFPLAY = ("--games", "20000", "--games-per-shard", "16", "--jobs", "2")
DEADLINE = 60


def environment():
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    return dict(os.environ, PYTHONPATH=path)


def start(tool, *args, prepare=None):
    """The tool in a session of its own, as a terminal would run it: Ctrl-C goes
    to its whole process group, and every signal starts at its default action.
    prepare() runs in the child before the tool starts."""
    def preexec():
        signals_at_default()
        if prepare:
            prepare()

    return subprocess.Popen([sys.executable, str(TOOLS / tool), *map(str, args)], env=environment(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True, preexec_fn=preexec)


def children(pid):
    """The child processes of pid, whichever of its threads started them."""
    found = []
    for listing in glob.glob(f"/proc/{pid}/task/*/children"):
        with contextlib.suppress(FileNotFoundError):
            with open(listing) as f:
                found += [int(word) for word in f.read().split()]
    return found


def alive(pid):
    """Whether the process exists and is not a zombie."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def wait_for(condition, what, timeout=DEADLINE):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"still waiting after {timeout} s for {what}"
        time.sleep(0.05)


def started_workers(process, count=2):
    """The worker pids, once the tool has forked them and has been at work a moment."""
    wait_for(lambda: len(children(process.pid)) >= count or process.poll() is not None, "the workers")
    assert process.poll() is None, process.communicate()
    time.sleep(1.0)
    return children(process.pid)


def finish(process):
    """(return code, stdout, stderr, seconds taken to end)."""
    begun = time.monotonic()
    out, err = process.communicate(timeout=DEADLINE * 2)
    return process.returncode, out, err, time.monotonic() - begun


def assert_no_temporary_files_and_shards_load(directory):
    from vemla_chess_data import shards  # python/, on the path through conftest

    names = os.listdir(directory)
    assert not [name for name in names if name.endswith(".tmp") or name.startswith(".tmp-")], names
    for name in names:
        if name.startswith("shard-"):
            entry = shards.shard_manifest(str(directory), name)
            assert entry is not None and shards.check_shard(str(directory), name, entry) is None
            assert entry["games"] == 16 and len(np.load(directory / name / "games.npy")) == 16


@pytest.mark.parametrize("tool, args", [
    ("perft.py", LONG_PERFT),
    pytest.param("selfplay.py", SELFPLAY, marks=needs_numpy),
])
def test_one_ctrl_c_stops_the_tool_and_its_workers(tmp_path, tool, args):
    if tool == "selfplay.py":
        args = (tmp_path, *args)
    process = start(tool, *args)
    workers = started_workers(process)
    os.killpg(process.pid, signal.SIGINT)
    code, out, err, took = finish(process)
    assert code == 130 and took < DEADLINE, (code, took, err)
    assert "Traceback" not in err
    wait_for(lambda: not any(map(alive, workers)), "the workers to end")
    if tool == "selfplay.py":
        assert "interrupted" in err.splitlines()[-1]
        assert_no_temporary_files_and_shards_load(tmp_path)


@pytest.mark.parametrize("how", [signal.SIGKILL, signal.SIGTERM, signal.SIGHUP])
def test_workers_die_with_their_parent(how):
    # Only the parent is killed, as `kill PID` would: the workers must not stay
    # behind holding the output pipe open, or `./run.sh ... | cat` never ends.
    process = start("perft.py", *LONG_PERFT)
    workers = started_workers(process)
    os.kill(process.pid, how)
    process.communicate(timeout=DEADLINE)  # reaches end of file only when no worker holds the pipe
    assert process.returncode == -how
    wait_for(lambda: not any(map(alive, workers)), "the workers to end")


@needs_numpy
def test_a_full_disk_ends_the_run_with_the_finished_shards_intact(tmp_path):
    # Files of at most 128 KiB: about half of these shards fit.
    limit = 128 * 1024
    process = start("selfplay.py", tmp_path, *SELFPLAY,
                    prepare=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
    code, out, err, took = finish(process)
    assert code == 1 and took < DEADLINE, (code, took, err)
    assert "Traceback" not in err
    assert f"selfplay.py: failed: cannot write to {tmp_path}: File too large" in err
    assert_no_temporary_files_and_shards_load(tmp_path)


def forks_that_fail_after(monkeypatch, count):
    real_fork = os.fork
    calls = []

    def fork():
        calls.append(1)
        if len(calls) > count:
            raise BlockingIOError(11, "Resource temporarily unavailable")
        return real_fork()

    monkeypatch.setattr(task_pool.os, "fork", fork)


def test_a_fork_that_fails_is_reported_and_the_started_workers_are_stopped(monkeypatch):
    before = set(children(os.getpid()))
    forks_that_fail_after(monkeypatch, 2)
    with pytest.raises(TaskFailed, match=r"cannot start worker process 3 of 4: Resource temporarily "
                                         r"unavailable; ask for fewer with --jobs"):
        open_pool(4).__enter__()
    assert not [pid for pid in children(os.getpid()) if pid not in before and alive(pid)]


def kill_self(value):
    os.kill(os.getpid(), signal.SIGKILL)


def test_a_pool_that_cannot_replace_a_dead_worker_fails_cleanly(monkeypatch):
    with open_pool(2) as pool:
        forks_that_fail_after(monkeypatch, 0)
        with pytest.raises(TaskFailed, match="cannot start worker process 2 of 2"):
            list(pool.run(kill_self, [(1,)]))


def test_a_run_left_early_does_not_leak_into_the_next(two_process_pool):
    results = two_process_pool.run(pow, [(k, 2) for k in range(400)])
    next(results)
    results.close()
    assert sorted(two_process_pool.run(pow, [(k, 3) for k in range(50)])) == [(k, k ** 3) for k in range(50)]


@pytest.fixture
def two_process_pool():
    with open_pool(2) as pool:
        yield pool


def run(tool, *args):
    return subprocess.run([sys.executable, str(TOOLS / tool), *map(str, args)], env=environment(),
                          capture_output=True, text=True, timeout=DEADLINE)


@pytest.mark.parametrize("args, message", [
    (("--jobs", "100000"), "--jobs 100000 is more than this machine can use: at most"),
    (("--jobs", "0"), "--jobs must be at least 1"),
    (("--scheduler", ""), "--scheduler: the scheduler address is empty"),
    (("--scheduler", "garbage://x"), "--scheduler: unknown scheme 'garbage'"),
    (("--scheduler", "tcp://127.0.0.1:99999"), "the port must be a number from 1 to 65535"),
    (("--scheduler", "tcp://127.0.0.1"), "lacks a host or a port"),
    (("--scheduler", "tcp://h:1", "--jobs", "2"), "--jobs applies to this machine"),
])
def test_pool_arguments_that_cannot_work_are_refused_at_once(args, message):
    for tool in ("perft.py", "selfplay.py"):
        done = run(tool, *args, *(["out"] if tool == "selfplay.py" else []))
        assert done.returncode == 2 and message in done.stderr, (tool, done.stderr)
        assert "Traceback" not in done.stderr


distributed = optional_dask() if not UNDER_ASAN else None
needs_dask = pytest.mark.skipif(distributed is None, reason="Dask is not available here")


def free_port():
    import socket

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@needs_dask
def test_a_scheduler_that_is_not_there_is_reported_at_once():
    begun = time.monotonic()
    done = run("perft.py", "--scheduler", f"tcp://127.0.0.1:{free_port()}", START, 1)
    assert done.returncode == 1 and time.monotonic() - begun < task_pool.CONNECT_TIMEOUT
    assert "cannot reach the Dask scheduler at tcp://127.0.0.1:" in done.stderr
    assert "Connection refused" in done.stderr and "Traceback" not in done.stderr


@needs_dask
def test_ctrl_c_on_a_local_cluster_prints_one_line():
    process = start("perft.py", "--scheduler", "local", *LONG_PERFT)
    lines = []
    reader = threading.Thread(target=lambda: lines.extend(process.stdout), daemon=True)
    reader.start()
    # Once the first root move is counted the cluster is surely up.
    wait_for(lambda: any(line.startswith("b1c3") for line in lines) or process.poll() is not None,
             "the first count", timeout=240)
    assert process.poll() is None, process.stderr.read()
    os.killpg(process.pid, signal.SIGINT)
    process.wait(DEADLINE)
    err = process.stderr.read()
    assert process.returncode == 130, err
    # Dask may log at start-up (purging what a killed worker left behind); on
    # Ctrl-C the tool says one thing.
    assert err.splitlines()[-1] == "interrupted", err
    assert "Traceback" not in err and "KeyboardInterrupt" not in err, err
