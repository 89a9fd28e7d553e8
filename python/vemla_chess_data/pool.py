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
ships this module and the task's own module by value when the task is one of
this package's (perft's count, a dataset shard), so perft's workers need the
vemla_chess module alone; modules a task only imports (the dataset's records
and shards) travel by name and must be installed on the workers.
"""

import collections
import contextlib
import ctypes
import importlib
import logging
import multiprocessing
import multiprocessing.connection
import os
import signal
import socket
import sys
import threading
import time
import types
import warnings

DASK_MISSING = ("Dask's distributed scheduler is not installed, and --scheduler needs it. "
                "On Debian: apt-get install python3-distributed; elsewhere: pip install distributed.")
# How often a local pool is rebuilt after one of its processes died before the
# run is given up: a task that kills its process every time must not loop forever.
MAX_RESTARTS = 3
# A local pool sends tasks in batches, about this many per worker process.
BATCHES_PER_WORKER = 64
# How long to wait for a cluster's scheduler and for its first worker, in seconds.
CONNECT_TIMEOUT = 20
# How long to wait for a plain TCP connection to a scheduler, in seconds:
# an address where nothing answers is reported at once, not after CONNECT_TIMEOUT.
PROBE_TIMEOUT = 5
SCHEDULER_SCHEMES = ("tcp", "tls", "ws", "wss", "ucx")
# A local pool has at most this many worker processes per core (and at least MIN_MAX_JOBS may be asked for).
JOBS_PER_CORE = 4
MIN_MAX_JOBS = 8
# The longest a pool waits for its workers without looking up, in seconds. A
# signal such as Ctrl-C that the kernel hands to another thread of the process
# does not interrupt the main thread's wait; Python raises it in the main thread
# only once that thread runs again.
SIGNAL_LATENCY = 0.2
# How long idle workers of a pool that closes normally get to stop, in seconds.
SHUTDOWN_GRACE = 10
# The name under which a process keeps its worker_state in sys.modules.
WORKER_STATE = "_vemla_worker_state"


class TaskFailed(RuntimeError):
    """A task raised an error on its worker, or the workers cannot run tasks at all."""


def default_jobs():
    """One job per core this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def max_jobs():
    """The most worker processes a pool of this machine may have: JOBS_PER_CORE
    per core. More processes than cores only add overhead to tasks that compute,
    and a mistyped --jobs 2000 must not try to fork two thousand processes."""
    return max(MIN_MAX_JOBS, JOBS_PER_CORE * default_jobs())


def parse_scheduler(address):
    """(scheme, host, port) of a Dask scheduler address, SCHEME://HOST:PORT or
    HOST:PORT (tcp); raises ValueError saying what is wrong with any other text."""
    expected = "expected tcp://HOST:PORT (or tls://, ws://, wss://, ucx://), or local"
    if not address.strip():
        raise ValueError(f"the scheduler address is empty; {expected}")
    scheme, separator, rest = address.partition("://")
    if not separator:
        scheme, rest = "tcp", address
    if scheme not in SCHEDULER_SCHEMES:
        raise ValueError(f"unknown scheme {scheme!r} in scheduler address {address!r}; {expected}")
    if rest.startswith("["):  # [IPv6]:PORT
        host, bracket, port = rest[1:].partition("]")
        port = port[1:] if bracket and port.startswith(":") else None
    else:
        host, colon, port = rest.rpartition(":")
        if not colon:
            host, port = rest, None
    if not host or port is None:
        raise ValueError(f"scheduler address {address!r} lacks a host or a port; {expected}")
    if not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"scheduler address {address!r}: the port must be a number from 1 to 65535")
    return scheme, host, int(port)


