"""A client for chess engines that speak UCI (Stockfish, Lc0, ...).

    from vemla_chess import Board
    from vemla_chess_data.engine import Engine

    with Engine("/usr/games/stockfish", {"Threads": 1, "Hash": 16}) as engine:
        info = engine.analyse(Board(), nodes=1000)
        info.score.cp, info.white_score, info.wdl, info.pv, info.depth
        engine.play(Board(), nodes=1000)        # "e2e4"

The engine runs as a child process that dies with this one (on Linux even
when this one is killed), in a process group of its own so that Ctrl-C in a
terminal reaches only Python. Every read from it has a deadline, so a
hanging engine becomes an EngineError, never a hang; so does an engine that
exits, sends text that is not UCI where UCI is due, or plays an illegal move.
After such a fault the process is stopped, and the next call starts it again
with the same options.
"""

import collections
import ctypes
import os
import queue
import select
import signal
import subprocess
import sys
import threading
import time
import weakref

__all__ = ["Engine", "EngineError", "EngineOption", "Score", "Analysis"]

# Seconds an engine gets to leave after "quit" before it is killed.
QUIT_GRACE = 1.0
# Seconds an engine whose output ended gets to exit before that counts as
# closing its output while running.
EXIT_GRACE = 2.0
# A line longer than this is not UCI.
MAX_LINE = 1 << 20
# The single sortable value of a mate score: MATE_VALUE minus the moves to it.
MATE_VALUE = 100000
# Lines an engine sends after a setoption that mean it did not take the option.
REFUSALS = ("no such option", "unknown option", "error", "invalid", "illegal")

# A search limited by nodes or depth is left alone for this share of the
# shortest one like it so far before its output is read: an engine writes a
# line per iteration, and waking for each costs this process more CPU time
# than reading them all at once. The shortest grows by NAP_DRIFT per search,
# so that the nap follows an engine that becomes slower; searches shorter
# than NAP_MIN seconds get none (a sleep is not that precise).
NAP_SHARE = 0.5
NAP_DRIFT = 1.05
NAP_MIN = 0.0003

OPTION_TYPES = ("check", "spin", "combo", "button", "string")
# Set by analyse() itself, from its multipv argument.
MANAGED = ("multipv",)


class EngineError(RuntimeError):
    """The engine did something a UCI engine must not: it exited, sent no
    answer in time, sent malformed text, an illegal move, or refused an option.
    The message names the engine and says what it did."""


class EngineOption:
    """One option the engine listed: name, type ("check", "spin", "combo",
    "button" or "string"), default (None if none), min and max (spin, else
    None), vars (the combo's values, else an empty tuple)."""

    __slots__ = ("name", "type", "default", "min", "max", "vars")

    def __init__(self, name, type, default=None, min=None, max=None, vars=()):
        self.name, self.type, self.default, self.min, self.max, self.vars = name, type, default, min, max, tuple(vars)

    def __repr__(self):
        extra = "".join(f", {k}={getattr(self, k)!r}" for k in ("min", "max") if getattr(self, k) is not None)
        if self.vars:
            extra += f", vars={self.vars!r}"
        return f"EngineOption({self.name!r}, {self.type!r}, default={self.default!r}{extra})"

    def __eq__(self, other):
        return isinstance(other, EngineOption) and all(getattr(self, k) == getattr(other, k) for k in self.__slots__)

    def check(self, value):
        """The text sent for `value`, or ValueError (message without the
        engine's name, which the caller adds)."""
        if self.type == "button":
            if value is not None and value is not True:
                raise ValueError(f"option {self.name!r} is a button and takes no value (None), not {value!r}")
            return None
        if self.type == "check":
            if isinstance(value, bool):
                return "true" if value else "false"
            if isinstance(value, str) and value.lower() in ("true", "false"):
                return value.lower()
            raise ValueError(f"option {self.name!r} takes True or False, not {value!r}")
        if self.type == "spin":
            if isinstance(value, bool) or not isinstance(value, int):
                try:
                    number = int(value) if isinstance(value, str) else None
                except ValueError:
                    number = None
                if number is None:
                    raise ValueError(f"option {self.name!r} takes an integer, not {value!r}")
                value = number
            if (self.min is not None and value < self.min) or (self.max is not None and value > self.max):
                raise ValueError(f"option {self.name!r} takes {self.min} to {self.max}, not {value}")
            return str(value)
        text = value if isinstance(value, str) else None
        if text is None:
            raise ValueError(f"option {self.name!r} takes a str, not {value!r}")
        if "\n" in text or "\r" in text:
            raise ValueError(f"option {self.name!r}: a value cannot hold a line break")
        if self.type == "combo":
            for choice in self.vars:
                if choice.lower() == text.lower():
                    return choice
            raise ValueError(f"option {self.name!r} takes one of {', '.join(self.vars)}, not {text!r}")
        return text


