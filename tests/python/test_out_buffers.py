"""Buffers that calls write into: encode_game with the package's own record
arrays and with larger buffers, and every call's refusals of buffers it cannot
use, which leave the buffer exported no longer than the call."""
import array
import sys

import pytest
from vemla_chess import Board, MoveGenerator

from conftest import optional_import

np = optional_import("numpy")
needs_numpy = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")

GAME = ["e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6", "b5c6", "d7c6", "e1g1"]


@pytest.fixture(scope="module")
def gen():
    return MoveGenerator()


def records_bytes(gen, moves, result=1):
    """encode_game's bytes through the plain path: an exact bytearray."""
    out = bytearray(128 * len(moves))
    assert gen.encode_game(Board(), moves, out, result) == len(moves)
    return bytes(out)


@needs_numpy
def test_encode_game_writes_the_record_dtype_and_the_first_rows_of_a_larger_buffer(gen):
    from vemla_chess_data.records import position_dtype

    expected = records_bytes(gen, GAME)
    n = len(GAME)
    exact = np.zeros(n, dtype=position_dtype())
    assert gen.encode_game(Board(), GAME, exact, 1) == n
    assert exact.tobytes() == expected
    assert list(exact["move"][:2]) == [12 | 28 << 6, 52 | 36 << 6]

    # "The rest of my array": rows after the game's stay as they were.
    larger = np.zeros(n + 5, dtype=position_dtype())
    larger.view(np.uint8)[:] = 0xAB
    assert gen.encode_game(Board(), GAME, larger[2:], 1) == n
    assert larger[2:2 + n].tobytes() == expected
    assert set(larger[:2].tobytes()) == {0xAB} and set(larger[2 + n:].tobytes()) == {0xAB}

    # The uint8 view, exact or larger, and a plain bytearray with spare room.
    flat = np.zeros(128 * n + 300, dtype=np.uint8)
    assert gen.encode_game(Board(), GAME, flat, 1) == n
    assert flat[:128 * n].tobytes() == expected and not flat[128 * n:].any()
    spare = bytearray(128 * n + 1)
    assert gen.encode_game(Board(), GAME, spare, 1) == n and bytes(spare[:-1]) == expected

    # A game that stops early writes only its legal prefix; the count says so.
    stopped = np.zeros(n, dtype=position_dtype())
    assert gen.encode_game(Board(), GAME[:3] + ["e1e3"] + GAME[4:], stopped, 1) == 3
    assert stopped[:3].tobytes() == expected[:3 * 128] and not stopped[3:].tobytes().strip(b"\0")


@needs_numpy
def test_encode_game_refuses_buffers_it_cannot_fill(gen):
    from vemla_chess_data.records import position_dtype

    n = len(GAME)
    expected = f"argument 'out': expected a writable buffer of at least {128 * n} one-byte items or {n} position records, got "
    other_record = np.dtype([("pieces", "<u8", (12,)), ("rest", "u1", (32,))])
    cases = [
        (np.zeros(n - 1, dtype=position_dtype()), ValueError, f"{n - 1} items (shape ({n - 1},))"),
        (np.zeros(128 * n - 1, dtype=np.uint8), ValueError, f"{128 * n - 1} items (shape ({128 * n - 1},))"),
        (np.zeros(2 * n, dtype=position_dtype())[::2], ValueError, "expected a C-contiguous buffer"),
        (np.zeros(n, dtype=other_record), TypeError, "items of format"),
        (np.zeros(16 * n, dtype=np.uint64), TypeError, "items of format 'L' (8 bytes)"),
        (np.zeros(n, dtype=position_dtype()).newbyteorder(">"), TypeError, "items of format"),
        (bytes(128 * n), TypeError, "read-only 'bytes' object"),
        (np.zeros(n, dtype=position_dtype()).copy(), None, None),
    ]
    readonly = np.zeros(n, dtype=position_dtype())
    readonly.flags.writeable = False
    cases.append((readonly, TypeError, "read-only 'ndarray' object"))
    for buffer, error, message in cases:
        if error is None:
            assert gen.encode_game(Board(), GAME, buffer) == n
            continue
        board = Board()
        with pytest.raises(error) as info:
            gen.encode_game(board, GAME, buffer)
        assert str(info.value).startswith(expected if "C-contiguous" not in message else "argument 'out': ")
        assert message in str(info.value)
        assert board.ply() == 0


