"""The planes as bytes (bitboard_bytes, bitboard_bytes_from_fen) and written
into a caller's buffer (bitboard_into)."""
import array
import random
import sys

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import EMPTY, PANIC, START, epd_fens, snapshot

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
EXPECTED = "expected a writable buffer of 768 one-byte items, got "


def flat(planes):
    return bytes(int(cell) for plane in planes for cell in plane)


def boards():
    """Positions from the data files and along a random game."""
    out = [Board(fen) for fen in epd_fens()[::7]]
    board, gen, rng = Board(), MoveGenerator(), random.Random(3)
    for _ in range(40):
        moves = gen(board)
        if not moves:
            break
        board.push(rng.choice(moves))
        out.append(board.copy())
    return out


def test_bytes_and_buffer_hold_the_cells_of_bitboard():
    for board in boards():
        expected = flat(board.bitboard())
        before = snapshot(board)
        cells = board.bitboard_bytes()
        assert type(cells) is bytes and cells == expected
        assert board.bitboard_bytes() is not cells  # a new object per call
        out = bytearray(b"\x07" * 768)
        assert board.bitboard_into(out) is None
        assert out == expected
        assert snapshot(board) == before


def test_bytes_from_fen_match_the_lists_and_ignore_later_fields():
    for fen in [START, KIWIPETE, EMPTY, EMPTY + " x y z", "K7/8/8/8/8/8/8/8/8", "  \t" + KIWIPETE]:
        assert Board.bitboard_bytes_from_fen(fen) == flat(Board.bitboard_from_fen(fen))
    assert Board().bitboard_bytes_from_fen(fen=START) == Board().bitboard_bytes()
    assert Board.bitboard_bytes_from_fen(EMPTY) == bytes(768)


@pytest.mark.parametrize("fen, message", [("x/8", "Invalid piece type"), ("", "FEN has no piece placement field")])
def test_bytes_from_fen_panics_like_bitboard_from_fen(fen, message):
    with pytest.raises(PANIC) as info:
        Board.bitboard_bytes_from_fen(fen)
    assert info.value.args == (message,)


def test_buffer_forms():
    board = Board(KIWIPETE)
    expected = board.bitboard_bytes()
    target = bytearray(800)
    board.bitboard_into(memoryview(target)[16:784])
    assert target[16:784] == expected and target[:16] == bytes(16) and target[784:] == bytes(16)
    signed = array.array("b", bytes(768))
    board.bitboard_into(out=signed)
    assert signed.tobytes() == expected


def test_numpy_arrays_and_batches():
    np = pytest.importorskip("numpy")
    board = Board(KIWIPETE)
    planes = np.array(board.bitboard(), dtype=bool).reshape(12, 8, 8)
    assert np.array_equal(np.frombuffer(board.bitboard_bytes(), dtype=np.bool_).reshape(12, 8, 8), planes)
    for dtype in (np.bool_, np.uint8, np.int8):
        for shape in ((768,), (12, 64), (12, 8, 8)):
            out = np.full(shape, 7, dtype=dtype)
            board.bitboard_into(out)
            assert np.array_equal(out.reshape(12, 8, 8), planes.astype(dtype)), (dtype, shape)
    batch = np.zeros((3, 12, 8, 8), dtype=np.bool_)
    games = [Board(), Board(KIWIPETE), Board(EMPTY + " w - -")]
    for i, b in enumerate(games):
        b.bitboard_into(batch[i])
    expected = np.stack([np.array(b.bitboard(), dtype=bool).reshape(12, 8, 8) for b in games])
    assert np.array_equal(batch, expected)


def refused(np=None):
    """(buffer, exception type, message after "argument 'out': ")"""
    cases = [
        ([0] * 768, TypeError, EXPECTED + "'list' object"),
        (bytes(768), TypeError, EXPECTED + "read-only 'bytes' object"),
        (memoryview(bytes(768)), TypeError, EXPECTED + "read-only 'memoryview' object"),
        (array.array("h", bytes(1536)), TypeError, EXPECTED + "items of format 'h' (2 bytes)"),
        (bytearray(767), ValueError, EXPECTED + "767 items (shape (767,))"),
        (bytearray(1), ValueError, EXPECTED + "1 item (shape (1,))"),
        (memoryview(bytearray(1536)).cast("B", (2, 768)), ValueError, EXPECTED + "1536 items (shape (2, 768))"),
        (memoryview(bytearray(1536))[::2], ValueError, "expected a C-contiguous buffer, got strides (2,) for shape (768,)"),
    ]
    if np is not None:
        readonly = np.zeros(768, dtype=np.bool_)
        readonly.flags.writeable = False
        cases += [
            (readonly, TypeError, EXPECTED + "read-only 'ndarray' object"),
            (np.zeros(768, dtype=np.float32), TypeError, EXPECTED + "items of format 'f' (4 bytes)"),
            (np.zeros(768, dtype="S1"), TypeError, EXPECTED + "items of format '1s' (1 byte)"),
            (np.zeros((12, 8, 16), dtype=np.bool_)[:, :, ::2], ValueError,
             "expected a C-contiguous buffer, got strides (128, 16, 2) for shape (12, 8, 8)"),
            (np.zeros((12, 64), dtype=np.uint8, order="F"), ValueError,
             "expected a C-contiguous buffer, got strides (1, 12) for shape (12, 64)"),
            (np.zeros((12, 8, 9), dtype=np.bool_), ValueError, EXPECTED + "864 items (shape (12, 8, 9))"),
        ]
    return cases


def test_refused_buffers_are_left_untouched():
    try:
        import numpy as np
    except ImportError:
        np = None
    board = Board(KIWIPETE)
    for out, kind, message in refused(np):
        before = None if isinstance(out, list) else memoryview(out).tobytes()
        with pytest.raises(kind) as info:
            board.bitboard_into(out)
        assert type(info.value) is kind and str(info.value) == "argument 'out': " + message
        if kind is TypeError:
            assert str(info.value.__cause__) == message
        if before is not None:
            assert memoryview(out).tobytes() == before
    assert board.fen() == KIWIPETE


def test_exporter_failure_passes_through():
    # A released memoryview refuses to export; its own error stands.
    target = bytearray(768)
    view = memoryview(target)
    view.release()
    with pytest.raises(ValueError, match="released"):
        Board().bitboard_into(view)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="__buffer__ is new in Python 3.12")
def test_buffer_export_may_use_the_board():
    # Acquiring the buffer runs Python code (__buffer__) that may change the
    # board; the planes written are those of the board after it.
    board = Board()
    target = bytearray(768)

    class Out:
        def __buffer__(self, flags):
            board.push("e2e4")
            return memoryview(target)

    board.bitboard_into(Out())
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    assert bytes(target) == board.bitboard_bytes()
