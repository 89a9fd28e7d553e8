"""Legal move generation: exact order, special moves, perft and divide."""
import os
import re
import subprocess
import sys
import textwrap

import pytest
import vemla_chess
from vemla_chess import Board

from chess_util import DATA, START, perft, snapshot

KINGS = "4k3/8/8/8/8/8/8/4K3 w - -"
E1_STEPS = ["e1e2", "e1f1", "e1d1", "e1f2", "e1d2"]
E8_STEPS = ["e8e7", "e8f8", "e8d8", "e8d7", "e8f7"]
CASTLE = "r3k2r/8/8/8/8/8/8/R3K2R"
PROMOTIONS = [f"b7{to}{p}" for to in ("a8", "c8", "b8") for p in "nbrq"]


@pytest.mark.parametrize(
    "fen, prefix, expected",
    [
        (START, "", "b1c3 b1a3 g1h3 g1f3 a2a3 a2a4 b2b3 b2b4 c2c3 c2c4 d2d3 d2d4 e2e3 e2e4 "
                    "f2f3 f2f4 g2g3 g2g4 h2h3 h2h4".split()),
        (KINGS, "", E1_STEPS),
        # b1 and b2 touch the black king.
        ("8/8/8/8/8/8/8/K1k5 w - -", "", ["a1a2"]),
        ("n1n4k/1P6/8/8/8/8/8/7K w - -", "", ["h1h2", "h1g1", "h1g2", *PROMOTIONS]),
        # Captures: white +7 before +9, black -7 before -9, then the push.
        ("4k3/8/8/2p1p3/3P4/8/8/4K3 w - -", "", [*E1_STEPS, "d4c5", "d4e5", "d4d5"]),
        ("4k3/8/8/3p4/2P1P3/8/8/4K3 b - -", "", [*E8_STEPS, "d5e4", "d5c4", "d5d4"]),
        # A blocked push allows no double push; a blocked double push leaves the push.
        ("4k3/8/8/8/8/4p3/4P3/4K3 w - -", "", ["e1f1", "e1d1"]),
        ("4k3/8/8/8/4p3/8/4P3/4K3 w - -", "", ["e1f1", "e1d1", "e1f2", "e1d2", "e2e3"]),
        # En passant: only the file of the e.p. field counts, the rank digit is not read.
        ("4k3/8/8/8/3pP3/8/8/4K3 b - e3", "", [*E8_STEPS, "d4e3", "d4d3"]),
        ("4k3/8/8/3pP3/8/8/8/4K3 w - d3", "", [*E1_STEPS, "e5d6", "e5e6"]),
        # Castling follows the king's steps, king side first.
        (f"{CASTLE} w KQkq -", "e1", [*E1_STEPS, "e1g1", "e1c1"]),
        (f"{CASTLE} b KQkq -", "e8", [*E8_STEPS, "e8g8", "e8c8"]),
        # b1 may be attacked, only occupied forbids queen-side castling.
        ("1r2k3/8/8/8/8/8/8/R3K3 w Q -", "e1", [*E1_STEPS, "e1c1"]),
        ("4k3/8/8/8/8/8/8/RN2K3 w Q -", "e1", E1_STEPS),
        ("3rk3/8/8/8/8/8/8/R3K3 w Q -", "e1", ["e1e2", "e1f1", "e1f2"]),
        ("4kr2/8/8/8/8/8/8/4K2R w K -", "e1", ["e1e2", "e1d1", "e1d2"]),
        # In check: no castling, and no step along the checking line.
        ("4r1k1/8/8/8/8/8/8/R3K2R w KQ -", "", ["e1f1", "e1d1", "e1f2", "e1d2"]),
        ("4k3/8/8/8/8/8/4K3/4r3 w - -", "", ["e2e1", "e2f2", "e2d2", "e2f3", "e2d3"]),
        # A pinned bishop has no move.
        ("4k3/4r3/8/8/8/8/4B3/4K3 w - -", "", ["e1f1", "e1d1", "e1f2", "e1d2"]),
        # Rook pass (rooks and queens by from square), then the bishop pass.
        ("4k3/8/8/8/3Q4/8/8/K6R w - -", "",
         "a1a2 a1b1 a1b2 h1b1 h1c1 h1d1 h1e1 h1f1 h1g1 h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 "
         "d4d1 d4d2 d4d3 d4a4 d4b4 d4c4 d4e4 d4f4 d4g4 d4h4 d4d5 d4d6 d4d7 d4d8 "
         "d4g1 d4b2 d4f2 d4c3 d4e3 d4c5 d4e5 d4b6 d4f6 d4a7 d4g7 d4h8".split()),
        # Checkmate and stalemate.
        ("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", "", []),
        ("7k/5Q2/6K1/8/8/8/8/8 b - -", "", []),
        # No king for the side to move: every candidate is kept.
        ("8/8/8/8/8/8/4P3/8 w - -", "", ["e2e3", "e2e4"]),
    ],
)
def test_move_order(gen, fen, prefix, expected):
    board = Board(fen)
    before = snapshot(board)
    moves = gen(board)
    assert type(moves) is list and all(type(m) is str for m in moves)
    assert [m for m in moves if m.startswith(prefix)] == expected
    assert snapshot(board) == before


