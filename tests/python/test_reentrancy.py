"""Python code that runs in the middle of a call: finalisers started by a
garbage collection while a result is being built, and other threads that take
the interpreter lock when such a finaliser releases it. None of it may crash
the interpreter, see a half-built object, or make an ordinary call fail.

The cases that crashed once run in a child process, so that a regression
fails its test instead of killing the test run."""
import gc
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest
import vemla_chess
from vemla_chess import Board, MoveGenerator

from chess_util import START

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"


def run_child(body):
    """Runs body in a new interpreter that has imported vemla_chess; returns its stdout."""
    script = "import sys\nsys.path.insert(0, sys.argv[1])\nimport vemla_chess\n" + textwrap.dedent(body)
    out = subprocess.run(
        [sys.executable, "-c", script, os.path.dirname(vemla_chess.__file__)],
        capture_output=True, text=True, timeout=120,
    )
    assert out.returncode == 0, f"child exited with {out.returncode}\n{out.stderr[-3000:]}"
    return out.stdout


@pytest.mark.parametrize("cls", [Board, MoveGenerator])
def test_types_are_immutable(cls):
    for name in ("__new__", "__call__", "fen", "extra"):
        with pytest.raises(TypeError, match="immutable"):
            setattr(cls, name, staticmethod(lambda c: object.__new__(c)))
        with pytest.raises(TypeError):
            delattr(cls, name)
        with pytest.raises(TypeError):
            type.__setattr__(cls, name, 1)
    # Every other way to an instance without a constructed record is closed.
    with pytest.raises(TypeError, match="is not safe"):
        object.__new__(cls)
    other = MoveGenerator if cls is Board else Board
    with pytest.raises(TypeError, match="not a subtype"):
        cls.__new__(other)
    with pytest.raises(TypeError):
        cls().__class__ = other
    assert Board().fen() == START and MoveGenerator()(Board())[0] == "b1c3"


@pytest.mark.parametrize("name", ["Board", "MoveGenerator", "PolyglotBook"])
def test_every_class_is_closed(name):
    # Every class of the module is made by one helper: each must come out
    # immutable, final, and without a way to an instance that skips its
    # constructor, the opening-book reader included.
    cls = getattr(vemla_chess, name)
    assert cls.__module__ == "builtins" and cls.__name__ == name
    with pytest.raises(TypeError, match="immutable"):
        cls.extra = 1
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError, match="is not safe"):
        object.__new__(cls)
    # Only the generator's instances are callable.
    assert ("__call__" in vars(cls)) == (name == "MoveGenerator")


def test_classes_without_a_constructor_are_closed():
    # The PGN reader and its games are made only by read_pgn(): Python code
    # can neither make one nor change or extend their classes.
    reader = MoveGenerator().read_pgn("1. e4 *\n")
    game = next(reader)
    for cls in (type(reader), type(game)):
        assert cls.__module__ == "builtins"
        with pytest.raises(TypeError, match="cannot create"):
            cls()
        with pytest.raises(TypeError, match="immutable"):
            cls.extra = 1
        with pytest.raises(TypeError, match="not an acceptable base type"):
            type("Sub", (cls,), {})
    assert game.moves == ("e2e4",) and iter(reader) is reader


def test_replaced_new_cannot_reach_an_unbuilt_record():
    # Once a segfault in the generator's table lookup: run where a crash
    # cannot take the test run with it.
    out = run_child("""
        from vemla_chess import Board, MoveGenerator
        board = Board(%r)
        for cls in (MoveGenerator, Board):
            try:
                cls.__new__ = staticmethod(lambda c: object.__new__(c))
            except TypeError:
                print("refused")
        print(len(MoveGenerator()(board)), Board().fen())
    """ % KIWIPETE)
    assert out.split("\n", 2) == ["refused", "refused", f"48 {START}\n"]


