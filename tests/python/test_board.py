"""Board: FEN reading and writing, push/pop, copy, reflect and the planes."""
import random

import pytest
from vemla_chess import Board

from chess_util import (
    EMPTY, PANIC, START, canonical_fen, epd_fens, placement_words, pops_available, snapshot, words,
)

START_WORDS = [
    0x000000000000FF00, 0x0000000000000042, 0x0000000000000024, 0x0000000000000081,
    0x0000000000000008, 0x0000000000000010, 0x00FF000000000000, 0x4200000000000000,
    0x2400000000000000, 0x8100000000000000, 0x0800000000000000, 0x1000000000000000,
]
WK, BK = 5, 11
FENS = epd_fens()


def only(piece, bit):
    out = [0] * 12
    out[piece] = 1 << bit
    return out


@pytest.mark.parametrize(
    "text, fen, expected_words",
    [
        (START, START, START_WORDS),
        (START + " 0 1", START, START_WORDS),
        (f"{EMPTY} b - -", f"{EMPTY} b - -", [0] * 12),
        # White space of any kind separates fields; leading/trailing runs are ignored.
        (f"\t {EMPTY}\t\tw  KQkq\n- 0 1\n", f"{EMPTY} w KQkq -", [0] * 12),
        (f"\u3000{EMPTY}\u00a0w\u2028KQkq\u0085-\u3000", f"{EMPTY} w KQkq -", [0] * 12),
        (f"{EMPTY} w - - anything at all", f"{EMPTY} w - -", [0] * 12),
        ("K7/8/8/8/8/8/8/8 w - -", "K7/8/8/8/8/8/8/8 w - -", only(WK, 56)),
        ("7k/8/8/8/8/8/8/8 w - -", "7k/8/8/8/8/8/8/8 w - -", only(BK, 63)),
        ("8/8/8/8/8/8/8/7K w - -", "8/8/8/8/8/8/8/7K w - -", only(WK, 7)),
        ("r6r/8/8/8/8/8/8/8 b - -", "r6r/8/8/8/8/8/8/8 b - -", [0] * 9 + [(1 << 56) | (1 << 63), 0, 0]),
        # Nine ranks: the counter reaches 64 before the king and wraps to a1.
        ("K7/8/8/8/8/8/8/8/8 w - -", "8/8/8/8/8/8/8/K7 w - -", only(WK, 0)),
        # A short rank shifts every later square: the king lands on h7.
        ("K7/8/8/8/8/8/8/7 w - -", "8/7K/8/8/8/8/8/8 w - -", only(WK, 55)),
        ("8/8/8/8/8/8/8/0K07 w - -", "8/8/8/8/8/8/8/K7 w - -", only(WK, 0)),
        ("8/8/8/8/8/8/8/9K w - -", "8/8/8/8/8/8/1K6/8 w - -", only(WK, 9)),
        ("/K7/8/8/8/8/8/8/8/ w - -", "K7/8/8/8/8/8/8/8 w - -", only(WK, 56)),
        # Castling: any order, repeats, and nothing after "-" is examined.
        (f"{EMPTY} w qkQK -", f"{EMPTY} w KQkq -", [0] * 12),
        (f"{EMPTY} w KKQ -", f"{EMPTY} w KQ -", [0] * 12),
        (f"{EMPTY} w -x -", f"{EMPTY} w - -", [0] * 12),
        (f"{EMPTY} w KQ-x -", f"{EMPTY} w KQ -", [0] * 12),
        (f"{EMPTY} b k-q -", f"{EMPTY} b k -", [0] * 12),
        # En passant keeps the file only; the rank follows from the side to move.
        (f"{EMPTY} w - d6", f"{EMPTY} w - d6", [0] * 12),
        (f"{EMPTY} b - d3", f"{EMPTY} b - d3", [0] * 12),
        (f"{EMPTY} w - e3", f"{EMPTY} w - e6", [0] * 12),
        (f"{EMPTY} b - a", f"{EMPTY} b - a3", [0] * 12),
        (f"{EMPTY} b - h9xyz", f"{EMPTY} b - h3", [0] * 12),
    ],
)
def test_fen_reading(text, fen, expected_words):
    board = Board(text)
    assert board.fen() == fen
    assert words(board) == expected_words
    assert Board.bitboard_from_fen(text) == board.bitboard()
    assert pops_available(board) == 0