def test_en_passant_offered_once(gen):
    board = Board("4k3/8/8/8/3p4/8/4P3/4K3 w - -")
    board.push("e2e4")
    assert [m for m in gen(board) if m.startswith("d4")] == ["d4e3", "d4d3"]
    board.push("e8d8")
    board.push("e1d1")
    assert [m for m in gen(board) if m.startswith("d4")] == ["d4d3"]


def test_generation_leaves_board_and_history_unchanged(gen):
    board = Board(f"{CASTLE} w KQkq -")
    for move in ("e1g1", "a8a1", "f1a1", "e8e7"):
        before = snapshot(board)
        assert gen(board) == gen(board)
        assert snapshot(board) == before
        board.push(move)


STANDARD = [
    (START, 8902),
    ("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 97862),
    ("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 2812),
    ("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -", 9467),
    ("rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -", 62379),
    ("r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -", 89890),
]


@pytest.mark.parametrize("fen, nodes", STANDARD)
def test_perft_depth_3(gen, fen, nodes):
    board = Board(fen)
    assert perft(gen, board, 3) == nodes
    assert board.fen() == fen


def divide_blocks():
    path = DATA / "divide_d2.txt"
    if not path.exists():
        return [pytest.param(None, None, marks=pytest.mark.skip(reason="tests/data/divide_d2.txt is missing"))]
    blocks = []
    for chunk in re.split(r"\n\s*\n", path.read_text().strip()):
        lines = chunk.strip().splitlines()
        assert lines[0].startswith("fen "), lines[0]
        counts = {move: int(count) for move, count in (line.split() for line in lines[1:])}
        blocks.append(pytest.param(lines[0][4:], counts, id=lines[0][4:]))
    return blocks


@pytest.mark.parametrize("fen, expected", divide_blocks())
def test_divide_depth_2(gen, fen, expected):
    board = Board(fen)
    actual = {}
    for move in gen(board):
        board.push(move)
        actual[move] = len(gen(board))
        board.pop()
    wrong = {m: (actual.get(m), expected.get(m)) for m in actual.keys() | expected.keys()
             if actual.get(m) != expected.get(m)}
    assert not wrong, f"{fen}: move -> (ours, expected): {dict(sorted(wrong.items()))}"


KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"


def test_move_texts_are_shared_plain_strs(gen):
    # Each distinct text is one str object, handed out again by later calls;
    # the lists themselves are new, and the texts compare and hash like any
    # str with the same characters.
    board = Board(KIWIPETE)
    first, second = gen(board), gen(board)
    assert first == second and first is not second
    assert all(a is b for a, b in zip(first, second))
    fresh = ["".join(list(m)) for m in first]
    assert all(type(m) is str and m.isascii() for m in first)
    assert set(fresh) == set(first) and [hash(m) for m in fresh] == [hash(m) for m in first]
    first.append("x")
    assert gen(board) == second
    # Plain text for codes 0-3 (the capture and the en-passant capture share
    # it), one text per promotion piece.
    assert gen(Board("4k3/8/3p4/3pP3/8/8/8/4K3 w - d6")).count("e5d6") == 2
    assert [m for m in gen(Board("r1r1k3/1P6/8/8/8/8/8/4K3 w - -")) if m.startswith("b7")] == PROMOTIONS


def test_text_that_cannot_be_made_is_memory_error_without_partial_list():
    # In a fresh interpreter no text exists yet: fail the first, second, ...
    # allocation of a call until it succeeds. Every failure is MemoryError and
    # returns nothing; the texts made before a failure are kept and reused.
    script = textwrap.dedent(
        """
        import sys
        sys.path.insert(0, sys.argv[1])
        try:
            import _testcapi
            _testcapi.set_nomemory
        except (ImportError, AttributeError):
            print("skip")
            raise SystemExit
        import vemla_chess
        board = vemla_chess.Board(sys.argv[2])
        gen = vemla_chess.MoveGenerator()
        failures = []
        for start in range(500):
            _testcapi.set_nomemory(start, start + 1)
            try:
                result = gen(board)
            except BaseException as error:
                failures.append(type(error).__name__)
                continue
            finally:
                _testcapi.remove_mem_hooks()
            break
        print(len(failures), set(failures), len(result), result == gen(board), board.fen())
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", script, os.path.dirname(vemla_chess.__file__), KIWIPETE],
        capture_output=True, text=True, timeout=120,
    )
    assert out.returncode == 0, out.stderr
    if out.stdout.strip() == "skip":
        pytest.skip("_testcapi.set_nomemory is not available")
    count, kinds, length, same, fen = out.stdout.split(" ", 4)
    assert int(count) >= 2
    assert (kinds, length, same, fen.strip()) == ("{'MemoryError'}", "48", "True", KIWIPETE)