def test_finaliser_never_sees_a_half_built_list():
    # A finaliser started by a collection inside bitboard(), bitboard_from_fen()
    # or the generator reads every item of every young list: none may hold an
    # empty slot.
    out = run_child("""
        import gc
        from vemla_chess import Board, MoveGenerator

        class Cycle:
            def __init__(self):
                self.me = self
            def __del__(self):
                # Survivors of the running collection have just moved on
                # from the youngest generation.
                for young in (0, 1):
                    for obj in gc.get_objects(generation=young):
                        if type(obj) is list:
                            for item in obj:
                                type(item)

        board, gen = Board(%r), MoveGenerator()
        gc.set_threshold(3)
        lengths = set()
        for _ in range(3000):
            Cycle()
            lengths.add(len(board.bitboard()))
            Cycle()
            lengths.add(len(Board.bitboard_from_fen("8/8/8/8/8/8/8/8")))
            Cycle()
            lengths.add(len(gen(board)))
        print(sorted(lengths))
    """ % KIWIPETE)
    assert out.strip() == "[12, 48]"


class _Finaliser:
    """Reference cycles whose finaliser runs action when a collection finds them."""

    def __init__(self, action):
        self.me = self
        self.action = action

    def __del__(self):
        self.action()


def _with_threshold(threshold, loop):
    old = gc.get_threshold()
    gc.set_threshold(threshold)
    try:
        loop()
    finally:
        gc.set_threshold(*old)


def test_finaliser_may_use_the_board_during_a_call():
    # The board a call reads from is free again before the call builds its
    # result, so a finaliser started by that building may use it.
    board, gen = Board(KIWIPETE), MoveGenerator()
    errors = []

    def touch():
        try:
            board.reflect()
            board.reflect()
            board.push("e1g1")
            board.pop()
            gen(board)
        except RuntimeError as e:
            errors.append(e)

    results = {}

    def loop():
        for _ in range(500):
            _Finaliser(touch)
            results["planes"] = board.bitboard()
            _Finaliser(touch)
            results["moves"] = gen(board)
            _Finaliser(touch)
            results["fen"] = board.fen()
            _Finaliser(touch)
            results["copy"] = board.copy().fen()
            _Finaliser(touch)
            results["turn"] = board.turn()

    _with_threshold(2, loop)
    assert errors == []
    assert board.fen() == KIWIPETE and len(results["moves"]) == 48 and results["copy"] == KIWIPETE


def test_other_thread_never_meets_a_borrow_left_by_a_finaliser():
    # A finaliser that releases the interpreter lock lets another thread run
    # in the middle of a call; its ordinary calls on the same board must not
    # fail, or push and pop would fall out of step.
    board, gen = Board(), MoveGenerator()
    stop = threading.Event()
    failures = []
    pairs = [0]

    def other():
        while not stop.is_set():
            try:
                board.push("e2e4")
            except RuntimeError as e:
                failures.append(("push", e))
                continue
            try:
                board.pop()
            except RuntimeError as e:
                failures.append(("pop", e))
                board.pop()
            pairs[0] += 1

    def loop():
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            _Finaliser(lambda: time.sleep(0))
            board.bitboard()
            _Finaliser(lambda: time.sleep(0))
            gen(board)
            _Finaliser(lambda: time.sleep(0))
            board.copy()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    thread = threading.Thread(target=other)
    thread.start()
    try:
        _with_threshold(2, loop)
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert failures == []
    assert pairs[0] > 0 and board.fen() == START



def test_conflicting_borrows_still_fail_first():
    # Calls that really overlap (native code holding a borrow) still fail
    # with RuntimeError, before any argument is looked at. The flag is the
    # last word of the object; set it by hand as such a call would.
    import ctypes

    def flag(obj):
        return ctypes.c_size_t.from_address(id(obj) + type(obj).__basicsize__ - ctypes.sizeof(ctypes.c_size_t))

    board, gen = Board(), MoveGenerator()
    exclusive = flag(board)
    assert exclusive.value == 0 and flag(gen).value == 0
    exclusive.value = ctypes.c_size_t(-1).value
    try:
        for call in (board.fen, board.bitboard, board.copy, board.turn):
            with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                call()
        for call in (board.pop, board.reflect, lambda: board.push("e2e4"), lambda: board.push(5),
                     lambda: gen(board)):
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                call()
        exclusive.value = 1  # one shared borrow: readers go on, writers fail
        assert board.fen() == START and len(gen.__call__(Board())) == 20
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            board.push("e2e4")
    finally:
        exclusive.value = 0
    assert board.fen() == START and len(gen(board)) == 20 and flag(gen).value == 0