def refusals(gen):
    """(call, buffer) pairs where the call must refuse the buffer."""
    board = Board()
    wrong = {
        "too small": lambda size: bytearray(size - 1),
        "too large": lambda size: bytearray(size + 1),
        "read-only": lambda size: bytes(size),
        "read-only view": lambda size: memoryview(bytearray(size)).toreadonly(),
        "not contiguous": lambda size: memoryview(bytearray(2 * size))[::2],
        "wrong items": lambda size: array.array("d", bytes(8 * size)),
        "not a buffer": lambda size: [0] * size,
    }
    calls = {
        "planes_into": (lambda out: board.planes_into(out), 20 * 64 * 4),
        "bitboard_into": (lambda out: board.bitboard_into(out), 768),
        "policy_mask_into": (lambda out: gen.policy_mask_into(board, out), 1858),
        "encode_game": (lambda out: gen.encode_game(Board(), GAME, out), 128 * len(GAME)),
    }
    for call_name, (call, size) in calls.items():
        for kind, make in wrong.items():
            if kind == "too large" and call_name == "encode_game":
                continue  # room to spare is fine there
            if kind in ("too small", "too large") and call_name == "planes_into":
                yield call_name, kind, call, lambda size=size, d=1 if kind == "too large" else -1: array.array("f", bytes(size + 4 * d))
                continue
            yield call_name, kind, call, lambda make=make, size=size: make(size)


def test_refused_buffers_are_untouched_and_released(gen):
    tried = 0
    for call_name, kind, call, make in refusals(gen):
        buffer = make()
        before = bytes(buffer) if not isinstance(buffer, list) else None
        with pytest.raises((TypeError, ValueError)) as info:
            call(buffer)
        assert "argument 'out': expected" in str(info.value), (call_name, kind, info.value)
        if before is not None:
            assert bytes(buffer) == before, (call_name, kind)
            # The export ended with the call: the object can be resized again.
            base = buffer
            if isinstance(buffer, memoryview):
                base = buffer.obj
                buffer.release()  # the test's own view
            if isinstance(base, bytearray):
                base.extend(b"x")
        tried += 1
    assert tried == 27


def test_buffers_changed_by_callbacks_before_the_call_reads_them(gen):
    # __index__ of history runs before the buffer is taken: a buffer resized
    # there is measured at its new size, and refused or written within it.
    board = Board()
    out = bytearray(4 * 20 * 64)

    class Shrinking:
        def __index__(self):
            del out[100:]
            return 1

    with pytest.raises(TypeError, match="items of format 'B'"):
        board.planes_into(out, Shrinking())
    assert len(out) == 100
    floats = array.array("f", bytes(4 * 20 * 64))

    class Growing:
        def __index__(self):
            floats.extend([7.0] * 64)
            return 1

    with pytest.raises(ValueError, match="got 1344 items"):
        board.planes_into(floats, Growing())
    assert list(floats[-64:]) == [7.0] * 64
    floats.extend([1.0])  # no export left behind

    # encode_game's result is read before its buffer; the game then fills it.
    records = bytearray(128 * len(GAME))

    class Result:
        def __index__(self):
            records.extend(bytes(128))
            return 0

    assert gen.encode_game(Board(), GAME, records, Result()) == len(GAME)
    assert len(records) == 128 * (len(GAME) + 1) and not any(records[-128:])
    records.extend(b"x")


@needs_numpy
def test_numpy_arrays_cannot_be_resized_while_written_and_are_released_after(gen):
    board = Board()
    planes = np.zeros((20, 8, 8), dtype=np.float32)
    board.planes_into(planes)
    mask = np.zeros(1858, dtype=np.uint8)
    gen.policy_mask_into(board, mask)
    assert mask.sum() == 20
    # No export outlives the calls: the arrays own their data and resize in place.
    planes.resize((21, 8, 8), refcheck=False)
    mask.resize(1859, refcheck=False)
    # Fortran order and negative strides are refused, not written through.
    for bad in (np.zeros((8, 8, 20), dtype=np.float32).T, np.zeros((20, 8, 8), dtype=np.float32)[::-1]):
        with pytest.raises(ValueError, match="expected a C-contiguous buffer"):
            board.planes_into(bad)
        assert not bad.any()
    with pytest.raises(TypeError, match="items of format 'e'"):
        board.planes_into(np.zeros((20, 8, 8), dtype=np.float16))
    with pytest.raises(TypeError, match="items of format"):
        gen.policy_mask_into(board, np.zeros(1858, dtype=np.int16))
    before = sys.getrefcount(mask)
    for _ in range(100):
        with pytest.raises(ValueError):
            gen.policy_mask_into(board, mask)
    assert sys.getrefcount(mask) == before
