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


SHAPE = "Invalid fen: Invalid piece placement: expected eight ranks of eight squares"
CHARACTER = "Invalid fen: Invalid piece placement: expected piece letters, digits 1 to 8 and '/'"
SIDE = "Invalid fen: Invalid side-to-move"
CASTLING = "Invalid fen: Invalid castling specifier"
EN_PASSANT = "Invalid fen: Invalid en-passant square"


@pytest.mark.parametrize(
    "fen, message",
    [
        # The placement: eight ranks of eight squares, in the standard alphabet.
        ("rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", SHAPE),  # nine ranks
        ("rnbqkbnr/pppppppp/8/8/8/8/RNBQKBNR w KQkq - 0 1", SHAPE),  # seven
        ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq - 0 1", SHAPE),  # trailing slash
        ("rnbqkbnr/pppppppp/8/8//8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", SHAPE),  # an empty rank
        ("rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", SHAPE),  # seven squares
        ("rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", CHARACTER),
        ("rnbqkbnr/pppppppp/44/8/8/8/PPPPPPPPP/RNBQKBNR w KQkq - 0 1", SHAPE),  # nine squares
        ("K7/8/8/8/8/8/8/7 w - -", SHAPE),
        ("rnbqkbnr/pppppppp/08/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", CHARACTER),
        ("rnbqkbnX/8/8/8/8/8/8/8 w - - x 1", CHARACTER),
        ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBN\u00e9 w KQkq -", CHARACTER),
        # The other fields, the first bad one deciding.
        (f"{EMPTY} W - - x y", SIDE),
        (f"{START.split()[0]} w KKQ - 0 1", CASTLING),
        (f"{START.split()[0]} w -x - 0 1", CASTLING),
        (f"{START.split()[0]} w KQ- - 0 1", CASTLING),
        (f"{START.split()[0]} w KQkqx - 0 1", CASTLING),
        (f"{START.split()[0]} w KQkq e - 0 1", EN_PASSANT),
        (f"{START.split()[0]} w KQkq e3 0 1", EN_PASSANT),  # White captures onto rank 6
        (f"{START.split()[0]} b KQkq e6 0 1", EN_PASSANT),
        (f"{START.split()[0]} w KQkq e66 0 1", EN_PASSANT),
        (f"{START.split()[0]} w KQkq i6 0 1", EN_PASSANT),
        # A missing field is rejected input here too, named.
        ("", "Invalid fen: FEN has no piece placement field"),
        (f"{START.split()[0]}", "Invalid fen: FEN has no side-to-move field"),
        (f"{START.split()[0]} w", "Invalid fen: FEN has no castling field"),
        (f"{START.split()[0]} w KQkq", "Invalid fen: FEN has no en-passant field"),
    ],
)
def test_from_full_fen_accepts_only_standard_fen(fen, message):
    with pytest.raises(ValueError) as info:
        Board.from_full_fen(fen)
    assert str(info.value) == message


def test_board_stays_lenient_where_from_full_fen_is_strict():
    # Nine ranks: the lenient reader wraps round; the king lands on a1.
    assert Board("K7/8/8/8/8/8/8/8/8 w - -").piece_at("a1") == "K"
    # What from_full_fen refuses: with one rank too many, a rank is lost.
    assert Board("rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -").fen() == (
        "pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -")
    assert Board(f"{START.split()[0]} w KKQ-x e").fen() == f"{START.split()[0]} w KQ e6"
    with pytest.raises(PANIC, match="Invalid piece type"):
        Board("rnbqkbnX/8/8/8/8/8/8/8 w - - x 1")
    # Standard text reads alike through both.
    for fen in (START, "r3k2r/8/8/8/Pp6/8/8/R3K2R b Kq a3", "4k3/8/8/3pP3/8/8/8/4K3 w - d6",
                "8/8/8/8/8/8/8/K6k w kqQK -"):
        assert Board.from_full_fen(fen + " 3 9").fen() == Board(fen).fen()


def test_from_full_fen_argument_errors():
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