class Score:
    """A score from one side's view: cp (centipawns) or mate (moves to mate:
    positive when that side mates, negative when it is mated, 0 when it is
    checkmated on the board); the other is None. value is one sortable
    number: cp, or 100000 - mate when mating, -100000 - mate when mated."""

    __slots__ = ("cp", "mate", "value")

    def __init__(self, cp=None, mate=None, value=None):
        self.cp, self.mate = cp, mate
        if value is None:
            value = cp if mate is None else (MATE_VALUE - mate if mate > 0 else -MATE_VALUE - mate)
        self.value = value

    def flipped(self):
        """The same score from the other side's view."""
        return Score(None if self.cp is None else -self.cp, None if self.mate is None else -self.mate, -self.value)

    def __eq__(self, other):
        return isinstance(other, Score) and (self.cp, self.mate, self.value) == (other.cp, other.mate, other.value)

    def __hash__(self):
        return hash((self.cp, self.mate, self.value))

    def __repr__(self):
        return f"Score(cp={self.cp})" if self.mate is None else f"Score(mate={self.mate})"


class Analysis:
    """What the engine reported of one principal variation (see Engine.analyse)."""

    __slots__ = ("fen", "score", "white_score", "wdl", "white_wdl", "bound", "pv", "move", "multipv",
                 "depth", "seldepth", "nodes", "nps", "time", "hashfull", "tbhits")

    def __init__(self, **fields):
        for name in self.__slots__:
            setattr(self, name, fields.get(name))

    def __repr__(self):
        shown = ", ".join(f"{k}={getattr(self, k)!r}" for k in ("score", "wdl", "pv", "depth", "nodes"))
        return f"Analysis({shown})"


_GENERATOR = None


def _generator():
    global _GENERATOR
    if _GENERATOR is None:
        import vemla_chess

        _GENERATOR = vemla_chess.MoveGenerator()
    return _GENERATOR


def _libc_prctl():
    if not sys.platform.startswith("linux"):
        return None
    try:
        return ctypes.CDLL(None, use_errno=True).prctl
    except (OSError, AttributeError):
        return None


# Looked up here, so that the freshly forked child only calls it.
_PRCTL = _libc_prctl()
PR_SET_PDEATHSIG = 1


def _child_setup(parent):
    # Its own process group: Ctrl-C in a terminal is for Python to handle.
    os.setpgrp()
    if _PRCTL is not None:
        _PRCTL(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        # The parent may have died before the request took effect.
        if os.getppid() != parent:
            os._exit(1)


def _spawn(command):
    parent = os.getpid()
    return subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            bufsize=0, close_fds=True, preexec_fn=lambda: _child_setup(parent))


class _Launcher:
    """Starts engines from a thread that lives as long as the process: the
    kernel kills a child when the thread that forked it ends, and a worker
    thread of a pool may end long before the engine should."""

    def __init__(self):
        self._lock = threading.Lock()
        self._requests = None

    def _run(self):
        while True:
            command, answer = self._requests.get()
            try:
                answer.put((True, _spawn(command)))
            except BaseException as error:  # handed back to the caller's thread
                answer.put((False, error))

    def spawn(self, command):
        if threading.current_thread() is threading.main_thread():
            return _spawn(command)
        with self._lock:
            if self._requests is None:
                self._requests = queue.Queue()
                threading.Thread(target=self._run, name="engine-launcher", daemon=True).start()
        answer = queue.Queue(1)
        self._requests.put((command, answer))
        ok, value = answer.get()
        if not ok:
            raise value
        return value


_LAUNCHER = _Launcher()