def test_default_board_is_the_starting_position():
    assert Board().fen() == START and words(Board()) == START_WORDS


BAD_PLACEMENT = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX"


@pytest.mark.parametrize(
    "text, error, message",
    [
        ("", PANIC, "FEN has no piece placement field"),
        ("   ", PANIC, "FEN has no piece placement field"),
        ("\t\u3000\n", PANIC, "FEN has no piece placement field"),
        (EMPTY, PANIC, "FEN has no side-to-move field"),
        (f"{EMPTY} w", PANIC, "FEN has no castling field"),
        (f"{EMPTY} w KQkq ", PANIC, "FEN has no en-passant field"),
        # The placement is read first, whatever the other fields say.
        (f"{BAD_PLACEMENT} x y z", PANIC, "Invalid piece type"),
        ("8/8/8/8/8/8/8/7x", PANIC, "Invalid piece type"),
        ("8/8/8/8/8/8/8/7\u00e9 w - -", PANIC, "Invalid piece type"),
        ("8/8/8/8/8/O7/8/8 w - -", PANIC, "Invalid piece type"),
        (f"{EMPTY}\0 w - -", PANIC, "Invalid piece type"),
        (f"{EMPTY} w\0 - -", ValueError, "Invalid fen: Invalid side-to-move"),
        (f"{EMPTY} W - -", ValueError, "Invalid fen: Invalid side-to-move"),
        (f"{EMPTY} white - -", ValueError, "Invalid fen: Invalid side-to-move"),
        (f"{EMPTY} w\u00e9 - -", ValueError, "Invalid fen: Invalid side-to-move"),
        (f"{EMPTY} W", ValueError, "Invalid fen: Invalid side-to-move"),  # before the missing castling field
        (f"{EMPTY} w KQkqx -", ValueError, "Invalid fen: Invalid castling specifier"),
        (f"{EMPTY} b x", ValueError, "Invalid fen: Invalid castling specifier"),  # before the missing e.p. field
        (f"{EMPTY} w K\u00e9 -", ValueError, "Invalid fen: Invalid castling specifier"),
        (f"{EMPTY} w - i3", ValueError, "Invalid fen: Invalid en-passant square"),
        (f"{EMPTY} w - E3", ValueError, "Invalid fen: Invalid en-passant square"),
        (f"{EMPTY} b - 3", ValueError, "Invalid fen: Invalid en-passant square"),
        (f"{EMPTY} b - \u00e9", ValueError, "Invalid fen: Invalid en-passant square"),
    ],
)
def test_fen_errors(text, error, message):
    with pytest.raises(BaseException) as info:  # noqa: B017 - the exact type is checked below
        Board(text)
    assert type(info.value) is error
    assert info.value.args == (message,)


@pytest.mark.skipif(not FENS, reason="no tests/data/*.epd files")
def test_fen_round_trips_on_data_positions():
    for text in FENS:
        fen = Board(text).fen()
        assert fen == canonical_fen(text), text
        assert Board(fen).fen() == fen, text
        assert words(Board(text)) == placement_words(text.split()[0]), text
        assert Board.bitboard_from_fen(text) == Board(text).bitboard(), text


CASTLE = "r3k2r/8/8/8/8/8/8/R3K2R"


