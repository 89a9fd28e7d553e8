#!/usr/bin/env python3
"""Long leak check of every Python-visible call of vemla_chess.

    tools/leak_check.py [calls]          (default 1,000,000)

Each group below runs `calls` times after a warm-up of a twentieth of that;
the resident set size (/proc/self/statm) is read before and after the run,
with a garbage collection first, and so are the reference counts of the
objects the calls are given (True, False, None, the boards, the generator,
the argument texts). A group fails when the process grows by more than 1 MiB
or when any of these reference counts moves by more than 100: a leak of one
block or one reference per call shows as a million of them.

Failing calls are checked to raise the exception they must raise; any other
outcome stops the script. Two groups run fewer times and say so in the table:
MoveGenerator() builds 4 MiB of tables per call (one in a thousand calls is
enough to show a leak of any part of it), and the allocation-failure group,
which needs CPython's _testcapi, runs a tenth of the calls.

The module is imported from VEMLA_MODULE_DIR (default: build/python).
Exit status: 0 all groups flat, 1 a group grew, 2 bad usage.
"""
import array
import gc
import os
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, os.environ.get("VEMLA_MODULE_DIR", str(ROOT / "build" / "python")))
import vemla_chess  # noqa: E402
from vemla_chess import Board, MoveGenerator  # noqa: E402

PAGE = os.sysconf("SC_PAGE_SIZE")
RSS_LIMIT = 1 << 20
REF_LIMIT = 100
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
# White can castle both ways, take en passant on d6 and promote on b8 or a8.
SPECIALS = "r3k2r/1P6/8/3pP3/8/8/8/R3K2R w KQkq d6"
EMPTY = "8/8/8/8/8/8/8/8 w - -"
MATED = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -"
GAME = ("e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6 e1g1 f8e7 f1e1 b7b5 a4b3 d7d6 c2c3 e8g8 "
        "h2h3 c6a5 b3c2 c7c5 d2d4 d8c7 b1d2 c5d4 c3d4 a5c6 d2b3 a6a5 c1e3 a5a4").split()

PANIC = vemla_chess.PanicException

WATCHED = [True, False, None, Board, MoveGenerator]


def watch(*objects):
    WATCHED.extend(o for o in objects if not isinstance(o, (int, float)))


def raising(kind, call, *args, **kwargs):
    """One call that must raise `kind` (exactly); returns it as a no-argument function."""
    watch(*args, *kwargs.values())

    def run():
        try:
            call(*args, **kwargs)
        except BaseException as error:  # noqa: B036 - the type is checked right here
            if type(error) is not kind:
                raise AssertionError(f"{call!r}{args}{kwargs} raised {error!r}, not {kind.__name__}") from error
            return
        raise AssertionError(f"{call!r}{args}{kwargs} did not raise {kind.__name__}")
    return run


def all_of(*runs):
    def run():
        for r in runs:
            r()
    return run, len(runs)