def _stop_process(process, grace, owner):
    """Asks the process to quit, kills it after `grace` seconds, and reaps it.
    In a process forked from its `owner` it only closes this copy of the
    pipes: the engine belongs to the owner."""
    if os.getpid() == owner and process.poll() is None:
        try:
            os.write(process.stdin.fileno(), b"quit\n")
        except (OSError, ValueError):
            pass
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    for stream in (process.stdin, process.stdout, process.stderr):
        try:
            stream.close()
        except OSError:
            pass


class Engine:
    """A UCI engine, started at once: Engine(path, options=None, timeout=10.0).

    `path` is the engine's executable (or a list: the executable and its
    arguments). `options` is a dict {name: value} checked against the options
    the engine lists and set before the first search. `timeout` is how many
    seconds the engine may take to answer anything, a search included (a
    movetime search gets its movetime on top)."""

    def __init__(self, path, options=None, timeout=10.0):
        command = [os.fspath(part) for part in ([path] if isinstance(path, (str, bytes, os.PathLike)) else path)]
        if not command:
            raise ValueError("an engine needs a path")
        if not (isinstance(timeout, (int, float)) and not isinstance(timeout, bool) and timeout > 0):
            raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
        self._command = command
        self._path = command[0]
        self._timeout = float(timeout)
        self._name = os.path.basename(self._path)
        self._author = None
        self._options = {}
        self._settings = {}
        self._process = None
        self._finalizer = None
        self._closed = False
        self._multipv = 1
        # True from a command until its answer is read: an exchange cut short
        # (Ctrl-C during a search) leaves answers in the pipe that belong to no
        # call, so the engine is started afresh.
        self._busy = False
        # {(limits, multipv): the shortest such search lately, in seconds}.
        self._shortest = {}
        self._buffer = bytearray()
        self._stderr = collections.deque(maxlen=20)
        self._start()
        if options:
            try:
                self.configure(options)
            except BaseException:
                self.close()
                raise

    # The engine's identity and options.

    @property
    def name(self):
        """The engine's `id name` (the file name of its path until it sent one)."""
        return self._name

    @property
    def author(self):
        """The engine's `id author`, or None."""
        return self._author

    @property
    def path(self):
        """The executable the engine runs from."""
        return self._path

    @property
    def pid(self):
        """The engine process's id, or None when it is not running."""
        return self._process.pid if self._process is not None and self._process.poll() is None else None

    @property
    def options(self):
        """{name: EngineOption} of every option the engine listed, in its order."""
        return dict(self._options)

    def _what(self):
        return f"engine {self._name!r} ({' '.join(self._command)})"

    # Starting and stopping.

    def _start(self):
        self._buffer.clear()
        self._stderr.clear()
        self._multipv = 1
        self._busy = False
        try:
            self._process = _LAUNCHER.spawn(self._command)
        except OSError as error:
            raise EngineError(f"{self._what()} could not be started: {error.strerror or error}") from error
        self._owner = os.getpid()
        self._finalizer = weakref.finalize(self, _stop_process, self._process, QUIT_GRACE, self._owner)
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            os.set_blocking(stream.fileno(), False)
        self._out, self._err = self._process.stdout.fileno(), self._process.stderr.fileno()
        self._poll = select.poll()
        self._poll.register(self._out, select.POLLIN)
        self._poll.register(self._err, select.POLLIN)
        deadline = time.monotonic() + self._timeout
        self._send("uci", "starting")
        listed = {}
        while True:
            line = self._read_line(deadline, "uciok", "starting", self._timeout)
            if line == "uciok":
                break
            if line.startswith("id name "):
                self._name = line[8:].strip() or self._name
            elif line.startswith("id author "):
                self._author = line[10:].strip()
            elif line.startswith("option "):
                option = self._parse_option(line)
                listed[option.name] = option
        self._options = listed
        wanted = dict(self._settings)
        show_wdl = self._lookup("UCI_ShowWDL")
        if show_wdl is not None and show_wdl.type == "check" and not any(
                name.lower() == "uci_showwdl" for name in wanted):
            wanted[show_wdl.name] = True
        if wanted:
            self._apply(wanted, "starting")
        self._sync("starting")

    def _parse_option(self, line):
        words = line.split(" ")
        keys = {"name", "type", "default", "min", "max", "var"}
        fields, key, current = [], None, []
        for word in words[1:]:
            if word in keys and not (key == "name" and word != "type"):
                if key is not None:
                    fields.append((key, " ".join(current)))
                key, current = word, []
            elif key is not None:
                current.append(word)
        if key is not None:
            fields.append((key, " ".join(current)))
        found = dict(fields)
        name, kind = found.get("name", "").strip(), found.get("type", "").strip()
        if not name or kind not in OPTION_TYPES:
            self._fault(f"sent a malformed option line: {line!r}")
        default = found.get("default")
        if default is not None:
            default = default.strip()
        try:
            low = int(found["min"]) if "min" in found else None
            high = int(found["max"]) if "max" in found else None
            if kind == "spin" and default is not None:
                default = int(default)
            if kind == "check" and default is not None:
                if default not in ("true", "false"):
                    raise ValueError(default)
                default = default == "true"
        except ValueError:
            self._fault(f"sent a malformed option line: {line!r}")
        return EngineOption(name, kind, default, low, high, [value.strip() for key, value in fields if key == "var"])

    def _lookup(self, name):
        option = self._options.get(name)
        if option is None:
            lowered = name.lower()
            option = next((o for n, o in self._options.items() if n.lower() == lowered), None)
        return option

    def restart(self):
        """Stops the engine process (if running) and starts it again with the
        options configured so far."""
        if self._closed:
            raise EngineError(f"{self._what()} is closed")
        self._stop(QUIT_GRACE)
        self._start()

    def _stop(self, grace):
        if self._process is not None:
            self._finalizer.detach()
            _stop_process(self._process, grace, self._owner)
            self._process = None

    def close(self):
        """Sends quit, waits a second, kills the engine if it is still there,
        and reaps it. Calls after close() raise EngineError; closing again is
        harmless."""
        self._closed = True
        self._stop(QUIT_GRACE)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _ready(self):
        """Starts the engine again if a fault stopped it or it ended since the last call."""
        if self._closed:
            raise EngineError(f"{self._what()} is closed")
        # An engine inherited by a forked process is its parent's: this one starts its own.
        if self._process is not None and (self._owner != os.getpid() or self._busy
                                          or self._process.poll() is not None):
            self._stop(0.1)
        if self._process is None:
            self._start()

    # Faults.

    def _fault(self, what):
        """Stops the engine and raises what it did."""
        self._stop(0.1)
        raise EngineError(f"{self._what()} {what}")

    def _died(self, doing):
        try:
            status = self._process.wait(EXIT_GRACE)
        except subprocess.TimeoutExpired:
            self._fault(f"closed its output while {doing}")
        self._drain_stderr()
        tail = f" (stderr: {self._stderr[-1]})" if self._stderr else ""
        if status >= 0:
            self._fault(f"exited with status {status} while {doing}{tail}")
        name = signal.Signals(-status).name if -status in signal.valid_signals() else str(-status)
        self._fault(f"was killed by {name} while {doing}{tail}")

    def _drain_stderr(self):
        try:
            while True:
                chunk = os.read(self._process.stderr.fileno(), 65536)
                if not chunk:
                    try:
                        self._poll.unregister(self._err)
                    except KeyError:
                        pass
                    return
                for line in chunk.decode("utf-8", "replace").splitlines():
                    if line.strip():
                        self._stderr.append(line.strip())
        except (BlockingIOError, OSError, ValueError):
            return

    # Talking to the engine.

    def _send(self, text, doing):
        self._busy = True
        data = memoryview((text + "\n").encode())
        fd = self._process.stdin.fileno()
        while data:
            try:
                data = data[os.write(fd, data):]
            except BrokenPipeError:
                self._died(doing)
            except BlockingIOError:
                # A full pipe: the engine has stopped reading.
                if not select.select([], [fd], [], self._timeout)[1]:
                    self._fault(f"read none of its input within {self._timeout:g} s while {doing}")

    def _read_line(self, deadline, awaited, doing, waited):
        """The next line from the engine, without its line break; EngineError
        at the deadline or when the engine is gone."""
        buffer = self._buffer
        while True:
            end = buffer.find(b"\n")
            if end >= 0:
                line = buffer[:end].decode("utf-8", "replace").strip()
                del buffer[:end + 1]
                return line
            self._fill(deadline, awaited, doing, waited)

    def _fill(self, deadline, awaited, doing, waited):
        """Waits for more output of the engine and adds it to the buffer (a
        line break after its last line once its output ended); EngineError
        at the deadline, for a line too long, or when the engine is gone."""
        buffer = self._buffer
        if len(buffer) > MAX_LINE:
            self._fault(f"sent a line of more than {MAX_LINE} bytes while {doing}")
        left = deadline - time.monotonic()
        if left <= 0:
            self._fault(f"sent no {awaited} within {waited:g} s while {doing}")
        for fd, _ in self._poll.poll(left * 1000 + 1):
            if fd == self._err:
                self._drain_stderr()
                continue
            try:
                chunk = os.read(fd, 65536)
            except BlockingIOError:
                continue
            if not chunk:
                if buffer:
                    buffer.extend(b"\n")
                    return
                self._died(doing)
            buffer.extend(chunk)

    def _sync(self, doing, pending=()):
        """Waits for readyok. With options just sent (`pending`), a line that
        says the engine did not take one is a fault."""
        self._send("isready", doing)
        deadline = time.monotonic() + self._timeout
        while True:
            line = self._read_line(deadline, "readyok", doing, self._timeout)
            if line == "readyok":
                self._busy = False
                return
            lowered = line.lower()
            if pending and any(word in lowered for word in REFUSALS):
                named = [n for n in pending if n.lower() in lowered] or pending
                self._fault(f"refused option {', '.join(repr(n) for n in named)}: {line!r}")

    def _apply(self, values, doing):
        """Checks every option, then sends them all; ValueError before anything is sent."""
        lines = []
        for name, value in values.items():
            option = self._lookup(name) if isinstance(name, str) else None
            if option is None:
                raise ValueError(f"{self._what()} has no option {name!r}")
            if option.name.lower() in MANAGED:
                raise ValueError(f"{self._what()}: option {option.name!r} is set by analyse(multipv=...)")
            try:
                text = option.check(value)
            except ValueError as error:
                raise ValueError(f"{self._what()}: {error}") from None
            lines.append((option.name, text))
        for name, text in lines:
            self._send(f"setoption name {name}" + ("" if text is None else f" value {text}"), doing)
        self._sync(doing, tuple(name for name, _ in lines))
        return lines

    def configure(self, options):
        """Sets options {name: value} (names as the engine lists them, in any
        case): check options take True/False, spin ones an integer within the
        listed range, combo ones one of the listed values, string ones a str,
        buttons None. Anything else, an unknown name, or MultiPV (which
        analyse sets) raises ValueError naming the engine and the option, and
        nothing is sent. The options are set again whenever the engine
        restarts."""
        self._ready()
        for (name, _), value in zip(self._apply(options, "setting options"), options.values()):
            if self._options[name].type != "button":
                self._settings[name] = value

    def new_game(self):
        """Tells the engine that the next position is from another game
        (ucinewgame), and waits until it is ready."""
        self._ready()
        self._send("ucinewgame", "starting a new game")
        self._sync("starting a new game")

    # Searching.

    def _position(self, board, moves):
        generator = _generator()
        root = board.full_fen()
        if moves:
            board = board.copy()
            for move in moves:
                if not isinstance(move, str):
                    raise TypeError(f"moves must be move texts, not {type(move).__name__}")
                generator.push_legal(board, move)
            return board, f"position fen {root} moves {' '.join(moves)}"
        return board, f"position fen {root}"

    @staticmethod
    def _limits(depth, nodes, movetime):
        parts = []
        for name, value in (("depth", depth), ("nodes", nodes)):
            if value is None:
                continue
            if isinstance(value, bool) or not isinstance(value, int) or value < 1:
                raise ValueError(f"{name} must be a positive integer, not {value!r}")
            parts.append(f"{name} {value}")
        if movetime is not None:
            if isinstance(movetime, bool) or not isinstance(movetime, (int, float)) or not movetime > 0:
                raise ValueError(f"movetime must be a positive number of seconds, not {movetime!r}")
            parts.append(f"movetime {max(1, round(movetime * 1000))}")
        if not parts:
            raise ValueError("a search needs a limit: depth, nodes or movetime")
        return " ".join(parts)

    def _search(self, command, depth, nodes, movetime, multipv, timeout, doing):
        limits = self._limits(depth, nodes, movetime)
        if timeout is None:
            timeout = self._timeout
        elif isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or not timeout > 0:
            raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
        self._ready()
        if multipv != self._multipv:
            option = self._lookup("MultiPV")
            if option is None or option.type != "spin":
                raise ValueError(f"{self._what()} has no MultiPV option: it shows one line only")
            try:
                text = option.check(multipv)
            except ValueError as error:
                raise ValueError(f"{self._what()}: {error}") from None
            command = f"setoption name {option.name} value {text}\n{command}"
            self._multipv = multipv
        # One write: the engine wakes once. (On a busy machine the write
        # itself may last as long as the search: the engine runs at once.)
        started = time.monotonic()
        self._send(f"{command}\ngo {limits}", doing)
        waited = timeout + (movetime or 0)
        deadline = time.monotonic() + waited
        kind = (limits, multipv) if movetime is None else None
        shortest = self._shortest.get(kind)
        if shortest is not None and shortest >= NAP_MIN:
            nap = started + min(shortest * NAP_SHARE, waited / 2) - time.monotonic()
            if nap > 0:
                time.sleep(nap)
        # Only the lines an answer is made of are parsed, once the search is
        # over: per rank the last line with a score and the last exact one,
        # and the last line with the node count. The output is taken in
        # blocks of whole lines, as it came.
        latest, exact, totals = {}, {}, None
        buffer = self._buffer
        best = None
        while best is None:
            end = buffer.rfind(b"\n")
            if end < 0:
                self._fill(deadline, "bestmove", doing, waited)
                continue
            block = buffer[:end].decode("utf-8", "replace").split("\n")
            del buffer[:end + 1]
            for at, line in enumerate(block):
                line = line.strip()
                if line.startswith("info "):
                    if line.startswith("info string"):
                        continue
                    if " score " in line:
                        rank = "1"
                        where = line.find(" multipv ")
                        if where >= 0:
                            rank = line[where + 9:].split(" ", 1)[0]
                        latest[rank] = line
                        if "bound" not in line:
                            exact[rank] = line
                    if " nodes " in line:
                        totals = line
                elif line.startswith("bestmove"):
                    best = line
                    rest = block[at + 1:]
                    if rest:
                        # What came after the answer is for the next exchange.
                        buffer[:0] = ("\n".join(rest) + "\n").encode()
                    break
        words = best.split()
        if len(words) < 2:
            self._fault(f"sent a malformed bestmove line {best!r} while {doing}")
        self._busy = False
        if kind is not None:
            took = time.monotonic() - started
            self._shortest[kind] = took if shortest is None else min(took, shortest * NAP_DRIFT)
        lines = {}
        for rank, text in latest.items():
            info = self._parse_info(exact.get(rank, text))
            if "score" not in info:
                self._fault(f"sent a malformed info line: {exact.get(rank, text)!r}")
            lines[info.get("multipv", 1)] = info
        info = self._parse_info(totals) if totals else {}
        return words[1], lines, {k: info[k] for k in ("nodes", "nps", "time", "hashfull", "tbhits") if k in info}

    def _parse_info(self, line):
        words = line.split()
        info = {}
        i, n = 1, len(words)
        try:
            while i < n:
                word = words[i]
                if word == "string":  # the rest of the line is free text
                    return info
                if word in ("depth", "seldepth", "multipv", "nodes", "nps", "time", "hashfull", "tbhits",
                            "currmovenumber", "cpuload"):
                    info[word] = int(words[i + 1])
                    i += 2
                elif word == "score":
                    kind, value = words[i + 1], int(words[i + 2])
                    if kind not in ("cp", "mate"):
                        raise ValueError(kind)
                    info["score"] = (kind, value)
                    i += 3
                elif word in ("lowerbound", "upperbound"):
                    info["bound"] = word[:5]
                    i += 1
                elif word == "wdl":
                    info["wdl"] = (int(words[i + 1]), int(words[i + 2]), int(words[i + 3]))
                    i += 4
                elif word == "pv":
                    j = i + 1
                    while j < n and words[j] not in INFO_KEYS:
                        j += 1
                    info["pv"] = words[i + 1:j]
                    i = j
                elif word in ("currmove", "refutation", "currline"):
                    j = i + 1
                    while j < n and words[j] not in INFO_KEYS:
                        j += 1
                    i = j
                else:
                    i += 1
        except (ValueError, IndexError):
            self._fault(f"sent a malformed info line: {line!r}")
        return info

    def _check_line(self, position, moves, doing):
        generator = _generator()
        board = position.copy()
        for move in moves:
            if not generator.is_legal(board, move):
                self._fault(f"sent an illegal move {move} in {board.full_fen()} while {doing}")
            board.push(move)

    def _analysis(self, position, info, totals, doing):
        pv = list(info.get("pv", ()))
        self._check_line(position, pv, doing)
        kind, value = info["score"]
        # mate 0: the side to move is checkmated on the board, value -MATE_VALUE.
        score = Score(cp=value) if kind == "cp" else Score(mate=value)
        white = position.turn() == "white"
        wdl = info.get("wdl")
        fields = dict(totals)
        fields.update(
            fen=position.full_fen(), score=score, white_score=score if white else score.flipped(), wdl=wdl,
            white_wdl=None if wdl is None else (wdl if white else wdl[::-1]), bound=info.get("bound", "exact"),
            pv=pv, move=pv[0] if pv else None, multipv=info.get("multipv", 1), depth=info.get("depth"),
            seldepth=info.get("seldepth"))
        if "time" in fields:
            fields["time"] = fields["time"] / 1000
        return Analysis(**fields)

    def analyse(self, board, depth=None, nodes=None, movetime=None, multipv=1, moves=None, timeout=None):
        """Searches the board's position (after `moves`, move texts played
        from it, when given) to the limits given (depth in plies, nodes,
        movetime in seconds; at least one; the engine stops at the first one
        reached) and returns an Analysis, or for multipv > 1 a list of one per
        line the engine found, best first.

        The engine gets the position as `position fen <full FEN>` (the half-move
        clock included) and the moves after it. `timeout` (default: the
        engine's) bounds the whole search, plus movetime. Each line's score is
        the engine's last exact one (a bound only where it gave no exact one)."""
        if isinstance(multipv, bool) or not isinstance(multipv, int) or multipv < 1:
            raise ValueError(f"multipv must be a positive integer, not {multipv!r}")
        doing = "analysing"
        position, command = self._position(board, moves)
        best, lines, totals = self._search(command, depth, nodes, movetime, multipv, timeout, doing)
        generator = _generator()
        played = best not in ("(none)", "0000")
        if not played:
            if generator(position):
                self._fault(f"sent bestmove {best} in {position.full_fen()}, which has legal moves, while {doing}")
        elif not generator.is_legal(position, best):
            self._fault(f"sent an illegal move {best} in {position.full_fen()} while {doing}")
        if not lines:
            self._fault(f"sent no score before bestmove {best} while {doing}")
        results = [self._analysis(position, lines[rank], totals, doing) for rank in sorted(lines)]
        if multipv == 1:
            result = results[0]
            if result.move is None and played:
                result.pv, result.move = [best], best
            return result
        return results

    def play(self, board, depth=None, nodes=None, movetime=None, moves=None, timeout=None):
        """The engine's best move (move text) in the board's position (after
        `moves`), searched to the limits as analyse() does. A position without
        legal moves raises ValueError."""
        doing = "playing"
        position, command = self._position(board, moves)
        legal = _generator()(position)
        if not legal:
            raise ValueError(f"no legal moves in {position.full_fen()}")
        best = self._search(command, depth, nodes, movetime, 1, timeout, doing)[0]
        if best not in legal:
            self._fault(f"sent an illegal move {best} in {position.full_fen()} while {doing}")
        return best

    def __repr__(self):
        state = "closed" if self._closed else ("running" if self.pid else "stopped")
        return f"<Engine {self._name!r} ({' '.join(self._command)}) {state}>"


INFO_KEYS = {"depth", "seldepth", "multipv", "score", "wdl", "nodes", "nps", "time", "hashfull", "tbhits", "pv",
             "currmove", "currmovenumber", "cpuload", "string", "refutation", "currline", "sbhits",
             "lowerbound", "upperbound"}
