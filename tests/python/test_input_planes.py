"""Board.planes_into: input planes with history in one call, against the
board popped step by step, the single-position form, and the numpy planes
that vemla_chess_data builds from dataset records."""
import array
import random

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import snapshot
from conftest import optional_import

np = optional_import("numpy")
needs_numpy = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"


def random_line(gen, seed, plies):
    """A board after up to `plies` random legal moves (captures and castling come along)."""
    rng, board = random.Random(seed), Board()
    for _ in range(plies):
        moves = gen(board)
        if not moves:
            break
        board.push(rng.choice(moves))
    return board


def planes(board, history=1, view="mover"):
    out = np.full((12 * history + 8, 8, 8), 7.0, dtype=np.float32)
    assert board.planes_into(out, history, view) is None
    return out


def turned(pieces):
    """Twelve piece planes as the other side sees them: colours swapped, ranks mirrored."""
    return np.concatenate([pieces[6:], pieces[:6]])[:, ::-1, :]


@needs_numpy
@pytest.mark.parametrize("view", ["board", "mover"])
def test_history_equals_popping_the_board_step_by_step(gen, view):
    for seed in range(12):
        board = random_line(gen, seed, plies=seed * 4)
        before = snapshot(board)
        history = 8
        stacked = planes(board, history, view)
        assert snapshot(board) == before
        black = board.turn() == "black"
        current = planes(board, 1, view)
        assert np.array_equal(stacked[12 * history:], current[12:])  # the state planes
        walker = board.copy()
        for step in range(history):
            frame = stacked[12 * step:12 * step + 12]
            if step > board.ply():
                assert not frame.any(), (seed, step)
                continue
            # The single-position form as the board stood then; the mover's
            # view turns every step by the current side to move.
            expected = planes(walker, 1, "board")[:12]
            if view == "mover" and black:
                expected = turned(expected)
            assert np.array_equal(frame, expected), (seed, step)
            if walker.ply():
                walker.pop()


@needs_numpy
def test_state_planes():
    board = Board.from_full_fen("r3k2r/8/8/8/Pp6/8/8/R3K2R b Kq a3 37 40")
    for view, rights in (("board", [1, 0, 0, 1]), ("mover", [0, 1, 1, 0])):
        x = planes(board, 2, view)[24:]
        assert not x[0].any()  # Black to move, in both views
        assert [x[1 + i].min() == x[1 + i].max() == r for i, r in enumerate(rights)] == [True] * 4
        target = ("a", 3) if view == "board" else ("a", 6)
        assert np.argwhere(x[5]).tolist() == [[target[1] - 1, "abcdefgh".index(target[0])]]
        assert (x[6] == np.float32(0.37)).all() and not x[7].any()
    gen = MoveGenerator()
    start = Board()
    for _ in range(2):
        for move in ("g1f3", "g8f6", "f3g1", "f6g8"):
            gen.push_legal(start, move)
    assert (planes(start)[19] == 1.0).all() and start.repetitions() == 3


def test_plain_buffers_and_keywords():
    board = Board(KIWIPETE)
    out = array.array("f", bytes(4 * 20 * 64))
    board.planes_into(out=out, view="board")
    cells = out.tolist()
    assert sum(cells[:768]) == 32 and cells[768:832] == [1.0] * 64
    view = memoryview(bytearray(4 * 104 * 64)).cast("f")
    board.planes_into(view, history=8)
    assert sum(view[:768]) == 32 and sum(view[768:8 * 768]) == 0


EXPECTED = "argument 'out': expected a writable buffer of 1280 float32 items, got "


