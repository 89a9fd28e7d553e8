"""Runs independent tasks in this process, on worker processes of this machine,
or on a Dask cluster, and hands their results back as they complete.

    with open_pool(jobs=None, scheduler=None) as pool:
        for index, result in pool.run(function, [args, args, ...]):
            ...

`jobs` is the number of worker processes (default: one per core; 1 runs the
tasks in this process). `scheduler` is a Dask scheduler address such as
"tcp://host:8786", or "local" to start a LocalCluster of `jobs` workers here.
Dask is imported only for a scheduler, so the tools run without it.

Task functions run on the workers with nothing but the arguments they are
given: they import vemla_chess themselves (through `worker_module`) and keep
per-process state through `worker_state`, never through module globals. Dask
ships them by value, so a cluster's workers need the vemla_chess module and
nothing from this folder.
"""

import concurrent.futures
import contextlib
import importlib
import logging
import multiprocessing
import os
import signal
import socket
import sys
import types

DASK_MISSING = ("Dask's distributed scheduler is not installed, and --scheduler needs it. "
                "On Debian: apt-get install python3-distributed; elsewhere: pip install distributed.")
# How often a local pool is rebuilt after one of its processes died before the
# run is given up: a task that kills its process every time must not loop forever.
MAX_RESTARTS = 3
# A local pool sends tasks in batches, about this many per worker process.
BATCHES_PER_WORKER = 64
# How long to wait for a cluster's scheduler and for its first worker, in seconds.
CONNECT_TIMEOUT = 20


class TaskFailed(RuntimeError):
    """A task raised an error on its worker, or the workers cannot run tasks at all."""


def default_jobs():
    """One job per core this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def worker_module():
    """The vemla_chess module, imported on the worker, with an error that says what to do when it is missing."""
    try:
        return importlib.import_module("vemla_chess")
    except ImportError as error:
        raise ModuleNotFoundError(
            f"worker on {socket.gethostname()} cannot import vemla_chess ({error}); "
            "install the module there (pip install .) and restart the worker") from None


def worker_state():
    """A namespace that lasts as long as the worker process.

    It is kept in sys.modules rather than in a global of this file because Dask
    unpickles a fresh copy of these functions' globals with each function it
    receives; state held there would be rebuilt again and again."""
    return sys.modules.setdefault("_vemla_worker_state", types.ModuleType("_vemla_worker_state"))


def worker_generator():
    """This process's MoveGenerator, built on first use and then reused (its tables take a millisecond)."""
    state = worker_state()
    if getattr(state, "generator", None) is None:
        state.generator = worker_module().MoveGenerator()
    return state.generator


def chess_call(function, *args):
    """Calls into vemla_chess, turning its PanicException into a RuntimeError.

    PanicException is not reachable by name, so it cannot be pickled back from
    a worker; the text is all that is needed."""
    try:
        return function(*args)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, Exception):
            raise
        raise RuntimeError(f"{type(error).__name__}: {error}") from None


def _describe(args):
    text = repr(args)
    return text if len(text) <= 200 else text[:197] + "..."


class InlinePool:
    """Runs the tasks one after the other in this process."""

    workers = 1

    def run(self, function, tasks):
        for index, args in enumerate(tasks):
            try:
                result = function(*args)
            except Exception as error:
                raise TaskFailed(f"task {_describe(args)} failed: {type(error).__name__}: {error}") from error
            yield index, result

    def close(self, abort=False):
        pass


def _run_batch(function, batch):
    """Worker side: the results of a batch of tasks, or TaskFailed naming the task that failed."""
    return [result for _, result in InlinePool().run(function, batch)]


def _ignore_interrupts():
    # Ctrl-C reaches the whole process group; the parent alone handles it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


