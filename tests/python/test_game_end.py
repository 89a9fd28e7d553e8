"""Check, the end of a game (generator.is_check, generator.outcome) and the
repetition count and ply of a board's line."""
import pytest
from vemla_chess import Board

from chess_util import PANIC, START, snapshot

# (FEN, outcome, in check)
GAME_ENDS = [
    ("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", "checkmate", True),
    ("R5k1/5ppp/8/8/8/8/8/6K1 b - -", "checkmate", True),
    ("7k/5Q2/6K1/8/8/8/8/8 b - -", "stalemate", False),
    # Stalemate is tested before material: bare minor pieces, the empty board.
    ("k7/8/1K6/4B3/8/8/8/8 b - -", "stalemate", False),
    ("8/8/8/8/8/8/8/8 w - -", "stalemate", False),
    ("8/8/4k3/8/8/3K4/8/8 b - -", "insufficient_material", False),
    ("8/8/4k3/8/8/3K4/8/6N1 w - -", "insufficient_material", False),
    ("2b5/8/4k3/8/8/3K4/8/3B1B2 w - -", "insufficient_material", False),
    ("8/8/8/8/8/2k5/1b6/K7 w - -", "insufficient_material", True),
    ("5b2/8/4k3/8/8/3K4/8/5B2 w - -", None, False),
    ("8/8/4k3/8/8/3K4/8/1n4N1 w - -", None, False),
    ("8/8/4k3/8/8/3K4/P7/8 w - -", None, False),
    ("8/8/8/8/8/2k5/1p6/K7 w - -", None, True),
    (START, None, False),
    # Only the lowest king of the side to move counts.
    ("7r/8/8/8/8/8/8/K6K w - -", None, False),
    ("r7/8/8/8/8/8/8/K6K w - -", None, True),
]


@pytest.mark.parametrize("fen, outcome, check", GAME_ENDS)
def test_outcome_and_check_leave_the_board_unchanged(gen, fen, outcome, check):
    board = Board(fen)
    before = snapshot(board)
    assert gen.outcome(board) == outcome
    assert gen.is_check(board) is check
    assert snapshot(board) == before
    # The reflected position is the same game seen from the other side.
    board.reflect()
    assert (gen.outcome(board), gen.is_check(board)) == (outcome, check)


def test_game_end_reached_by_push_and_left_by_pop(gen):
    board = Board()
    for move in ["f2f3", "e7e5", "g2g4"]:
        board.push(move)
        assert gen.outcome(board) is None
    board.push("d8h4")
    assert (gen.outcome(board), gen.is_check(board)) == ("checkmate", True)
    assert gen(board) == []
    board.pop()
    assert (gen.outcome(board), gen.is_check(board)) == (None, False)
    # Capturing the last piece besides the kings ends the game.
    board = Board("8/8/4k3/4q3/8/8/8/4RK2 w - -")
    assert (gen.outcome(board), gen.is_check(board)) == (None, False)
    board.push("e1e5")
    assert (gen.outcome(board), gen.is_check(board)) == (None, True)
    board.push("e6e5")
    assert gen.outcome(board) == "insufficient_material"


def test_repetitions_along_push_and_pop():
    board = Board()
    assert (board.repetitions(), board.ply()) == (1, 0)
    counts = []
    for move in ["g1f3", "g8f6", "f3g1", "f6g8"] * 2:
        board.push(move)
        counts.append(board.repetitions())
    assert counts == [1, 1, 1, 2, 2, 2, 2, 3]
    assert board.ply() == 8
    board.pop()
    assert (board.repetitions(), board.ply()) == (2, 7)
    # A copy carries the line; taking moves back on it leaves the source alone.
    copy = board.copy()
    copy.pop()
    copy.pop()
    assert (copy.repetitions(), copy.ply()) == (2, 5)
    assert (board.repetitions(), board.ply()) == (2, 7)
    board.push("f6g8")
    assert board.repetitions() == 3
    # A reflection starts a new line.
    board.reflect()
    assert (board.repetitions(), board.ply()) == (1, 0)


def test_repetitions_distinguish_castling_rights_and_en_passant():
    board = Board("4k3/8/8/8/8/8/8/4K2R w K -")
    shuffle = ["e1f1", "e8f8", "f1e1", "f8e8"]
    for move in shuffle:
        board.push(move)
    assert board.repetitions() == 1  # the castling right is gone
    for move in shuffle:
        board.push(move)
    assert board.repetitions() == 2

    board = Board()
    for move in ["e2e4", "g8f6", "g1f3", "f6g8", "f3g1"]:
        board.push(move)
    assert board.repetitions() == 1  # after e2e4 the en-passant file was set
    for move in ["g8f6", "g1f3", "f6g8", "f3g1"]:
        board.push(move)
    assert board.repetitions() == 2


def test_failing_push_and_pop_change_no_count():
    board = Board()
    board.push("g1f3")
    with pytest.raises(PANIC):
        board.push("e3e4")
    with pytest.raises(PANIC):
        Board().pop()
    assert (board.repetitions(), board.ply()) == (1, 1)
