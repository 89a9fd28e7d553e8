"""Argument parsing and conversion of every callable, and that failing calls
change nothing."""
import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import START, snapshot


class Text(str):
    pass


class Thing:
    pass


def conversion(param, type_name, target="PyString"):
    return f"argument '{param}': '{type_name}' object cannot be converted to '{target}'"


# (call on board b, exception type, exact message)
ARGUMENT_ERRORS = [
    # Board.__new__
    (lambda b, g: Board("a", "b"), "Board.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda b, g: Board("a", "b", "c", x=1), "Board.__new__() takes from 0 to 1 positional arguments but 3 were given"),
    (lambda b, g: Board("a", fen="b"), "Board.__new__() got multiple values for argument 'fen'"),
    (lambda b, g: Board(fenn="x"), "Board.__new__() got an unexpected keyword argument 'fenn'"),
    (lambda b, g: Board(fen=START, **{"é": 1}), "Board.__new__() got an unexpected keyword argument 'é'"),
    (lambda b, g: b.push(**{"a\0b": 1}), "Board.push() got an unexpected keyword argument 'a\0b'"),
    (lambda b, g: b.push(**{"\ud800": 1}), "Board.push() got an unexpected keyword argument '\ud800'"),
    (lambda b, g: Board(None), conversion("fen", "NoneType")),
    (lambda b, g: Board(42), conversion("fen", "int")),
    (lambda b, g: Board(fen=START.encode()), conversion("fen", "bytes")),
    (lambda b, g: Board(Thing()), conversion("fen", "Thing")),
    # Board.push
    (lambda b, g: b.push(), "Board.push() missing 1 required positional argument: 'chess_move'"),
    (lambda b, g: b.push("e2e4", "e7e5"), "Board.push() takes 1 positional arguments but 2 were given"),
    (lambda b, g: b.push(move="e2e4"), "Board.push() got an unexpected keyword argument 'move'"),
    (lambda b, g: b.push("e2e4", chess_move="e2e4"), "Board.push() got multiple values for argument 'chess_move'"),
    # Parsing ends before any conversion: the unknown keyword wins over the bad value.
    (lambda b, g: b.push(chess_move=5, x=1), "Board.push() got an unexpected keyword argument 'x'"),
    (lambda b, g: b.push(5), conversion("chess_move", "int")),
    (lambda b, g: b.push(chess_move=None), conversion("chess_move", "NoneType")),
    (lambda b, g: Board.push(b, ["e2e4"]), conversion("chess_move", "list")),
    # Board.bitboard_from_fen, on the class and on an instance
    (lambda b, g: Board.bitboard_from_fen(), "Board.bitboard_from_fen() missing 1 required positional argument: 'fen'"),
    (lambda b, g: b.bitboard_from_fen("a", "b"), "Board.bitboard_from_fen() takes 1 positional arguments but 2 were given"),
    (lambda b, g: Board.bitboard_from_fen(x=START), "Board.bitboard_from_fen() got an unexpected keyword argument 'x'"),
    (lambda b, g: Board.bitboard_from_fen(START, fen=START), "Board.bitboard_from_fen() got multiple values for argument 'fen'"),
    (lambda b, g: b.bitboard_from_fen(5), conversion("fen", "int")),
    # Board.bitboard_bytes_from_fen and bitboard_into
    (lambda b, g: Board.bitboard_bytes_from_fen(), "Board.bitboard_bytes_from_fen() missing 1 required positional argument: 'fen'"),
    (lambda b, g: b.bitboard_bytes_from_fen(START, fen=START), "Board.bitboard_bytes_from_fen() got multiple values for argument 'fen'"),
    (lambda b, g: Board.bitboard_bytes_from_fen(5), conversion("fen", "int", "str")),
    (lambda b, g: b.bitboard_into(), "Board.bitboard_into() missing 1 required positional argument: 'out'"),
    (lambda b, g: b.bitboard_into(bytearray(768), bytearray(768)), "Board.bitboard_into() takes 1 positional argument but 2 were given"),
    (lambda b, g: b.bitboard_into(bytearray(768), out=bytearray(768)), "Board.bitboard_into() got multiple values for argument 'out'"),
    (lambda b, g: b.bitboard_into(buffer=bytearray(768)), "Board.bitboard_into() got an unexpected keyword argument 'buffer'"),
    # MoveGenerator.__new__ and __call__
    (lambda b, g: MoveGenerator(1), "MoveGenerator.__new__() takes 0 positional arguments but 1 was given"),
    (lambda b, g: MoveGenerator(1, 2), "MoveGenerator.__new__() takes 0 positional arguments but 2 were given"),
    (lambda b, g: MoveGenerator(board=b), "MoveGenerator.__new__() got an unexpected keyword argument 'board'"),
    (lambda b, g: g(), "MoveGenerator.__call__() missing 1 required positional argument: 'board'"),
    (lambda b, g: g(b, b), "MoveGenerator.__call__() takes 1 positional arguments but 2 were given"),
    (lambda b, g: g(b, board=b), "MoveGenerator.__call__() got multiple values for argument 'board'"),
    (lambda b, g: g(bord=b), "MoveGenerator.__call__() got an unexpected keyword argument 'bord'"),
    (lambda b, g: g(5), conversion("board", "int", "Board")),
    (lambda b, g: g(board=START), conversion("board", "str", "Board")),
    (lambda b, g: g(g), conversion("board", "MoveGenerator", "Board")),
    # MoveGenerator.is_check and outcome take the board like the call does
    *(case for m in ("is_check", "outcome") for case in [
        (lambda b, g, m=m: getattr(g, m)(), f"MoveGenerator.{m}() missing 1 required positional argument: 'board'"),
        (lambda b, g, m=m: getattr(g, m)(b, b), f"MoveGenerator.{m}() takes 1 positional argument but 2 were given")
        if m == "is_check" else
        (lambda b, g, m=m: getattr(g, m)(b, b, b), f"MoveGenerator.{m}() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda b, g, m=m: getattr(g, m)(b, board=b), f"MoveGenerator.{m}() got multiple values for argument 'board'"),
        (lambda b, g, m=m: getattr(g, m)(bord=b), f"MoveGenerator.{m}() got an unexpected keyword argument 'bord'"),
        (lambda b, g, m=m: getattr(g, m)(START), conversion("board", "str", "Board")),
    ]),
]


@pytest.fixture
def board():
    b = Board()
    b.push("e2e4")
    return b


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS)
def test_argument_error(board, gen, call, message):
    before = snapshot(board)
    with pytest.raises(TypeError) as info:
        call(board, gen)
    assert str(info.value) == message
    if message.startswith("argument '"):
        cause = info.value.__cause__
        assert type(cause) is TypeError
        assert str(cause) == message.split(": ", 1)[1]
    assert snapshot(board) == before


# Calls the interpreter itself refuses before the module sees them.
@pytest.mark.parametrize(
    "call",
    [
        *(lambda b, g, m=m: getattr(b, m)(1) for m in ("fen", "pop", "bitboard", "turn", "reflect", "copy",
                                                      "repetitions", "ply", "bitboard_bytes")),
        lambda b, g: b.fen(x=1),
        lambda b, g: Board.push(5, "e2e4"),
        lambda b, g: Board.fen(g),
        lambda b, g: MoveGenerator.__call__(b, b),
        lambda b, g: MoveGenerator.is_check(b, b),
        lambda b, g: Board.bitboard_into(g, bytearray(768)),
        lambda b, g: MoveGenerator.outcome(b, b),
    ],
)
def test_interpreter_type_error(board, gen, call):
    before = snapshot(board)
    with pytest.raises(TypeError):
        call(board, gen)
    assert snapshot(board) == before


@pytest.mark.parametrize(
    "call",
    [
        lambda b, g: Board("\ud800"),
        lambda b, g: Board(fen=START + " \udfff"),
        lambda b, g: b.push("e2\ud800"),
        lambda b, g: Board.bitboard_from_fen("\ud800"),
        lambda b, g: Board.bitboard_bytes_from_fen("\ud800"),
    ],
)
def test_unencodable_text_raises_encoding_error_unchanged(board, gen, call):
    before = snapshot(board)
    with pytest.raises(UnicodeEncodeError) as info:
        call(board, gen)
    with pytest.raises(UnicodeEncodeError) as expected:
        info.value.object.encode("utf-8")
    assert type(info.value) is UnicodeEncodeError
    assert str(info.value) == str(expected.value)
    assert info.value.__cause__ is None
    assert snapshot(board) == before


def test_working_argument_forms(gen):
    assert Board(fen=Text(START)).fen() == START
    assert Board(Text("8/8/8/8/8/8/8/8 b - -")).fen() == "8/8/8/8/8/8/8/8 b - -"
    b = Board()
    b.push(chess_move=Text("e2e4"))
    b.push("e7e5")
    assert b.fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"
    assert gen(board=b) == gen(b)
    assert gen.outcome(board=b) is None and gen.is_check(board=b) is False
    planes = Board().bitboard()
    assert Board.bitboard_from_fen(fen=START) == planes
    assert Board.bitboard_from_fen(Text(START)) == planes
    assert b.bitboard_from_fen(START) == planes
    assert b.bitboard_from_fen(fen=START) == planes
