"""No call, successful or failing, keeps memory or references behind."""
import array
import gc
import os
import sys

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import START

PAGE = os.sysconf("SC_PAGE_SIZE")
MIB = 1 << 20


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def swallow(call, *args, **kwargs):
    def run():
        try:
            call(*args, **kwargs)
        except BaseException:  # noqa: B036 - every failure kind is exercised on purpose
            pass
    return run


def calls(board, gen):
    """name -> (call, repetitions); failing calls are grouped and swallowed."""
    empty = Board("8/8/8/8/8/8/8/8 w - -")
    out = bytearray(768)
    planes_out = array.array("f", bytes(4 * 104 * 64))
    mated = Board("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -")

    def group(*failing):
        return lambda: [swallow(f, *args, **kwargs)() for f, args, kwargs in failing]

    pgn = ('[Event "a"]\n[FEN "4k3/8/8/8/8/8/8/4KN1N w - - 0 1"]\n\n1. Kd2 Kd7 2. Ng3 *\n\n'
           '[Event "b ]"]\n\n1. e4 {c} e5 (1... c5) 2. Ke3 *\n\n1. d4 {unfinished')

    epd = (START + ' bm e4 Nf3; pv e4 e5 --; id "a; b"; c0 x y;\n'
           '4k3/8/8/8/8/8/4N3/4K2N w - - bm Ng3; pv Kd2 Kd7 Ke9;\nbad line\n' + START + ' c0 "open')
    tree_pgn = ('[Event "t"]\n\n{a} 1. e4 $1 {[%eval 0.5]} ( {b} 1. d4 ( 1. c4 Kxx ) d5 ) e5 '
                '( 1... -- 2. Nf3 ) *\n' + pgn)

    def keep_raises(tags):
        raise KeyError("x")

    return {
        "read_pgn": (lambda: [g.board(1) for g in gen.read_pgn(pgn)], 10_000),
        "read_pgn variations": (lambda: [(g.tree.children[0].board(), [n.san for n in g.tree.children],
                                          g.tree.children[0].children, g.variation_errors, gen.pgn(g))
                                         for g in gen.read_pgn(tree_pgn, variations=True)
                                         if g.tree.children], 5_000),
        "read_pgn errors": (group(
            (gen.read_pgn, (5,), {}), (gen.read_pgn, ("/nonexistent/x.pgn",), {}),
            (gen.read_pgn, (pgn,), {"keep": 1}), (lambda: next(gen.read_pgn(pgn, keep=keep_raises)), (), {}),
            (lambda: list(gen.read_pgn(pgn))[0].board(9), (), {})), 5_000),
        "read_epd": (lambda: [(r.fen and r.board(), r.operations) for r in gen.read_epd(epd)], 10_000),
        "read_epd errors": (group(
            (gen.read_epd, (5,), {}), (gen.read_epd, ("/nonexistent/x.epd",), {}),
            (gen.read_epd, (epd,), {"errors": "x"}), (lambda: list(gen.read_epd(epd, errors="raise")), (), {}),
            (lambda: list(gen.read_epd(epd))[2].board(), (), {})), 5_000),
        "Board": (lambda: Board(START), 100_000),
        "fen": (board.fen, 200_000),
        "push/pop": (lambda: (board.push("g8f6"), board.pop()), 200_000),
        "bitboard": (board.bitboard, 30_000),
        "bitboard_from_fen": (lambda: Board.bitboard_from_fen(START), 30_000),
        "bitboard_bytes/into": (lambda: (board.bitboard_bytes(), Board.bitboard_bytes_from_fen(START),
                                         board.bitboard_into(out)), 100_000),
        "planes_into": (lambda: (board.planes_into(planes_out, 8), board.planes_into(planes_out, 8, "board")),
                        50_000),
        "planes_into errors": (group(
            (board.planes_into, (planes_out,), {}), (board.planes_into, (planes_out, 0), {}),
            (board.planes_into, (planes_out, 8, "up"), {}), (board.planes_into, (bytes(4 * 104 * 64), 8), {}),
            (board.planes_into, (bytearray(4 * 104 * 64), 8), {})), 20_000),
        "turn": (board.turn, 200_000),
        "copy": (board.copy, 100_000),
        "reflect": (lambda: (empty.reflect(), empty.reflect()), 100_000),
        "generate": (lambda: gen(board), 50_000),
        "is_check/outcome": (lambda: (gen.is_check(board), gen.outcome(board), gen.outcome(mated)), 50_000),
        "repetitions/ply": (lambda: (board.repetitions(), board.ply()), 200_000),
        "san/parse_san/push_san": (lambda: (gen.san(board, "g8f6"), gen.parse_san(board, "Nf6"),
                                            gen.push_san(board, "Nf6"), board.pop()), 100_000),
        "pgn": (lambda: gen.pgn(["e2e4", "e7e5"], {"White": "x", "Annotator": "y"}, None, "1-0"), 20_000),
        "SAN errors": (group(
            (gen.san, (board, "e2e4"), {}), (gen.san, (board, "E2E4"), {}), (gen.parse_san, (board, "Nf9"), {}),
            (gen.push_san, (board, "--"), {}), (gen.parse_san, (board, "Ke2"), {}), (gen.san, (board,), {}),
            (gen.parse_san, (board, 5), {}), (gen.pgn, (["e2e4", "e2e4"],), {}), (gen.pgn, ([1],), {}),
            (gen.pgn, ([], {"A B": "x"}), {}), (gen.pgn, ([], 5), {}), (gen.pgn, ([], [("a", "b")]), {}),
            (gen.pgn, ([], None, "x"), {}), (gen.pgn, ([], None, None, "2-0"), {})), 20_000),
        "MoveGenerator": (MoveGenerator, 20),
        "svg": (lambda: board.svg(200, "black"), 5_000),
        "diagram": (board.diagram, 50_000),
        "picture errors": (group(
            (board.svg, (10,), {}), (board.svg, (2**70,), {}), (board.svg, (360.0,), {}),
            (board.svg, (360, "up"), {}), (board.svg, (360, 1), {}), (board.svg, (), {"x": 1}),
            (board.diagram, ("\ud800",), {}), (board.diagram, ("up",), {}), (board._repr_svg_, (1,), {})), 20_000),
        "Board errors": (group(
            (Board, ("",), {}), (Board, ("8/8/8/8/8/8/8/8 W - -",), {}), (Board, (5,), {}),
            (Board, ("\ud800",), {}), (Board, ("a", "b"), {}), (Board, (), {"x": 1}),
            (Board, ("8/8/8/8/8/8/8/7x w - -",), {})), 20_000),
        "push/pop errors": (group(
            (board.push, ("e3e4",), {}), (board.push, ("hello",), {}), (board.push, ("E2E4",), {}),
            (board.push, ("a1\u00e9",), {}), (board.push, (5,), {}), (board.push, (), {}),
            (board.push, ("e2e4",), {"x": 1}), (empty.pop, (), {}), (board.fen, (1,), {})), 20_000),
        "other errors": (group(
            (gen, (5,), {}), (gen, (), {}), (gen, (board, board), {}), (MoveGenerator, (1,), {}),
            (Board.bitboard_from_fen, ("x",), {}), (Board.bitboard_from_fen, (5,), {}),
            (Board.bitboard_from_fen, (), {}), (gen.is_check, (5,), {}), (gen.outcome, (), {}),
            (gen.outcome, (board,), {"x": 1}), (board.repetitions, (1,), {}),
            (board.bitboard_into, (bytes(768),), {}), (board.bitboard_into, (bytearray(7),), {}),
            (board.bitboard_into, ([],), {}), (Board.bitboard_bytes_from_fen, ("x",), {})), 20_000),
    }