@pytest.mark.parametrize(
    "fen, moves, after",
    [
        (START, ["e2e4"], "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"),
        (START, ["e2e3"], "rnbqkbnr/pppppppp/8/8/8/4P3/PPPP1PPP/RNBQKBNR b KQkq -"),
        (START, ["e2e4", "d7d5"], "rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq d6"),
        # The side to move flips whoever moved.
        (START, ["e7e5"], "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR b KQkq -"),
        (f"{CASTLE} w KQkq -", ["e1g1"], "r3k2r/8/8/8/8/8/8/R4RK1 b kq -"),
        (f"{CASTLE} w KQkq -", ["e1c1"], "r3k2r/8/8/8/8/8/8/2KR3R b kq -"),
        (f"{CASTLE} b KQkq -", ["e8g8"], "r4rk1/8/8/8/8/8/8/R3K2R w KQ -"),
        (f"{CASTLE} b KQkq -", ["e8c8"], "2kr3r/8/8/8/8/8/8/R3K2R w KQ -"),
        (f"{CASTLE} w KQkq -", ["e1e2"], "r3k2r/8/8/8/8/8/4K3/R6R b kq -"),
        (f"{CASTLE} w KQkq -", ["h1h2"], "r3k2r/8/8/8/8/8/7R/R3K3 b Qkq -"),
        (f"{CASTLE} w KQkq -", ["a1a2"], "r3k2r/8/8/8/8/8/R7/4K2R b Kkq -"),
        (f"{CASTLE} b KQkq -", ["a8a7"], "4k2r/r7/8/8/8/8/8/R3K2R w KQk -"),
        (f"{CASTLE} b KQkq -", ["e8e7"], "r6r/4k3/8/8/8/8/8/R3K2R w KQ -"),
        # Only a piece of the side to move loses rights by moving.
        (f"{CASTLE} w KQkq -", ["e8f8"], "r4k1r/8/8/8/8/8/8/R3K2R b KQkq -"),
        # Capturing a rook on its corner removes that right; other captures do not.
        (f"{CASTLE} w KQkq -", ["a1a8"], "R3k2r/8/8/8/8/8/8/4K2R b Kk -"),
        (f"{CASTLE} w KQkq -", ["h1h8"], "r3k2R/8/8/8/8/8/8/R3K3 b Qq -"),
        (f"{CASTLE} b KQkq -", ["h8h1"], "r3k3/8/8/8/8/8/8/R3K2r w Qq -"),
        ("r3k2q/8/8/8/8/8/8/B3K3 w kq -", ["a1h8"], "r3k2B/8/8/8/8/8/8/4K3 b kq -"),
        ("4k3/8/8/3pP3/8/8/8/4K3 w - d6", ["e5d6"], "4k3/8/3P4/8/8/8/8/4K3 b - -"),
        ("4k3/8/8/8/3pP3/8/8/4K3 b - e3", ["d4e3"], "4k3/8/8/8/8/4p3/8/4K3 w - -"),
        ("7k/4P3/8/8/8/8/8/4K3 w - -", ["e7e8q"], "4Q2k/8/8/8/8/8/8/4K3 b - -"),
        ("7k/4P3/8/8/8/8/8/4K3 w - -", ["e7e8N"], "4N2k/8/8/8/8/8/8/4K3 b - -"),
        ("7k/4P3/8/8/8/8/8/4K3 w - -", ["e7e8b"], "4B2k/8/8/8/8/8/8/4K3 b - -"),
        ("7k/4P3/8/8/8/8/8/4K3 w - -", ["e7e8R"], "4R2k/8/8/8/8/8/8/4K3 b - -"),
        # Without a promotion letter the pawn stays a pawn.
        ("7k/4P3/8/8/8/8/8/4K3 w - -", ["e7e8"], "4P2k/8/8/8/8/8/8/4K3 b - -"),
        ("3kr3/3P4/8/8/8/8/8/4K3 w - -", ["d7e8q"], "3kQ3/8/8/8/8/8/8/4K3 b - -"),
        ("4k3/8/8/8/8/8/3p4/4K3 b - -", ["d2d1r"], "4k3/8/8/8/8/8/8/3rK3 w - -"),
        # from == to: the rook stays, yet it has "left" a1.
        (START, ["a1a1"], "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b Kkq -"),
        # A promotion letter on a move that does not promote is ignored.
        (START, ["g1f3q"], "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq -"),
    ],
)
def test_push_then_pop(fen, moves, after):
    board = Board(fen)
    states = [snapshot(board)]
    for move in moves:
        board.push(move)
        states.append(snapshot(board))
    assert board.fen() == after
    # Compared word by word: a capture leaving a stale bit would not show in FEN.
    assert words(board) == words(Board(after))
    for state in reversed(states[:-1]):
        board.pop()
        assert snapshot(board) == state