def refused():
    """(call on a board, exception type, message)"""
    cases = [
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1279))), ValueError, EXPECTED + "1279 items (shape (1279,))"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), 2), ValueError,
         "expected a writable buffer of 2048 float32 items, got 1280 items"),
        (lambda b: b.planes_into(bytes(4 * 1280)), TypeError, EXPECTED + "read-only 'bytes' object"),
        (lambda b: b.planes_into(bytearray(1280)), TypeError, EXPECTED + "items of format 'B' (1 byte)"),
        (lambda b: b.planes_into(array.array("d", bytes(8 * 1280))), TypeError, EXPECTED + "items of format 'd' (8 bytes)"),
        (lambda b: b.planes_into([0.0] * 1280), TypeError, EXPECTED + "'list' object"),
        (lambda b: b.planes_into(memoryview(bytearray(8 * 1280)).cast("f")[::2]), ValueError,
         "expected a C-contiguous buffer, got strides (8,) for shape (1280,)"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), view="Mover"), ValueError,
         'Invalid view: expected "mover" or "board", got "Mover"'),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), view=1), TypeError, "argument 'view'"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), -1), ValueError,
         "Invalid history: expected a number of positions from 1 to 1024, got -1"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), 0), ValueError, "got 0"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), 2**70), ValueError, "from 1 to 1024"),
        (lambda b: b.planes_into(array.array("f", bytes(4 * 1280)), 1.0), TypeError, "argument 'history'"),
        (lambda b: b.planes_into(), TypeError, "Board.planes_into() missing 1 required positional argument: 'out'"),
        (lambda b: b.planes_into(bytearray(1), 1, "board", 4), TypeError,
         "Board.planes_into() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda b: b.planes_into(bytearray(1), steps=2), TypeError,
         "Board.planes_into() got an unexpected keyword argument 'steps'"),
    ]
    if np is not None:
        readonly = np.zeros((20, 8, 8), dtype=np.float32)
        readonly.flags.writeable = False
        misaligned = np.zeros(4 * 1280 + 1, dtype=np.uint8)[1:].view(np.float32)
        cases += [
            (lambda b: b.planes_into(readonly), TypeError, EXPECTED + "read-only 'ndarray' object"),
            (lambda b: b.planes_into(np.zeros((20, 8, 8), dtype=">f4")), TypeError, EXPECTED + "items of format '>f'"),
            (lambda b: b.planes_into(np.zeros((20, 8, 8), dtype=np.float16)), TypeError, "items of format 'e' (2 bytes)"),
            (lambda b: b.planes_into(np.zeros((20, 8, 8), dtype=np.float32)[:, :, ::-1]), ValueError,
             "expected a C-contiguous buffer"),
            (lambda b: b.planes_into(misaligned), ValueError, "expected a buffer aligned to 4 bytes"),
        ]
    return cases


@pytest.mark.parametrize("case", range(len(refused())))
def test_refusals_change_nothing(case):
    call, kind, message = refused()[case]
    board = Board(KIWIPETE)
    board.push("e1g1")
    before = snapshot(board)
    with pytest.raises(kind) as info:
        call(board)
    assert message in str(info.value)
    assert snapshot(board) == before


@needs_numpy
def test_refused_buffer_is_left_untouched():
    board = Board()
    out = np.full((104, 8, 8), 7.0, dtype=np.float32)
    for history, view in ((7, "mover"), (8, "up"), (0, "board")):
        with pytest.raises(ValueError):
            board.planes_into(out, history, view)
    assert (out == 7.0).all()


@needs_numpy
@pytest.mark.parametrize("view", ["board", "mover"])
def test_same_planes_as_the_dataset_reader(gen, tmp_path, view):
    # The numpy planes of vemla_chess_data, from records, are the reference
    # layout: the native call on the replayed board must match them cell for cell.
    import vemla_chess_data

    games = []
    for seed in range(3):
        rng, board, moves = random.Random(seed), Board(), []
        while len(moves) < 60 and gen.outcome(board, claim_draw=True) is None:
            moves.append(rng.choice(gen(board)))
            board.push(moves[-1])
        games.append({"moves": moves, "result": "*"})
    vemla_chess_data.write_games(str(tmp_path / "data"), games)
    data = vemla_chess_data.open_dataset(str(tmp_path / "data"))
    batch = next(data.batches(len(data)))
    expected = data.history_planes(batch, history=8, view=view)
    single = vemla_chess_data.planes(batch, view=view)
    row = 0
    for game in games:
        board = Board()
        for move in game["moves"]:
            assert np.array_equal(planes(board, 8, view), expected[row]), row
            assert np.array_equal(planes(board, 1, view), single[row]), row
            board.push(move)
            row += 1
    assert row == len(data)
