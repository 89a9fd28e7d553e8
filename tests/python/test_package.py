"""vemla_chess_data as a library: it imports without the tools' folder and
leaves sys.path alone, each worker process keeps one state (one generator)
for every kind of task, and a local Dask cluster's workers find the package."""
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from chess_util import START, TOOLS
from conftest import ASAN_SKIP, MODULE_DIR, PACKAGE_DIR, UNDER_ASAN, optional_dask, optional_import
from vemla_chess_data import perft, pool

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"


def with_pythonpath(*dirs, package=True):
    """The environment with these folders first on PYTHONPATH, then the ones it
    had (which may hold numpy for this interpreter), with or without the
    folders that hold vemla_chess_data."""
    inherited = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep)
                 if p and (package or not (Path(p) / "vemla_chess_data").exists())]
    return dict(os.environ, PYTHONPATH=os.pathsep.join([*dirs, *inherited]))


def test_the_package_needs_nothing_from_the_tools_folder(tmp_path):
    script = textwrap.dedent(f"""
        import sys
        before = list(sys.path)
        from vemla_chess_data import perft, pool, sources, tool
        assert sys.path == before, "importing the package changed sys.path"
        loaded = [m.__file__ for m in list(sys.modules.values()) if getattr(m, "__file__", None)]
        assert not [f for f in loaded if f.startswith({str(TOOLS)!r})], loaded
        assert {str(TOOLS)!r} not in sys.path
        with pool.open_pool(2) as workers:
            counts = dict(perft.divide(workers, {KIWIPETE!r}, 2))
        print(len(counts), sum(counts.values()))
    """)
    done = subprocess.run([sys.executable, "-c", script], cwd=tmp_path,
                          env=with_pythonpath(MODULE_DIR, PACKAGE_DIR), capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["48", "2039"]


def state_task(_):
    """Counts the tasks the process's state has seen, and checks that the
    perft and dataset paths reach the same state and generator."""
    from vemla_chess_data import pool, sources

    state = pool.worker_state()
    state.tasks_seen = getattr(state, "tasks_seen", 0) + 1
    shared = sources.worker_state() is state and pool.worker_generator() is state.generator
    return os.getpid(), state.tasks_seen, id(state.generator), shared


def check_one_state_per_process(results):
    by_process = {}
    for pid, seen, generator, shared in results:
        assert shared
        by_process.setdefault(pid, []).append((seen, generator))
    for pid, runs in by_process.items():
        seen = sorted(s for s, _ in runs)
        # Never rebuilt: the count goes on from task to task without a restart.
        assert seen == list(range(seen[0], seen[0] + len(seen))), (pid, seen)
        assert len({g for _, g in runs}) == 1, pid
    return by_process


@pytest.mark.parametrize("jobs", [1, 2])
def test_each_process_keeps_one_state_for_every_kind_of_task(jobs):
    tasks = [(k,) for k in range(40)]
    with pool.open_pool(jobs) as workers:
        first = list(workers.run(state_task, tasks))
        # A perft task in between uses the same state and does not reset it.
        assert [r for _, r in workers.run(perft.count_task, [(START, ("e2e4",), 2)] * 4)] == [600] * 4
        second = list(workers.run(state_task, tasks))
    by_process = check_one_state_per_process([r for _, r in first + second])
    assert len(by_process) <= jobs


distributed = optional_dask()
needs_dask = pytest.mark.skipif(distributed is None or UNDER_ASAN,
                                reason=ASAN_SKIP if UNDER_ASAN else "Dask (python3-distributed) is not installed")


@needs_dask
def test_a_cluster_worker_keeps_its_state_across_the_tasks_it_receives(cluster):
    # Dask gives every task it receives a fresh copy of the globals of a
    # function sent by value; the state must outlive them.
    cloudpickle = pytest.importorskip("cloudpickle")
    module = sys.modules[__name__]
    cloudpickle.register_pickle_by_value(module)
    try:
        results = [r for _, r in cluster.run(state_task, [(k,) for k in range(30)])]
    finally:
        cloudpickle.unregister_pickle_by_value(module)
    check_one_state_per_process(results)


@needs_dask
@pytest.mark.skipif(optional_import("numpy") is None, reason="numpy cannot be imported by this interpreter")
def test_a_local_cluster_finds_the_package_the_tool_was_started_from(tmp_path):
    # The package not on PYTHONPATH: the tool finds it from its own folder,
    # and so must the cluster's workers, processes started afresh.
    done = subprocess.run([sys.executable, str(TOOLS / "dataset.py"), "selfplay", str(tmp_path / "out"),
                           "--games", "4", "--games-per-shard", "2", "--scheduler", "local", "--jobs", "2"],
                          env=with_pythonpath(MODULE_DIR, package=False), capture_output=True, text=True,
                          timeout=240)
    assert done.returncode == 0, done.stderr
    assert "2 shards written, 0 already there; the dataset holds 4 games" in done.stdout
