"""Perft split into tasks and merged again: in this process, on two worker
processes and on a two-worker Dask LocalCluster, including the loss of a worker."""
import os
from pathlib import Path
import signal
import subprocess
import sys
import time

import pytest
from vemla_chess import Board

from chess_util import DATA, START, TOOLS, perft
from conftest import ASAN_SKIP, MODULE_DIR, UNDER_ASAN, optional_dask
from vemla_chess_data import perft as perft_tool
from vemla_chess_data.pool import InlinePool, ProcessPool, TaskFailed, open_pool

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"


def known_counts():
    """(FEN, {depth: nodes}) of the standard positions, from Stockfish."""
    out = []
    for line in (DATA / "perft_standard.epd").read_text().splitlines():
        fen, *fields = line.split(";")
        out.append((fen.strip(), {int(f.split()[0][1:]): int(f.split()[1]) for f in fields}))
    return out


def stockfish_divides():
    blocks = {}
    for chunk in (DATA / "divide_d2.txt").read_text().strip().split("\n\n"):
        lines = chunk.strip().splitlines()
        blocks[lines[0][4:]] = {move: int(n) for move, n in (line.split() for line in lines[1:])}
    return blocks


@pytest.fixture(scope="module")
def two_processes():
    with open_pool(2) as pool:
        assert isinstance(pool, ProcessPool)
        yield pool


def check_divide(pool, gen, fen, depth, expected_total, **split):
    result = perft_tool.divide(pool, fen, depth, **split)
    assert [move for move, _ in result] == gen(Board(fen)), "moves out of the generator's order"
    assert sum(n for _, n in result) == expected_total, f"{fen} depth {depth} split {split}"
    return result


# Root moves only, then tasks as far down as the depth allows with at least
# 0, 1 or 2 plies left in each.
SPLITS = [dict(min_tasks=1), *(dict(min_tasks=10**9, min_task_depth=d) for d in (0, 1, 2))]


def test_divide_matches_known_counts(gen, two_processes):
    for fen, counts in known_counts():
        for depth in (1, 2, 3):
            for split in SPLITS[:3] if depth < 3 else SPLITS[::2]:
                check_divide(InlinePool(), gen, fen, depth, counts[depth], **split)
        # Two processes: root tasks, tasks one ply further down, and the split
        # the command line uses (the same code moves the tasks and merges them).
        check_divide(two_processes, gen, fen, 3, counts[3], min_tasks=1)
        check_divide(two_processes, gen, fen, 3, counts[3], min_tasks=10**9, min_task_depth=1)
        check_divide(two_processes, gen, fen, 4, counts[4])


def test_divide_per_move_matches_stockfish(gen):
    # Splitting two plies below the root makes every task a single leaf, and
    # moves that lead to mate or stalemate must still be reported, with 0.
    pool = InlinePool()
    for fen, expected in stockfish_divides().items():
        result = perft_tool.divide(pool, fen, 2, min_tasks=10**9, min_task_depth=0)
        assert dict(result) == expected, fen


def test_moves_are_reported_in_order_as_soon_as_complete(two_processes):
    reported, progress = [], []
    result = perft_tool.divide(two_processes, KIWIPETE, 3, on_move=lambda m, n: reported.append((m, n)),
                               on_task=lambda done, total: progress.append((done, total)),
                               min_tasks=10**9, min_task_depth=1)
    assert reported == result
    total = progress[-1][1]
    # Progress starts from 0 before any task has run.
    assert progress == [(k, total) for k in range(total + 1)] and total == 2039


def die_once(marker, value):
    """Kills its own process the first time any worker runs it."""
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL))
    except FileExistsError:
        return value
    os.kill(os.getpid(), signal.SIGKILL)


def always_die(value):
    os.kill(os.getpid(), signal.SIGKILL)


def test_process_pool_recovers_from_a_killed_worker(tmp_path):
    with open_pool(2) as pool:
        results = list(pool.run(die_once, [(str(tmp_path / "marker"), k) for k in range(50)]))
        assert sorted(results) == [(k, k) for k in range(50)]
        assert pool.restarts == 1
        # A pool works on after a restart.
        assert sorted(pool.run(pow, [(k, 2) for k in range(5)])) == [(k, k * k) for k in range(5)]


def test_a_send_to_a_dead_worker_reruns_its_batch_once():
    """The worker dies before its batch is sent: the batch must run again
    exactly once, not once for the queue and once for the dead worker."""
    with open_pool(2) as pool:
        send, broken = pool._send, []

        def send_to_a_dead_worker(worker, function, batch, pending):
            if broken:
                return send(worker, function, batch, pending)
            broken.append(batch)
            os.kill(worker.pid, signal.SIGKILL)
            os.waitpid(worker.pid, 0)
            return send(worker, function, batch, pending)

        pool._send = send_to_a_dead_worker
        try:
            results = list(pool.run(pow, [(k, 2) for k in range(40)]))
        except BrokenPipeError:
            pytest.skip("the pipe took the message before the worker's end was seen")
        assert broken and sorted(results) == [(k, k * k) for k in range(40)]
        assert pool.restarts == 1


def counted(tasks, taken):
    """The tasks, counting in taken[0] how many have been read."""
    for task in tasks:
        taken[0] += 1
        yield task