def check_pool_arguments(parser, args):
    """Refuses, through `parser`, a --jobs or --scheduler that no pool could use."""
    if args.jobs is not None and args.jobs < 1:
        parser.error("--jobs must be at least 1")
    if args.jobs is not None and args.jobs > max_jobs():
        parser.error(f"--jobs {args.jobs} is more than this machine can use: at most {max_jobs()} "
                     f"({JOBS_PER_CORE} per core)")
    if args.scheduler is not None and args.scheduler != "local":
        try:
            parse_scheduler(args.scheduler)
        except ValueError as error:
            parser.error(f"--scheduler: {error}")
        if args.jobs is not None:
            parser.error("--jobs applies to this machine; a remote cluster runs on the workers it has")


def worker_module():
    """The vemla_chess module, imported on the worker, with an error that says what to do when it is missing."""
    try:
        return importlib.import_module("vemla_chess")
    except ImportError as error:
        raise ModuleNotFoundError(
            f"worker on {socket.gethostname()} cannot import vemla_chess ({error}); "
            "install the module there (pip install .) and restart the worker") from None


def worker_state():
    """The state of this process, built on first use and kept as long as the
    process: `vemla_chess`, the module, and `generator`, its one MoveGenerator
    (whose tables take a millisecond to build), which every task of the process
    shares, plus whatever tasks keep there for their next ones. Workers forked
    after the state is built inherit it.

    It is kept in sys.modules rather than in a global of this file because Dask
    unpickles a fresh copy of these functions' globals with each function it
    receives; state held there would be rebuilt again and again."""
    state = sys.modules.get(WORKER_STATE)
    if state is None:
        vemla_chess = worker_module()
        state = types.ModuleType(WORKER_STATE)
        state.vemla_chess = vemla_chess
        state.generator = vemla_chess.MoveGenerator()
        sys.modules[WORKER_STATE] = state
    return state


def worker_generator():
    """This process's MoveGenerator (see worker_state)."""
    return worker_state().generator


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


def _prctl():
    """libc's prctl, or None where there is none (not Linux)."""
    try:
        return ctypes.CDLL(None, use_errno=True).prctl
    except (OSError, AttributeError):
        return None


# Looked up once here, so that a freshly forked worker only calls it.
_PRCTL = _prctl() if sys.platform.startswith("linux") else None
PR_SET_PDEATHSIG = 1
# How often a worker checks that its parent is still there, in seconds: the
# fallback where the kernel cannot be asked to kill it when the parent dies.
PARENT_WATCH_INTERVAL = 1.0


def _watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(PARENT_WATCH_INTERVAL)
    os._exit(1)


