"""Move counters: reading them from FEN, following push and pop, copy and reflect."""
import random

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import EMPTY, PANIC, START, epd_fens


@pytest.mark.parametrize(
    "text, clock, number",
    [
        (START, 0, 1),
        (START + " 12 40", 12, 40),
        (START + " 7", 7, 1),  # the move number alone may be missing
        (START + "\t 0\u00a0 0 trailing fields ignored", 0, 0),
        (START + " 000150 0099", 150, 99),
        (START + f" {2**63 - 1} 1", 2**63 - 1, 1),
    ],
)
def test_from_full_fen_reads_the_counters(text, clock, number):
    board = Board.from_full_fen(text)
    assert (board.halfmove_clock(), board.fullmove_number()) == (clock, number)
    assert board.fen() == Board(text).fen()
    assert board.full_fen() == f"{board.fen()} {clock} {number}"
    # Board(fen) keeps ignoring them.
    plain = Board(text)
    assert (plain.halfmove_clock(), plain.fullmove_number()) == (0, 1)


@pytest.mark.parametrize(
    "counters, message",
    [
        ("x 1", "Invalid fen: Invalid half-move clock"),
        ("-1 1", "Invalid fen: Invalid half-move clock"),
        ("+1 1", "Invalid fen: Invalid half-move clock"),
        ("1.5 1", "Invalid fen: Invalid half-move clock"),
        (f"{2**63} 1", "Invalid fen: Invalid half-move clock"),
        ("99999999999999999999999 1", "Invalid fen: Invalid half-move clock"),
        ("\uff11 1", "Invalid fen: Invalid half-move clock"),  # a full-width digit
        ("0 one", "Invalid fen: Invalid move number"),
        ("0 -3", "Invalid fen: Invalid move number"),
        ("0 1e3", "Invalid fen: Invalid move number"),
    ],
)
def test_from_full_fen_rejects_bad_counters(counters, message):
    with pytest.raises(ValueError) as info:
        Board.from_full_fen(f"{START} {counters}")
    assert str(info.value) == message


def test_from_full_fen_fails_on_the_position_fields_like_the_constructor():
    with pytest.raises(ValueError, match="^Invalid fen: Invalid side-to-move$"):
        Board.from_full_fen(f"{EMPTY} W - - x y")
    with pytest.raises(PANIC, match="Invalid piece type"):
        Board.from_full_fen("rnbqkbnX/8/8/8/8/8/8/8 w - - x 1")
    with pytest.raises(PANIC):
        Board.from_full_fen(f"{EMPTY} w KQkq")
    with pytest.raises(TypeError, match="argument 'fen'"):
        Board.from_full_fen(5)
    with pytest.raises(TypeError, match=r"Board.from_full_fen\(\) missing 1 required positional argument: 'fen'"):
        Board.from_full_fen()
    assert Board.from_full_fen(fen=START + " 3 4").full_fen() == START + " 3 4"


def test_clock_restarts_on_pawn_moves_and_captures_only():
    # Each ply with the clock and number after it.
    board = Board.from_full_fen("r3k2r/1p6/8/2P5/8/8/6p1/R3K2R b KQkq - 10 30")
    line = [
        ("b7b5", 0, 31),  # black pawn double step
        ("c5b6", 0, 31),  # en passant
        ("e8g8", 1, 32),  # castling is not a capture, though it moves two pieces
        ("e1c1", 2, 32),
        ("g2g1q", 0, 33),  # promotion
        ("d1g1", 0, 33),  # the rook takes the new queen
        ("g8h8", 1, 34),
        ("g1g8", 2, 34),
        ("h8g8", 0, 35),  # the king takes
    ]
    for text, clock, number in line:
        board.push(text)
        assert (text, board.halfmove_clock(), board.fullmove_number()) == (text, clock, number)
    for text, clock, number in reversed(line):
        assert (board.halfmove_clock(), board.fullmove_number()) == (clock, number)
        board.pop()
    assert board.full_fen() == "r3k2r/1p6/8/2P5/8/8/6p1/R3K2R b KQkq - 10 30"


def test_copy_keeps_counters_and_reflect_keeps_their_values():
    board = Board.from_full_fen(START + " 5 9")
    for text in ("g1f3", "g8f6", "f3g1"):
        board.push(text)
    assert board.full_fen().endswith(" 8 10")
    copy = board.copy()
    assert copy.full_fen() == board.full_fen()
    copy.pop(), copy.pop(), copy.pop()
    assert copy.full_fen() == START + " 5 9"
    assert board.full_fen().endswith(" 8 10")

    board.reflect()
    assert board.full_fen().endswith(" w KQkq - 8 10")
    with pytest.raises(PANIC):
        board.pop()
    board.push("b1c3")  # White moved: the number stays
    assert board.full_fen().endswith(" 9 10")
    board.push("e7e5")
    assert board.full_fen().endswith(" 0 11")
    board.pop(), board.pop()
    assert board.full_fen().endswith(" 8 10")


def model_step(board, text, clock, number):
    """The counters after text, worked out from the position before it."""
    planes = board.bitboard()
    frm = (ord(text[0]) - 97) + 8 * (int(text[1]) - 1)
    to = (ord(text[2]) - 97) + 8 * (int(text[3]) - 1)
    white = board.turn() == "white"
    own = range(0, 6) if white else range(6, 12)
    enemy = range(6, 12) if white else range(0, 6)
    pawn = any(planes[p][frm] for p in (0, 6))
    capture = any(planes[p][to] for p in enemy) and not any(planes[p][to] for p in own)
    clock = 0 if pawn or capture else clock + 1
    return clock, number + (not white)


@pytest.mark.parametrize("seed", range(4))
def test_counters_follow_random_games(seed):
    rng = random.Random(seed)
    gen = MoveGenerator()
    fens = [" ".join(fen.split()[:4]) for fen in epd_fens()]
    for _ in range(15):
        start_clock, start_number = rng.randrange(0, 60), rng.randrange(1, 90)
        board = Board.from_full_fen(f"{rng.choice(fens)} {start_clock} {start_number}")
        counters = [(start_clock, start_number)]
        for _ in range(rng.randrange(1, 120)):
            moves = gen(board)
            if not moves:
                break
            text = rng.choice(moves)
            counters.append(model_step(board, text, *counters[-1]))
            board.push(text)
            assert (board.halfmove_clock(), board.fullmove_number()) == counters[-1]
            assert Board.from_full_fen(board.full_fen()).full_fen() == board.full_fen()
        while len(counters) > 1:
            board.pop()
            counters.pop()
            assert (board.halfmove_clock(), board.fullmove_number()) == counters[-1]