class ProcessPool:
    """Worker processes of this machine; a pool whose process died is rebuilt
    and the unfinished tasks are run again."""

    def __init__(self, jobs):
        self.workers = jobs
        # fork starts workers in a few milliseconds, with the modules already imported.
        methods = multiprocessing.get_all_start_methods()
        self.context = multiprocessing.get_context("fork" if "fork" in methods else None)
        self.executor = None
        self.restarts = 0
        self._start()

    def _start(self):
        if self.executor is None:
            self.executor = concurrent.futures.ProcessPoolExecutor(
                max_workers=self.workers, mp_context=self.context, initializer=_ignore_interrupts)
            # With fork every process starts at the first submission: do it now,
            # before the caller starts threads of its own.
            self.executor.submit(int).result()
        return self.executor

    def run(self, function, tasks):
        pending = dict(enumerate(tasks))
        # Tasks travel in small batches: each submission costs the parent a
        # few hundred microseconds of CPU time that the workers could use.
        batch = max(1, len(pending) // (self.workers * BATCHES_PER_WORKER))
        while pending:
            try:
                executor = self._start()
                indices = list(pending)
                futures = {}
                for first in range(0, len(indices), batch):
                    chunk = indices[first:first + batch]
                    future = executor.submit(_run_batch, function, [pending[i] for i in chunk])
                    futures[future] = chunk
                for future in concurrent.futures.as_completed(futures):
                    try:
                        results = future.result()
                    except (concurrent.futures.process.BrokenProcessPool, TaskFailed):
                        raise
                    except Exception as error:  # the batch could not be sent or its results not returned
                        raise TaskFailed(f"a batch of tasks failed: {type(error).__name__}: {error}") from error
                    for index, result in zip(futures[future], results):
                        del pending[index]
                        yield index, result
            except concurrent.futures.process.BrokenProcessPool as error:
                self.close()
                self.restarts += 1
                if self.restarts > MAX_RESTARTS:
                    raise TaskFailed(f"worker processes died {self.restarts} times; "
                                     f"{len(pending)} tasks were not finished") from error

    def close(self, abort=True):
        executor, self.executor = self.executor, None
        if executor is None:
            return
        if abort:
            # Stop running tasks at once: after an error or Ctrl-C nobody wants their results.
            for process in list(getattr(executor, "_processes", {}).values()):
                if process.is_alive():
                    process.terminate()
        executor.shutdown(wait=True, cancel_futures=True)


def import_distributed():
    try:
        return importlib.import_module("distributed")
    except ImportError:
        raise SystemExit(DASK_MISSING) from None


def _probe_worker():
    """Runs on each Dask worker before any task: None, or why it cannot run tasks."""
    try:
        worker_module()
    except ImportError as error:
        return str(error)
    return None


class DaskPool:
    """The workers of a Dask cluster: an existing scheduler, or a LocalCluster
    started here. Dask recomputes the tasks of a worker it loses."""

    def __init__(self, scheduler, jobs):
        distributed = import_distributed()
        self.distributed = distributed
        self.cluster = None
        if scheduler == "local":
            # The workers of a local cluster see the same vemla_chess as this process.
            module_dir = os.path.dirname(worker_module().__file__)
            path = os.pathsep.join(filter(None, [module_dir, os.environ.get("PYTHONPATH")]))
            self.cluster = distributed.LocalCluster(
                n_workers=jobs, threads_per_worker=1, processes=True, dashboard_address=":0",
                silence_logs=logging.ERROR, env={"PYTHONPATH": path})
            self.client = distributed.Client(self.cluster)
        else:
            try:
                self.client = distributed.Client(scheduler, timeout=CONNECT_TIMEOUT)
            except OSError as error:
                raise TaskFailed(f"cannot reach the Dask scheduler at {scheduler}: {error}") from None
        try:
            self._check_workers(scheduler)
        except BaseException:
            self.close()
            raise

    def _check_workers(self, scheduler):
        try:
            self.client.wait_for_workers(1, timeout=CONNECT_TIMEOUT)
        except TimeoutError:
            raise TaskFailed(f"the Dask scheduler at {scheduler} has no workers; start some with "
                             f"`dask worker {scheduler}` (after installing vemla_chess there)") from None
        problems = {address: problem for address, problem in self.client.run(_probe_worker).items() if problem}
        if problems:
            lines = "\n".join(f"  {address}: {problem}" for address, problem in sorted(problems.items()))
            raise TaskFailed(f"{len(problems)} Dask worker(s) cannot run the tasks:\n{lines}")

    @property
    def workers(self):
        return max(1, sum(self.client.nthreads().values()))

    def run(self, function, tasks):
        # Functions of these tools travel by value, so that workers need only vemla_chess.
        cloudpickle = importlib.import_module("cloudpickle")
        here = os.path.dirname(os.path.abspath(__file__))
        for name in {function.__module__, __name__}:
            module = sys.modules.get(name)
            where = getattr(module, "__file__", None)
            if name != "__main__" and where and os.path.dirname(os.path.abspath(where)) == here:
                cloudpickle.register_pickle_by_value(module)
        tasks = list(tasks)
        if not tasks:
            return
        futures = self.client.map(function, *zip(*tasks), pure=False)
        index_of = {future.key: index for index, future in enumerate(futures)}
        try:
            for future in self.distributed.as_completed(futures):
                index = index_of[future.key]
                try:
                    result = future.result()
                except Exception as error:
                    raise TaskFailed(f"task {_describe(tasks[index])} failed: "
                                     f"{type(error).__name__}: {error}") from error
                future.release()
                yield index, result
        finally:
            self.client.cancel(futures)

    def close(self, abort=False):
        self.client.close()
        if self.cluster is not None:
            self.cluster.close()


@contextlib.contextmanager
def open_pool(jobs=None, scheduler=None):
    """The pool for `jobs` and `scheduler` (see the text at the top), closed on leaving."""
    if jobs is not None and jobs < 1:
        raise ValueError("jobs must be at least 1")
    jobs = jobs or default_jobs()
    if scheduler:
        pool = DaskPool(scheduler, jobs)
    elif jobs == 1:
        pool = InlinePool()
    else:
        pool = ProcessPool(jobs)
    try:
        yield pool
    except BaseException:
        pool.close(abort=True)
        raise
    pool.close(abort=False)