def _die_with_parent(parent):
    """Makes this worker end when the process that forked it ends, however it ends
    (even by SIGKILL), so that no worker outlives its tool holding its output open."""
    if _PRCTL is not None:
        _PRCTL(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    # The parent may have died before the request above took effect.
    if os.getppid() != parent:
        os._exit(1)
    threading.Thread(target=_watch_parent, args=(parent,), daemon=True).start()


def _send_reply(connection, key, ok, payload):
    try:
        connection.send((key, ok, payload))
    except (OSError, EOFError):
        raise
    except Exception as error:  # a result or an error that cannot be pickled
        connection.send((key, False, TaskFailed(
            f"the results of a batch of tasks could not be sent back: {type(error).__name__}: {error}")))


def _worker_main(connection, inherited, parent):
    """A worker process: runs the batches it receives until told to stop or its parent goes."""
    _die_with_parent(parent)
    for other in inherited:
        other.close()
    while True:
        try:
            message = connection.recv()
        except (OSError, EOFError):
            return
        if message is None:
            return
        key, function, batch = message
        try:
            results = _run_batch(function, batch)
        except BaseException as error:  # sent back to the parent, which decides
            _send_reply(connection, key, False, error)
        else:
            _send_reply(connection, key, True, results)


class _Worker:
    """The parent's side of one worker process: its pid, its end of the pipe and
    the batches it has been sent and not answered yet."""

    def __init__(self, pid, connection):
        self.pid = pid
        self.connection = connection
        self.batches = []


class ProcessPool:
    """Worker processes of this machine, forked at once. A worker that dies is
    replaced and its unfinished tasks run again (at most MAX_RESTARTS times in
    all); an error, Ctrl-C or closing the pool kills them at once; and each
    worker ends when this process ends, however it ends.

    The workers are forked by the thread that opens the pool (or replaces a
    worker), and the kernel ends them when that thread ends."""

    def __init__(self, jobs):
        self.workers = jobs
        self.restarts = 0
        self._processes = []
        self._next_key = 0
        self._run = 0
        try:
            for _ in range(jobs):
                self._fork()
        except BaseException:
            self.close()
            raise

    def _fork(self):
        """Starts one more worker."""
        parent_end, child_end = multiprocessing.Pipe(duplex=True)
        # Output buffered here would otherwise be written again by the child.
        for stream in (sys.stdout, sys.stderr):
            with contextlib.suppress(Exception):
                stream.flush()
        # Ctrl-C is held back until the worker is on the list of those to stop:
        # raised during the fork, it would be raised inside the interpreter's
        # after-fork hooks, which swallow it, or leave a worker nobody knows of.
        mask = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        try:
            try:
                pid = os.fork()
            except OSError as error:
                parent_end.close()
                child_end.close()
                raise TaskFailed(f"cannot start worker process {len(self._processes) + 1} of {self.workers}: "
                                 f"{error.strerror or error}; ask for fewer with --jobs") from None
            if pid == 0:  # the worker
                code = 0
                try:
                    _ignore_interrupts()
                    signal.pthread_sigmask(signal.SIG_SETMASK, mask)
                    _worker_main(child_end, [parent_end] + [w.connection for w in self._processes], os.getppid())
                except BaseException:
                    code = 1
                finally:
                    os._exit(code)
            child_end.close()
            self._processes.append(_Worker(pid, parent_end))
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, mask)

    def _send(self, worker, function, batch, pending):
        key = self._next_key
        self._next_key += 1
        worker.batches.append((key, self._run, batch))
        worker.connection.send((key, function, [pending[i] for i in batch]))

    def _lost(self, worker, queue):
        """A worker died: reap it, put its unfinished batches of this run back
        first in line, and start another in its place."""
        self._reap(worker, kill=True)
        self._processes.remove(worker)
        queue.extendleft(batch for _, run, batch in reversed(worker.batches) if run == self._run)
        self.restarts += 1
        if self.restarts > MAX_RESTARTS:
            unfinished = sum(len(batch) for batch in queue)
            raise TaskFailed(f"worker processes died {self.restarts} times; {unfinished} tasks were not finished")
        self._fork()

    def _feed(self, function, queue, pending):
        """Sends batches until every worker holds two (one it works on and the
        next, so that it never waits for the parent between them) or none are left.

        One message waits unread per worker at most, so a send never blocks
        for long behind a worker that is itself sending a large result."""
        fed = True
        while fed and queue:
            fed = False
            for worker in list(self._processes):
                if queue and len(worker.batches) < 2:
                    # Taken off the queue first: if the send fails, the batch
                    # is already among the worker's own, and _lost puts it back
                    # once, first in line.
                    batch = queue.popleft()
                    try:
                        self._send(worker, function, batch, pending)
                    except (OSError, EOFError):
                        self._lost(worker, queue)
                        continue
                    fed = True

    def _top_up(self, source, queue, pending):
        """Takes tasks from a generator of them, one batch each, while a worker
        has room for one that the queue cannot fill. False once it is empty."""
        room = sum(max(0, 2 - len(worker.batches)) for worker in self._processes)
        while len(queue) < room:
            try:
                index, args = next(source)
            except StopIteration:
                return False
            pending[index] = args
            queue.append([index])
        return True

    def run(self, function, tasks):
        # Replies still owed from a run its caller left early are recognised by
        # the run number and dropped.
        self._run += 1
        if isinstance(tasks, (list, tuple)):
            pending = dict(enumerate(tasks))
            # Tasks travel in small batches: each message costs the parent some
            # CPU time that the workers could use.
            size = max(1, len(pending) // (self.workers * BATCHES_PER_WORKER))
            indices = list(pending)
            queue = collections.deque(indices[first:first + size] for first in range(0, len(indices), size))
            source = None
        else:
            # A generator is read only as workers need tasks: its tasks may be
            # large, or made as they are handed out.
            pending, queue, source = {}, collections.deque(), enumerate(tasks)
        while pending or source is not None:
            if source is not None and not self._top_up(source, queue, pending):
                source = None
                if not pending:
                    break
            self._feed(function, queue, pending)
            by_connection = {worker.connection: worker for worker in self._processes}
            for connection in multiprocessing.connection.wait(list(by_connection), timeout=SIGNAL_LATENCY):
                worker = by_connection[connection]
                if worker not in self._processes:
                    continue
                try:
                    key, ok, payload = connection.recv()
                except (OSError, EOFError):  # the worker died, perhaps in the middle of a reply
                    self._lost(worker, queue)
                    continue
                position = next(i for i, (k, _, _) in enumerate(worker.batches) if k == key)
                _, run, batch = worker.batches.pop(position)
                if run != self._run:
                    continue
                if not ok:
                    if isinstance(payload, TaskFailed):
                        raise payload
                    raise TaskFailed(f"a batch of tasks failed: {type(payload).__name__}: {payload}") from payload
                for index, result in zip(batch, payload):
                    del pending[index]
                    yield index, result

    @staticmethod
    def _reap(worker, kill):
        if kill:
            with contextlib.suppress(ProcessLookupError):
                os.kill(worker.pid, signal.SIGKILL)
        with contextlib.suppress(ChildProcessError):
            os.waitpid(worker.pid, 0)
        worker.connection.close()

    def close(self, abort=True):
        processes, self._processes = self._processes, []
        if not abort:
            # Idle workers stop when told; any that does not within the grace
            # period is killed like the rest.
            for worker in processes:
                with contextlib.suppress(OSError, EOFError):
                    worker.connection.send(None)
            deadline = time.monotonic() + SHUTDOWN_GRACE
            for worker in processes:
                while time.monotonic() < deadline:
                    with contextlib.suppress(ChildProcessError):
                        if os.waitpid(worker.pid, os.WNOHANG)[0] == 0:
                            time.sleep(0.01)
                            continue
                    worker.pid = None
                    break
        for worker in processes:
            if worker.pid is not None:
                self._reap(worker, kill=True)
            else:
                worker.connection.close()


def import_distributed():
    try:
        return importlib.import_module("distributed")
    except ImportError:
        raise SystemExit(f"{DASK_MISSING} (Python: {sys.executable})") from None


@contextlib.contextmanager
def _interrupts_ignored():
    """Ctrl-C ignored for the time of the block, so that the processes started
    meanwhile ignore it for good: the terminal sends it to the whole process
    group, and this process alone stops them, rather than each printing its own
    traceback. Only the main thread may change signal handling; in another one
    this does nothing."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    handler = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, handler)


def _probe_worker():
    """Runs on each Dask worker before any task: None, or why it cannot run tasks."""
    try:
        worker_module()
    except ImportError as error:
        return str(error)
    return None


def probe_scheduler(address):
    """Raises TaskFailed at once when nothing accepts a connection at a TCP-based
    scheduler address, instead of letting Dask retry until its timeout."""
    try:
        scheme, host, port = parse_scheduler(address)
    except ValueError as error:
        raise TaskFailed(str(error)) from None
    if scheme == "ucx":
        return
    try:
        socket.create_connection((host, port), timeout=PROBE_TIMEOUT).close()
    except socket.gaierror as error:
        raise TaskFailed(f"cannot reach the Dask scheduler at {address}: unknown host {host!r} "
                         f"({error.strerror})") from None
    except (socket.timeout, TimeoutError):
        raise TaskFailed(f"cannot reach the Dask scheduler at {address}: "
                         f"no answer within {PROBE_TIMEOUT} s") from None
    except OSError as error:
        raise TaskFailed(f"cannot reach the Dask scheduler at {address}: {error.strerror or error} "
                         f"(is `dask scheduler` running there?)") from None


class DaskPool:
    """The workers of a Dask cluster: an existing scheduler, or a LocalCluster
    started here. Dask recomputes the tasks of a worker it loses."""

    def __init__(self, scheduler, jobs):
        distributed = import_distributed()
        self.distributed = distributed
        self.cluster = self.client = None
        try:
            if scheduler == "local":
                # The workers of a local cluster see the same vemla_chess as this process.
                module_dir = os.path.dirname(worker_module().__file__)
                path = os.pathsep.join(filter(None, [module_dir, os.environ.get("PYTHONPATH")]))
                # A Ctrl-C while the cluster starts (a second or two) is lost,
                # and a worker that its nanny starts again later does not ignore it.
                with _interrupts_ignored():
                    self.cluster = distributed.LocalCluster(
                        n_workers=jobs, threads_per_worker=1, processes=True, dashboard_address=":0",
                        silence_logs=logging.ERROR, env={"PYTHONPATH": path})
                    self.client = distributed.Client(self.cluster)
            else:
                probe_scheduler(scheduler)
                try:
                    self.client = distributed.Client(scheduler, timeout=CONNECT_TIMEOUT)
                except OSError as error:
                    raise TaskFailed(f"cannot reach the Dask scheduler at {scheduler}: {error}") from None
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
        # This package's task functions travel by value (see the text at the top).
        cloudpickle = importlib.import_module("cloudpickle")
        here = os.path.dirname(os.path.abspath(__file__))
        for name in {function.__module__, __name__}:
            module = sys.modules.get(name)
            where = getattr(module, "__file__", None)
            if name != "__main__" and where and os.path.dirname(os.path.abspath(where)) == here:
                cloudpickle.register_pickle_by_value(module)
        if isinstance(tasks, (list, tuple)):
            if not tasks:
                return
            futures = self.client.map(function, *zip(*tasks), pure=False)
            task_of = {future.key: (index, args) for index, (future, args) in enumerate(zip(futures, tasks))}
            completed = self.distributed.as_completed(futures)
            source = None
        else:
            # A generator is read only as workers need tasks: two per worker
            # thread are out at any time.
            futures, task_of, completed = [], {}, self.distributed.as_completed()
            source = enumerate(tasks)
            for _ in range(2 * self.workers):
                if not self._submit(function, source, futures, task_of, completed):
                    source = None
                    break
        try:
            for future in completed:
                index, args = task_of.pop(future.key)
                try:
                    result = future.result()
                except Exception as error:
                    raise TaskFailed(f"task {_describe(args)} failed: "
                                     f"{type(error).__name__}: {error}") from error
                future.release()
                if source is not None and not self._submit(function, source, futures, task_of, completed):
                    source = None
                yield index, result
        finally:
            self.client.cancel(futures)

    def _submit(self, function, source, futures, task_of, completed):
        """Submits the next task of a generator; False once it is empty.

        Its arguments travel inside the task, large ones included (a range of
        PGN text): the scheduler keeps them until the task is done, so a task
        whose worker dies runs again elsewhere. Data scattered to a worker
        ahead of time would die with that worker. Dask's warning about large
        objects in a task is therefore silenced here; at most two tasks per
        worker thread are out at a time."""
        try:
            index, args = next(source)
        except StopIteration:
            return False
        with warnings.catch_warnings():
            warnings.filterwarnings("ignore", message="Large object of size", category=UserWarning)
            future = self.client.submit(function, *args, pure=False)
        futures.append(future)
        task_of[future.key] = (index, args)
        completed.add(future)
        return True

    def close(self, abort=False):
        if self.client is not None:
            self.client.close()
        if self.cluster is not None:
            self.cluster.close()


@contextlib.contextmanager
def open_pool(jobs=None, scheduler=None):
    """The pool for `jobs` and `scheduler` (see the text at the top), closed on leaving."""
    if jobs is not None and not 1 <= jobs <= max_jobs():
        raise ValueError(f"jobs must be from 1 to {max_jobs()}")
    if scheduler is not None and not scheduler.strip():
        raise ValueError("the scheduler address is empty")
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