def groups():
    """(name, function, calls made by one run of it, runs as a fraction of `calls`)."""
    gen = MoveGenerator()
    board = Board()
    board.push("e2e4")
    played = Board()
    for move in GAME:
        played.push(move)
    specials, kiwipete, empty, reflected = Board(SPECIALS), Board(KIWIPETE), Board(EMPTY), Board()
    mated, bare = Board(MATED), Board("8/8/4k3/8/8/3K4/8/5B2 w - -")
    cells, frozen, strided = bytearray(768), bytes(768), memoryview(bytearray(1536))[::2]
    planes1, planes8 = array.array("f", bytes(4 * 20 * 64)), array.array("f", bytes(4 * 104 * 64))
    surrogate = "\ud800"
    watch(gen, board, played, specials, kiwipete, empty, reflected, mated, bare, cells, frozen, strided, *GAME)

    def game():
        b = Board()
        for move in GAME:
            b.push(move)

    def special_moves():
        for move in ("e1g1", "e1c1", "e5d6", "b7b8q", "b7a8n"):
            specials.push(move)
            specials.pop()

    def reflect():
        reflected.push("g1f3")
        reflected.push("f3g1")
        reflected.reflect()
        reflected.reflect()

    out = [
        ("Board()", Board, 1, 1),
        ("Board(fen)", lambda: Board(KIWIPETE), 1, 1),
        ("Board(fen=...)", lambda: Board(fen=SPECIALS), 1, 1),
        ("Board + 30 pushes, dropped", game, 1 + len(GAME), 1),
        ("fen()", played.fen, 1, 1),
        ("turn()", played.turn, 1, 1),
        ("push()/pop()", lambda: (board.push("g8f6"), board.pop()), 2, 1),
        ("push(chess_move=...)/pop()", lambda: (board.push(chess_move="b8c6"), board.pop()), 2, 1),
        ("push()/pop() castling, e.p., promotion", special_moves, 10, 1),
        ("copy() with 30 moves of history", played.copy, 1, 1),
        ("reflect() (with history)", reflect, 4, 1),
        ("bitboard()", kiwipete.bitboard, 1, 1),
        ("Board.bitboard_from_fen()", lambda: Board.bitboard_from_fen(KIWIPETE), 1, 1),
        ("board.bitboard_from_fen(fen=...)", lambda: board.bitboard_from_fen(fen=START), 1, 1),
        ("bitboard_bytes()", kiwipete.bitboard_bytes, 1, 1),
        ("Board.bitboard_bytes_from_fen()", lambda: Board.bitboard_bytes_from_fen(KIWIPETE), 1, 1),
        ("bitboard_into(bytearray / memoryview)", lambda: (kiwipete.bitboard_into(cells),
                                                          kiwipete.bitboard_into(out=memoryview(cells))), 2, 1),
        ("planes_into(history 8 / 1, board view)", lambda: (played.planes_into(planes8, 8),
                                                            played.planes_into(planes1, view="board")), 2, 1),
        ("generator(board)", lambda: gen(kiwipete), 1, 1),
        ("generator(board=...) with castling, e.p.", lambda: gen(board=specials), 1, 1),
        ("generator.is_check() / outcome()", lambda: (gen.is_check(played), gen.outcome(played),
                                                       gen.outcome(board=mated), gen.outcome(bare)), 4, 1),
        ("repetitions() / ply() with 30 moves", lambda: (played.repetitions(), played.ply()), 2, 1),
        ("MoveGenerator()", MoveGenerator, 1, 1000),
        ("svg(size, orientation) / _repr_svg_()", lambda: (kiwipete.svg(200, "black"), kiwipete._repr_svg_()), 2, 10),
        ("diagram() / diagram(orientation=...)", lambda: (played.diagram(), played.diagram(orientation="black")), 2, 1),
        ("svg() / diagram(): errors", *all_of(
            raising(ValueError, board.svg, 63), raising(ValueError, board.svg, 2**70),
            raising(ValueError, board.svg, 360, "up"), raising(TypeError, board.svg, 360.0),
            raising(TypeError, board.svg, 360, 1), raising(TypeError, board.svg, size=360, x=1),
            raising(ValueError, board.diagram, "Black"), raising(UnicodeEncodeError, board.diagram, surrogate),
            raising(TypeError, board._repr_svg_, 1)), 1),
        ("Board(): TypeError", *all_of(
            raising(TypeError, Board, 5), raising(TypeError, Board, None), raising(TypeError, Board, b"8/8"),
            raising(TypeError, Board, START, START), raising(TypeError, Board, x=START),
            raising(TypeError, Board, START, fen=START)), 1),
        ("Board(): ValueError", *all_of(
            raising(ValueError, Board, "8/8/8/8/8/8/8/8 W - -"), raising(ValueError, Board, "8/8/8/8/8/8/8/8 w KQx -"),
            raising(ValueError, Board, "8/8/8/8/8/8/8/8 b - i3")), 1),
        ("Board(): PanicException", *all_of(
            raising(PANIC, Board, ""), raising(PANIC, Board, "8/8/8/8/8/8/8/7x w - -"),
            raising(PANIC, Board, "8/8/8/8/8/8/8/8"), raising(PANIC, Board, "8/8/8/8/8/8/8/8 w KQkq"),
            raising(PANIC, Board, "8/8/8/8/8/8/8/7\u00e9 w - -")), 1),
        ("Board(): UnicodeEncodeError", *all_of(raising(UnicodeEncodeError, Board, surrogate + " w - -")), 1),
        ("push(): TypeError", *all_of(
            raising(TypeError, board.push, 5), raising(TypeError, board.push),
            raising(TypeError, board.push, "e7e5", "e7e5"), raising(TypeError, board.push, move="e7e5"),
            raising(TypeError, board.push, "e7e5", chess_move="e7e5"), raising(TypeError, Board.push, 5, "e7e5")), 1),
        ("push(): ValueError", *all_of(
            raising(ValueError, board.push, "hello"), raising(ValueError, board.push, "e2e4e4"),
            raising(ValueError, board.push, "e7e")), 1),
        ("push(): PanicException", *all_of(
            raising(PANIC, board.push, "e3e4"), raising(PANIC, board.push, "E7E5"),
            raising(PANIC, board.push, "a1\u00e9"), raising(PANIC, board.push, "a9a1")), 1),
        ("push(): UnicodeEncodeError", *all_of(raising(UnicodeEncodeError, board.push, "e2" + surrogate)), 1),
        ("pop(): PanicException", *all_of(raising(PANIC, empty.pop)), 1),
        ("bitboard_from_fen(): errors", *all_of(
            raising(PANIC, Board.bitboard_from_fen, "x/8"), raising(PANIC, Board.bitboard_from_fen, " "),
            raising(TypeError, Board.bitboard_from_fen, 5), raising(TypeError, Board.bitboard_from_fen),
            raising(TypeError, Board.bitboard_from_fen, START, fen=START),
            raising(UnicodeEncodeError, Board.bitboard_from_fen, surrogate)), 1),
        ("bitboard_into(), bytes_from_fen(): errors", *all_of(
            raising(TypeError, board.bitboard_into, frozen), raising(TypeError, board.bitboard_into, [0] * 768),
            raising(ValueError, board.bitboard_into, strided), raising(ValueError, board.bitboard_into, cells[:7]),
            raising(TypeError, board.bitboard_into), raising(TypeError, board.bitboard_into, cells, out=cells),
            raising(PANIC, Board.bitboard_bytes_from_fen, "x/8"),
            raising(TypeError, Board.bitboard_bytes_from_fen, 5)), 1),
        ("planes_into(): errors", *all_of(
            raising(ValueError, board.planes_into, planes1, 8), raising(ValueError, board.planes_into, planes8, 0),
            raising(ValueError, board.planes_into, planes1, 1, "up"), raising(TypeError, board.planes_into, cells),
            raising(TypeError, board.planes_into, planes1, view=1)), 1),
        ("generator / MoveGenerator(): TypeError", *all_of(
            raising(TypeError, gen, 5), raising(TypeError, gen), raising(TypeError, gen, board, board),
            raising(TypeError, gen, board=board, extra=1), raising(TypeError, gen, chessboard=board),
            raising(TypeError, MoveGenerator, 1), raising(TypeError, MoveGenerator, x=1),
            raising(TypeError, gen.is_check, 5), raising(TypeError, gen.outcome),
            raising(TypeError, gen.outcome, board, False, board), raising(TypeError, gen.is_check, board=board, x=1)), 1),
        ("no-argument methods: TypeError", *all_of(
            raising(TypeError, board.fen, 1), raising(TypeError, board.pop, 1), raising(TypeError, board.turn, 1),
            raising(TypeError, board.bitboard, 1), raising(TypeError, board.copy, 1),
            raising(TypeError, board.reflect, 1), raising(TypeError, Board.fen, gen),
            raising(TypeError, board.repetitions, 1), raising(TypeError, board.ply, 1)), 1),
    ]
    out.extend(allocation_failures(board, gen))
    return out