def test_push_onto_own_piece_keeps_both_and_pop_restores():
    board = Board("4k3/8/8/8/8/8/8/R3K3 w Q -")
    board.push("a1e1")
    assert board.fen() == "4k3/8/8/8/8/8/8/4R3 b - -"  # the first piece in index order
    assert words(board)[3] == words(board)[5] == 1 << 4
    board.pop()
    assert board.fen() == "4k3/8/8/8/8/8/8/R3K3 w Q -"


NOTATION = "Invalid chess move: Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: "
PROMOTION = "Invalid chess move: Unsupported promotion type"


@pytest.mark.parametrize(
    "text, error, message",
    [
        ("e2e", ValueError, NOTATION + "e2e"),
        ("", ValueError, NOTATION),
        ("e2e4e4", ValueError, NOTATION + "e2e4e4"),
        ("\u00e9", ValueError, NOTATION + "\u00e9"),
        ("\u0161\u0131a1", ValueError, NOTATION + "\u0161\u0131a1"),  # 4 characters, 6 bytes
        ("e2\0", ValueError, NOTATION + "e2\0"),
        ("e2e4 ", ValueError, PROMOTION),
        ("e2e4\0", ValueError, PROMOTION),
        ("e7e8k", ValueError, PROMOTION),
        ("hello", ValueError, PROMOTION),
        ("e9e4x", ValueError, PROMOTION),  # the letter is checked before any square
        ("a1\u00e91", ValueError, PROMOTION),
        ("E2E4", PANIC, "assertion failed: from_file <= 7"),
        ("`2a4", PANIC, "assertion failed: from_file <= 7"),
        ("a9a1", PANIC, "assertion failed: from_rank <= 7"),
        ("a1i1", PANIC, "assertion failed: to_file <= 7"),
        ("e2e0", PANIC, "assertion failed: to_rank <= 7"),
        ("\u0161" "1aq", PANIC, "assertion failed: to_rank <= 7"),  # 5 bytes, 4 characters
        ("a1\u00e9q", PANIC, "assertion failed: to_file <= 7"),
        ("e3e4", PANIC, "no piece on e3 to move"),
        # Multi-byte text: the length rule counts bytes, the indices count characters.
        ("\U0001F600", PANIC, "index out of bounds: the len is 1 but the index is 1"),
        ("\u0161\u0131", PANIC, "index out of bounds: the len is 2 but the index is 2"),
        ("a1\u00e9", PANIC, "index out of bounds: the len is 3 but the index is 3"),
    ],
)
def test_push_errors_leave_board_unchanged(text, error, message):
    board = Board()
    board.push("d2d4")
    before = snapshot(board)
    with pytest.raises(BaseException) as info:  # noqa: B017 - the exact type is checked below
        board.push(text)
    assert type(info.value) is error
    assert info.value.args == (message,)
    assert snapshot(board) == before
    # A malformed square also gets a note with the whole text; the message
    # itself stays the fixed text above.
    notes = getattr(info.value, "__notes__", None)
    if message.startswith(("assertion failed", "index out of bounds")):
        assert len(notes) == 1 and notes[0].startswith(f"move text '{text}': ")
    else:
        assert notes is None


def test_random_games_unwind_exactly(gen):
    rng = random.Random(20240611)
    for _ in range(200):
        board = Board()
        states = []
        for _ in range(150):
            moves = gen(board)
            if not moves:
                break
            states.append((board.fen(), board.bitboard()))
            board.push(rng.choice(moves))
        for fen, planes in reversed(states):
            board.pop()
            assert board.fen() == fen and board.bitboard() == planes
        with pytest.raises(PANIC, match="^no move to take back$"):
            board.pop()
        assert board.fen() == START


