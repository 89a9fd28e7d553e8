"""piece_at and the generator's single-move queries."""
import random

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import PANIC, START, epd_fens, snapshot


@pytest.fixture(scope="module")
def g():
    return MoveGenerator()


def test_piece_at_by_name_and_number():
    board = Board()
    assert [board.piece_at(s) for s in ("a1", "e1", "d8", "e2", "e4", "h7")] == ["R", "K", "q", "P", None, "p"]
    assert [board.piece_at(n) for n in (0, 4, 59, 12, 28, 55)] == ["R", "K", "q", "P", None, "p"]
    assert board.piece_at(square="g8") == "n"
    board.push("e1e2")  # an illegal move stacks the king on its pawn: fen() writes the pawn
    assert board.piece_at("e2") == "P" and board.fen().split("/")[6] == "PPPPPPPP"


@pytest.mark.parametrize(
    "square, error, message",
    [
        ("e9", ValueError, 'Invalid square: expected a name from a1 to h8, got "e9"'),
        ("E4", ValueError, 'Invalid square: expected a name from a1 to h8, got "E4"'),
        ("e44", ValueError, 'Invalid square: expected a name from a1 to h8, got "e44"'),
        ("", ValueError, 'Invalid square: expected a name from a1 to h8, got ""'),
        (64, ValueError, "Invalid square: expected a number from 0 to 63"),
        (-1, ValueError, "Invalid square: expected a number from 0 to 63"),
        (2**70, ValueError, "Invalid square: expected a number from 0 to 63"),
        (4.0, TypeError, "argument 'square': 'float' object cannot be converted to 'str' or 'int'"),
        (None, TypeError, "argument 'square': 'NoneType' object cannot be converted to 'str' or 'int'"),
    ],
)
def test_piece_at_rejects_what_is_not_a_square(square, error, message):
    with pytest.raises(error) as info:
        Board().piece_at(square)
    assert str(info.value) == message


def test_queries_on_known_moves(g):
    board = Board("r3k2r/pPp5/8/3pP3/8/8/8/R3K2R w KQkq d6")
    before = snapshot(board)
    legal = g(board)
    cases = {
        # move: (legal, capture, check)
        "e5d6": (True, True, False),  # en passant
        "e5e6": (True, False, False),
        "b7a8q": (True, True, True),  # capture-promotion on the rook, checking along the rank
        "b7b8q": (True, False, True),
        "b7b8": (False, False, False),  # a promotion needs its piece
        "e1g1": (True, False, False),
        "e1c1": (True, False, False),
        "e1e3": (False, False, False),
        "a1a7": (True, True, False),
        # Through the pawn on a7: not legal, but pushed it would take the rook and check.
        "a1a8": (False, True, True),
        "a2a3": (False, False, False),  # empty from-square
        "e8g8": (False, False, False),  # not White's move
    }
    for text, (is_legal, capture, check) in cases.items():
        assert g.is_legal(board, text) == is_legal == (text in legal), text
        assert g.is_capture(board, text) == capture, text
        assert g.gives_check(board=board, chess_move=text) == check, text
    assert snapshot(board) == before


def test_push_legal_plays_only_legal_moves(g):
    board = Board()
    g.push_legal(board, "e2e4")
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    before = snapshot(board)
    for text in ("e2e4", "e7e4", "e8e7", "a1a1", "e7e8q"):
        with pytest.raises(ValueError) as info:
            g.push_legal(board, text)
        assert str(info.value) == f"Invalid chess move: not legal in {before[0]}: {text}"
        assert snapshot(board) == before
    g.push_legal(board, "e7e5")
    board.pop()
    assert snapshot(board) == before


# Every kind of text that is not a move, with the words a refusal of its
# malformed square uses.
NOT_MOVES = [
    ("e2e4e4", "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: e2e4e4"),
    ("", "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: "),
    ("e7e8x", "Unsupported promotion type"),
    ("e9e4", "move text 'e9e4': the from-square's rank is not a digit 1 to 8"),
    ("E2E4", "move text 'E2E4': the from-square's file is not a letter a to h (lower case)"),
    ("e2i4", "move text 'e2i4': the to-square's file is not a letter a to h (lower case)"),
    ("e2e9", "move text 'e2e9': the to-square's rank is not a digit 1 to 8"),
    ("e2\x00\x01", "move text 'e2\\x00\\x01': the to-square's file is not a letter a to h (lower case)"),
    ("a1\u00e9", "move text 'a1\u00e9': it has fewer than four characters"),
]


@pytest.mark.parametrize("text, reason", NOT_MOVES)
def test_text_that_is_not_a_move_is_not_legal_and_is_refused_as_input(g, text, reason):
    board = Board()
    assert g.is_legal(board, text) is False
    assert g.is_legal(board=board, chess_move=text) is False
    for query in (g.is_capture, g.gives_check, g.push_legal, g.san, g.policy_index):
        with pytest.raises(ValueError) as info:
            query(board, text)
        assert str(info.value) == "Invalid chess move: " + reason, query
    assert board.fen() == START and board.ply() == 0
    # push keeps its own refusals of a malformed square.
    if not reason.startswith(("Unsupported",)):
        with pytest.raises(PANIC):
            board.push(text)


def test_query_arguments_are_checked_before_the_text(g):
    board = Board()
    for query in (g.is_legal, g.is_capture, g.gives_check, g.push_legal):
        with pytest.raises(TypeError, match="^argument 'chess_move': 'int' object cannot be converted to 'str'$"):
            query(board, 5)
        with pytest.raises(TypeError, match="argument 'board'"):
            query("e2e4", "e2e9")
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'chess_move'"):
            query(board)
    assert board.fen() == START


@pytest.mark.parametrize("seed", range(3))
def test_queries_agree_with_the_generator_and_push(g, seed):
    rng = random.Random(seed)
    fens = [" ".join(f.split()[:4]) for f in epd_fens()]
    texts = [a + b for a in (f + r for f in "abcdefgh" for r in "12345678")
             for b in (f + r for f in "abcdefgh" for r in "12345678")]
    for fen in rng.sample(fens, 25):
        board = Board(fen)
        for _ in range(rng.randrange(0, 20)):
            moves = g(board)
            if not moves:
                break
            board.push(rng.choice(moves))
        legal = set(g(board))
        before = snapshot(board)
        candidates = rng.sample(texts, 300) + sorted(legal) + [m[:4] for m in legal if len(m) == 5]
        for text in candidates:
            assert g.is_legal(board, text) == (text in legal), (board.fen(), text)
        for text in legal:
            pieces = sum(map(sum, board.bitboard()))
            board.push(text)
            captured = sum(map(sum, board.bitboard())) < pieces
            check = g.is_check(board)
            board.pop()
            assert g.is_capture(board, text) == captured, (board.fen(), text)
            assert g.gives_check(board, text) == check, (board.fen(), text)
        assert snapshot(board) == before