def allocation_failures(board, gen):
    """Every call that builds a result, with one of its first allocations refused."""
    try:
        import _testcapi
    except ImportError:
        return []
    if not hasattr(_testcapi, "set_nomemory"):
        return []
    calls = [board.bitboard, lambda: Board.bitboard_from_fen(START), lambda: gen(board), board.fen,
             board.copy, board.turn, lambda: Board(START), MoveGenerator, lambda: gen.outcome(Board(MATED)),
             board.repetitions, board.bitboard_bytes, lambda: Board.bitboard_bytes_from_fen(START)]
    state = {"n": 0}

    def run():
        state["n"] += 1
        call, start = calls[state["n"] % len(calls)], (state["n"] // len(calls)) % 12
        _testcapi.set_nomemory(start, start + 1)
        try:
            call()
        except MemoryError:
            pass
        finally:
            _testcapi.remove_mem_hooks()
    return [("MemoryError (one allocation refused)", run, 1, 10)]


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def refcounts():
    return [sys.getrefcount(o) for o in WATCHED]


def measure(run, runs):
    for _ in range(max(runs // 20, 1)):
        run()
    gc.collect()
    refs, before, started = refcounts(), rss(), time.perf_counter()
    for _ in range(runs):
        run()
    seconds = time.perf_counter() - started
    gc.collect()
    drift = max(abs(a - b) for a, b in zip(refcounts(), refs))
    return rss() - before, drift, seconds


def main(argv):
    if len(argv) > 2 or (len(argv) == 2 and not argv[1].replace("_", "").isdigit()):
        print("usage: tools/leak_check.py [calls]", file=sys.stderr)
        return 2
    calls = int(argv[1]) if len(argv) == 2 else 1_000_000
    print(f"vemla_chess from {Path(vemla_chess.__file__).parent}, {calls:,} runs per group")
    print(f"{'group':<44} {'calls':>12} {'RSS growth KiB':>15} {'ref drift':>10} {'seconds':>8}")
    failed = []
    for name, run, per_run, divisor in groups():
        runs = max(calls // divisor, 1)
        growth, drift, seconds = measure(run, runs)
        bad = growth > RSS_LIMIT or drift > REF_LIMIT
        if bad:
            failed.append(name)
        print(f"{name:<44} {runs * per_run:>12,} {growth / 1024:>15,.0f} {drift:>10} {seconds:>8.1f}"
              + ("  <-- LEAK" if bad else ""), flush=True)
    print(f"RSS at the end: {rss() / 2**20:.1f} MiB")
    if failed:
        print("growing groups: " + ", ".join(failed), file=sys.stderr)
        return 1
    print("no group grew")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