def test_copy_is_independent_and_keeps_history(gen):
    source = Board()
    for move in ("e2e4", "e7e5", "g1f3"):
        source.push(move)
    before = snapshot(source)
    dup = source.copy()
    assert type(dup) is Board and dup is not source
    assert (dup.fen(), dup.turn(), gen(dup)) == (source.fen(), source.turn(), gen(source))
    dup.push("b8c6")
    for _ in range(4):
        dup.pop()
    assert dup.fen() == START
    with pytest.raises(PANIC):
        dup.pop()
    assert snapshot(source) == before
    # The other direction: changes to the source leave the copy alone.
    dup = source.copy()
    source.pop()
    source.reflect()
    assert dup.fen() == before[0] and pops_available(dup) == 3


@pytest.mark.parametrize(
    "fen, moves, reflected",
    [
        (START, [], "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -"),
        (START, ["e2e4"], "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq e6"),
        (f"{EMPTY} w K -", [], f"{EMPTY} b k -"),
        (f"{EMPTY} w q -", [], f"{EMPTY} b Q -"),
        (f"{EMPTY} b Kq -", [], f"{EMPTY} w Qk -"),
        (f"{EMPTY} w - d6", [], f"{EMPTY} b - d3"),
        ("8/8/8/8/8/8/8/K6n b - -", [], "k6N/8/8/8/8/8/8/8 w - -"),
    ],
)
def test_reflect(fen, moves, reflected):
    board = Board(fen)
    for move in moves:
        board.push(move)
    board.reflect()
    assert board.fen() == reflected
    assert board.turn() == ("white" if reflected.split()[1] == "w" else "black")
    with pytest.raises(PANIC, match="^no move to take back$"):
        board.pop()
    assert board.fen() == reflected


@pytest.mark.skipif(not FENS, reason="no tests/data/*.epd files")
def test_reflect_twice_is_identity():
    for text in FENS:
        board = Board(text)
        board.reflect()
        board.reflect()
        assert board.fen() == Board(text).fen(), text


def test_turn():
    board = Board()
    assert board.turn() == "white"
    board.push("e2e4")
    assert board.turn() == "black"
    board.pop()
    assert board.turn() == "white"


START_TRUE = {
    0: range(8, 16), 1: [1, 6], 2: [2, 5], 3: [0, 7], 4: [3], 5: [4],
    6: range(48, 56), 7: [57, 62], 8: [58, 61], 9: [56, 63], 10: [59], 11: [60],
}


@pytest.mark.parametrize("get", [lambda: Board().bitboard(), lambda: Board.bitboard_from_fen(START)])
def test_planes_of_the_starting_position(get):
    planes = get()
    assert type(planes) is list and len(planes) == 12
    for p, plane in enumerate(planes):
        assert type(plane) is list and len(plane) == 64
        assert all(item is True or item is False for item in plane)
        assert [k for k, item in enumerate(plane) if item] == list(START_TRUE[p])
    assert sum(map(sum, planes)) == 32


def test_planes_are_new_every_call():
    board = Board()
    first, second = board.bitboard(), board.bitboard()
    assert first is not second and all(a is not b for a, b in zip(first, second))
    first[0][8] = False
    first[5].clear()
    first.append("x")
    assert board.bitboard() == second == Board.bitboard_from_fen(START)


@pytest.mark.parametrize(
    "text",
    [EMPTY, f"{EMPTY} x y z", f"  {EMPTY}\tanything", f"{EMPTY} W KQkqx i9"],
)
def test_bitboard_from_fen_reads_the_placement_only(text):
    assert Board.bitboard_from_fen(text) == [[False] * 64 for _ in range(12)]


@pytest.mark.parametrize(
    "text, message",
    [("", "FEN has no piece placement field"), (" \n", "FEN has no piece placement field"),
     ("8/8/8/8/8/8/8/7x w - -", "Invalid piece type")],
)
def test_bitboard_from_fen_errors(text, message):
    with pytest.raises(PANIC) as info:
        Board.bitboard_from_fen(text)
    assert info.value.args == (message,)