NAMES = list(calls(Board(), MoveGenerator()))


# AddressSanitizer holds freed blocks back on purpose, so the process grows.
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="resident size is not meaningful under AddressSanitizer")
@pytest.mark.parametrize("name", NAMES)
def test_resident_memory_stays_flat(gen, name):
    board = Board()
    board.push("e2e4")
    call, count = calls(board, gen)[name]
    watched = (Board, MoveGenerator, True, False, board, gen)
    for _ in range(max(count // 10, 2)):
        call()
    gc.collect()
    refs, before = [sys.getrefcount(o) for o in watched], rss()
    for _ in range(count):
        call()
    gc.collect()
    assert rss() - before < MIB
    assert [sys.getrefcount(o) for o in watched] == refs
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"


def unique(text):
    """A str object of its own, so that its reference count is ours alone."""
    return "".join(list(text))


@pytest.mark.parametrize(
    "call, make_args",
    [
        (Board, lambda b: (unique("8/8/8/8/8/8/8/8 W - -"),)),
        (Board, lambda b: (unique("8/8/8/8/8/8/8/7x w - -"),)),
        (Board, lambda b: (unique("\ud800 w - -"),)),
        (Board, lambda b: (unique("a"), unique("b"))),
        (Board.bitboard_from_fen, lambda b: (unique("x/8"),)),
        (lambda b, m: b.push(m), lambda b: (b, unique("e3e4"))),
        (lambda b, m: b.push(m), lambda b: (b, unique("e2e4e4"))),
        (lambda b, m: b.push(m), lambda b: (b, unique("a1\u00e9"))),
        (lambda b, m: b.push(m, m), lambda b: (b, unique("e2e4"))),
        (lambda b, m: b.push(chess_move=m, extra=m), lambda b: (b, unique("e2e4"))),
        (lambda b, x: MoveGenerator()(x, b), lambda b: (b, [])),
        (lambda b, s: b.svg(s), lambda b: (b, 2**70 + 1)),
        (lambda b, s: b.svg(s), lambda b: (b, 10.5)),
        (lambda b, o: b.svg(360, o), lambda b: (b, unique("up"))),
        (lambda b, o: b.diagram(orientation=o), lambda b: (b, unique("Black"))),
        (lambda b, x: MoveGenerator()(x), lambda b: (b, object())),
        (lambda b, x: MoveGenerator().outcome(x), lambda b: (b, object())),
        (lambda b, x: b.planes_into(x, 2), lambda b: (b, bytearray(4 * 32 * 64))),
        (lambda b, v: b.planes_into(bytearray(0), 1, v), lambda b: (b, unique("up"))),
        (lambda b, x: b.bitboard_into(x), lambda b: (b, bytearray(769))),
        (lambda b, x: b.bitboard_into(x), lambda b: (b, bytes(768))),
        (lambda b, x: b.bitboard_into(x), lambda b: (b, memoryview(bytearray(1536))[::2])),
        (Board.bitboard_bytes_from_fen, lambda b: (unique("x/8"),)),
        (lambda b, x: MoveGenerator().is_check(b, x), lambda b: (b, object())),
    ],
)
def test_failing_calls_keep_no_reference(call, make_args):
    args = make_args(Board())
    before = [sys.getrefcount(a) for a in args]
    for _ in range(3):
        with pytest.raises(BaseException):  # noqa: B017 - any failure; only the counts matter
            call(*args)
    assert [sys.getrefcount(a) for a in args] == before


def test_allocation_failure_raises_memory_error_without_partial_result(gen):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("_testcapi.set_nomemory is not available")
    board = Board()
    watched = (True, False, board, Board)
    calls = [board.bitboard, lambda: Board.bitboard_from_fen(START), lambda: gen(board), board.fen, board.copy,
             board.bitboard_bytes, lambda: gen.outcome(Board("7k/5Q2/6K1/8/8/8/8/8 b - -")), board.repetitions,
             board.svg, board.diagram]
    for call in calls:
        # Fail the first, second, ... allocation of the call until it succeeds.
        for start in range(100):
            result, error_type = None, None
            refs = [sys.getrefcount(o) for o in watched]
            testcapi.set_nomemory(start, start + 1)
            try:
                result = call()
            except BaseException as e:  # noqa: B036
                error_type = type(e)
            finally:
                testcapi.remove_mem_hooks()
            if error_type is None:
                break
            assert error_type is MemoryError, (call, start)
            assert [sys.getrefcount(o) for o in watched] == refs, (call, start)
        assert result is not None, call
    assert board.fen() == START