def test_a_generator_of_tasks_is_read_as_workers_need_them(tmp_path):
    """Every task of a generator runs once, also across a worker's death, and
    the pool holds only a few of them at any time (two per worker)."""
    with open_pool(2) as pool:
        taken = [0]
        seen = []
        for index, result in pool.run(pow, counted([(k, 2) for k in range(40)], taken)):
            seen.append((index, result))
            assert taken[0] <= len(seen) + 4
        assert sorted(seen) == [(k, k * k) for k in range(40)]
        results = list(pool.run(die_once, counted([(str(tmp_path / "marker"), k) for k in range(30)], taken)))
        assert sorted(results) == [(k, k) for k in range(30)] and pool.restarts == 1
        assert list(pool.run(pow, iter([]))) == []


def test_process_pool_gives_up_on_a_task_that_always_kills_its_worker():
    with open_pool(2) as pool, pytest.raises(TaskFailed, match="died 4 times"):
        list(pool.run(always_die, [(1,)]))


@pytest.mark.parametrize("path, message", [
    (("e3e4",), "RuntimeError: PanicException: no piece on e3 to move"),
    (("e2e9",), "assertion failed"),
    (("e2e4x",), "ValueError: Invalid chess move"),
])
def test_worker_errors_come_back_as_task_failures(two_processes, path, message):
    # PanicException cannot be pickled by name; the worker sends its text.
    with pytest.raises(TaskFailed, match=message):
        list(two_processes.run(perft_tool.count_task, [(START, path, 1)]))


def run_tool(*args, timeout=240):
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    env = dict(os.environ, PYTHONPATH=path)
    return subprocess.run([sys.executable, str(TOOLS / "perft.py"), *map(str, args)],
                          env=env, capture_output=True, text=True, timeout=timeout)


def test_command_output_is_the_same_for_every_job_count():
    outputs = [run_tool("--jobs", jobs, KIWIPETE, 3) for jobs in (1, 2)]
    assert all(done.returncode == 0 for done in outputs), outputs[0].stderr + outputs[1].stderr
    counts = [done.stdout.split("\nTime:")[0] for done in outputs]
    assert counts[0] == counts[1]
    assert counts[0].startswith(f"position: {KIWIPETE}\ndepth: 3\n\ne1f1: 1855\n")
    assert counts[0].endswith("\nNodes searched: 97862")
    bad = run_tool("--jobs", 0)
    assert bad.returncode == 2 and "--jobs must be at least 1" in bad.stderr


# Dask: the tests below share the session's two-worker LocalCluster
# (conftest.py); the one that kills a worker runs last.
distributed = optional_dask()
needs_dask = pytest.mark.skipif(distributed is None or UNDER_ASAN,
                                reason=ASAN_SKIP if UNDER_ASAN else "Dask (python3-distributed) is not installed")


@needs_dask
def test_local_cluster_counts_like_one_process(gen, cluster):
    assert cluster.workers == 2
    for fen, counts in known_counts()[:2]:
        check_divide(cluster, gen, fen, 3, counts[3], min_tasks=1)
    fen, counts = known_counts()[2]
    check_divide(cluster, gen, fen, 4, counts[4], min_tasks=10**9, min_task_depth=2)


@needs_dask
def test_local_cluster_reads_a_generator_of_tasks_as_needed(cluster):
    taken = [0]
    big = bytes(3 << 20)  # travels inside the tasks, without a warning
    seen = []
    for index, result in cluster.run(len, counted([(big[:k << 20],) for k in range(12)], taken)):
        seen.append((index, result))
        assert taken[0] <= len(seen) + 4
    assert sorted(seen) == [(k, min(k, 3) << 20) for k in range(12)]


@needs_dask
def test_local_cluster_recomputes_the_tasks_of_a_killed_worker(gen, cluster):
    pids = cluster.client.run(os.getpid)
    killed = []

    def kill_one_worker(done, total):
        if not killed:
            pid = pids[sorted(pids)[0]]
            os.kill(pid, signal.SIGKILL)
            killed.append(pid)

    # 48 root tasks spread over both workers; one of them dies after the first result.
    check_divide(cluster, gen, KIWIPETE, 4, 4085603, on_task=kill_one_worker, min_tasks=1)
    assert killed
    # The nanny restarts the worker; the cluster goes on with two.
    deadline = time.monotonic() + 60
    while len(cluster.client.nthreads()) < 2 and time.monotonic() < deadline:
        time.sleep(0.2)
    assert killed[0] not in cluster.client.run(os.getpid).values()


@needs_dask
def test_worker_without_the_module_is_named_not_waited_for(tmp_path):
    scheduler = distributed.LocalCluster(n_workers=0, dashboard_address=":0")
    # The worker keeps the path to Dask but loses the one to the module.
    env = dict(os.environ)
    path = [p for p in env.pop("PYTHONPATH", "").split(os.pathsep)
            if p and not any(Path(p).glob("vemla_chess*"))]
    if path:
        env["PYTHONPATH"] = os.pathsep.join(path)
    worker = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", scheduler.scheduler_address,
                               "--nthreads", "1", "--no-nanny", "--no-dashboard"],
                              cwd=tmp_path, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        with pytest.raises(TaskFailed, match=r"(?s)1 Dask worker\(s\) cannot run the tasks:.*"
                                             r"cannot import vemla_chess.*pip install"):
            with open_pool(scheduler=scheduler.scheduler_address):
                pass
    finally:
        worker.terminate()
        worker.wait(30)
        scheduler.close()
