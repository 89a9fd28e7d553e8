"""Policy encodings lc0 and alphazero, checked against tables written here
from the layouts' descriptions, not from the module's code."""
import random

import pytest
from vemla_chess import Board

EMPTY = Board("8/8/8/8/8/8/8/8 w - -")
FILES = "abcdefgh"


def name(sq):
    return FILES[sq % 8] + str(sq // 8 + 1)


def lc0_table():
    """Every lc0 entry's move text from White's side, in index order."""
    table = []
    for a in range(64):
        for b in range(64):
            df, dr = abs(b % 8 - a % 8), abs(b // 8 - a // 8)
            queen = a != b and (df == 0 or dr == 0 or df == dr)
            if queen or sorted((df, dr)) == [1, 2]:
                table.append(name(a) + name(b))
    for f in range(8):
        for step in (-1, 0, 1):
            if 0 <= f + step < 8:
                table += [f"{FILES[f]}7{FILES[f + step]}8{p}" for p in "qrb"]
    return table


LC0_FIRST_30 = ("a1b1 a1c1 a1d1 a1e1 a1f1 a1g1 a1h1 a1a2 a1b2 a1c2 a1a3 a1b3 a1c3 a1a4 a1d4 a1a5 a1e5 "
                "a1a6 a1f6 a1a7 a1g7 a1a8 a1h8 b1a1 b1c1 b1d1 b1e1 b1f1 b1g1 b1h1").split()
LC0_LAST_30 = [f"{m}{p}" for m in "e7e8 e7f8 f7e8 f7f8 f7g8 g7f8 g7g8 g7h8 h7g8 h7h8".split() for p in "qrb"]

# alphazero: a1 is (file 0, rank 0), planes 0-29; None where the plane leaves the board.
AZ_FIRST_30 = [None, None, None, None, "a1a2", None, "a1b1", "a1b2",
               None, None, None, None, "a1a3", None, "a1c1", "a1c3",
               None, None, None, None, "a1a4", None, "a1d1", "a1d4",
               None, None, None, None, "a1a5", None]
# h8 is square number 63 = file 7 * 8 + rank 7: planes 43-72.
AZ_LAST_30 = (["h8h2", None, None, None, None, "h8a1", "h8a8", None, "h8h1", None, None, None, None,
               "h8f7", None, "h8g6"] + [None] * 14)
# h7 is file 7 * 8 + rank 6 = 62, under-promotions from plane 64.
AZ_H7_UNDERPROMOTIONS = {62 * 73 + 64: "h7g8n", 62 * 73 + 65: "h7g8b", 62 * 73 + 66: "h7g8r",
                         62 * 73 + 67: "h7h8n", 62 * 73 + 68: "h7h8b", 62 * 73 + 69: "h7h8r"}

AZ_QUEEN_DIRECTIONS = [(-1, -1), (-1, 0), (-1, 1), (0, -1), (0, 1), (1, -1), (1, 0), (1, 1)]
AZ_KNIGHT_STEPS = [(-2, -1), (-2, 1), (-1, -2), (-1, 2), (1, -2), (1, 2), (2, -1), (2, 1)]


def alphazero_index(move):
    """The alphazero index of a move text from White's side (castling as the king's move)."""
    a = FILES.index(move[0]) + 8 * (int(move[1]) - 1)
    b = FILES.index(move[2]) + 8 * (int(move[3]) - 1)
    df, dr = b % 8 - a % 8, b // 8 - a // 8
    base = ((a % 8) * 8 + a // 8) * 73
    if len(move) == 5 and move[4] in "nbr":
        return base + 64 + 3 * (df + 1) + "nbr".index(move[4])
    if (df, dr) in AZ_KNIGHT_STEPS:
        return base + 56 + AZ_KNIGHT_STEPS.index((df, dr))
    dist = max(abs(df), abs(dr))
    return base + (dist - 1) * 8 + AZ_QUEEN_DIRECTIONS.index((df // dist, dr // dist))


def mirror(move):
    return move[0] + str(9 - int(move[1])) + move[2] + str(9 - int(move[3])) + move[4:]


def test_lc0_table_matches_the_layout(gen):
    table = lc0_table()
    assert len(table) == 1858
    assert table[:30] == LC0_FIRST_30 and table[-30:] == LC0_LAST_30
    assert [gen.policy_move(EMPTY, i) for i in range(1858)] == table
    assert [gen.policy_index(EMPTY, m) for m in table] == list(range(1858))


def test_alphazero_table_matches_the_layout(gen):
    def decoded(i):
        try:
            return gen.policy_move(EMPTY, i, "alphazero")
        except ValueError:
            return None

    assert [decoded(i) for i in range(30)] == AZ_FIRST_30
    assert [decoded(i) for i in range(4672 - 30, 4672)] == AZ_LAST_30
    for index, text in AZ_H7_UNDERPROMOTIONS.items():
        assert decoded(index) == text
    moves = 0
    for i in range(4672):
        text = decoded(i)
        if text is not None:
            moves += 1
            assert alphazero_index(text) == i, text
            assert gen.policy_index(EMPTY, text, "alphazero") == i
    # 1456 queen-like + 336 knight + 22 * 3 under-promotion moves exist on the board.
    assert moves == 1456 + 336 + 66


def walk(gen, seed, plies=80):
    """Positions of one random game, castling and promotions included when they come."""
    rng = random.Random(seed)
    board = Board()
    for _ in range(plies):
        moves = gen(board)
        if not moves:
            return
        yield board
        board.push(rng.choice(moves))


@pytest.mark.parametrize("scheme", ["lc0", "alphazero"])
def test_indices_follow_the_generator_and_round_trip(gen, scheme):
    seen = 0
    for seed in range(40):
        for board in walk(gen, seed):
            moves, indices = gen(board), gen.policy_indices(board, scheme)
            assert len(indices) == len(moves) == len(set(indices))
            white = board.turn() == "white"
            for move, index in zip(moves, indices):
                assert gen.policy_index(board, move, scheme) == index
                assert gen.policy_move(board, index, scheme) == move
                if scheme == "alphazero":
                    assert alphazero_index(move if white else mirror(move)) == index
                seen += 1
            mask = bytearray(4672 if scheme == "alphazero" else 1858)
            gen.policy_mask_into(board, mask, scheme)
            assert [i for i, bit in enumerate(mask) if bit] == sorted(indices)
    assert seen > 10000


def test_black_moves_are_mirrored_by_rank(gen):
    board = Board("4k3/8/8/8/8/8/8/4K3 b - -")
    white = Board("4k3/8/8/8/8/8/8/4K3 w - -")
    for scheme in ("lc0", "alphazero"):
        assert gen.policy_index(board, "e8d7", scheme) == gen.policy_index(white, "e1d2", scheme)
    opened = Board()
    opened.push("e2e4")
    assert gen.policy_index(opened, "e7e5") == gen.policy_index(Board(), "e2e4") == 322


CASTLING = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R {} KQkq -"


@pytest.mark.parametrize("side, rank", [("w", "1"), ("b", "8")])
def test_castling(gen, side, rank):
    board = Board(CASTLING.format(side))
    king_side, queen_side = f"e{rank}g{rank}", f"e{rank}c{rank}"
    assert {king_side, queen_side} <= set(gen(board))
    lc0 = dict(zip(gen(board), gen.policy_indices(board)))
    # lc0: the king takes its own rook; the rook-square text means the same.
    assert lc0[king_side] == gen.policy_index(EMPTY, "e1h1") == gen.policy_index(board, f"e{rank}h{rank}")
    assert lc0[queen_side] == gen.policy_index(EMPTY, "e1a1")
    assert gen.policy_move(board, lc0[king_side]) == king_side
    az = dict(zip(gen(board), gen.policy_indices(board, "alphazero")))
    assert az[king_side] == alphazero_index("e1g1") and az[queen_side] == alphazero_index("e1c1")
    assert gen.policy_index(board, f"e{rank}h{rank}", "alphazero") == az[king_side]
    assert gen.policy_move(board, az[queen_side], "alphazero") == queen_side


@pytest.mark.parametrize("side", ["w", "b"])
def test_promotions(gen, side):
    board = Board("1r2k3/P7/8/8/8/8/8/4K3 w - -" if side == "w" else "4k3/8/8/8/8/8/p7/1R2K3 b - -")
    src, push, take = ("a7", "a8", "b8") if side == "w" else ("a2", "a1", "b1")
    moves = gen(board)
    lc0 = dict(zip(moves, gen.policy_indices(board)))
    az = dict(zip(moves, gen.policy_indices(board, "alphazero")))
    # Seen from the mover, every promotion is a move from a7.
    for to, view in ((push, "a7a8"), (take, "a7b8")):
        assert lc0[src + to + "n"] == gen.policy_index(EMPTY, view)  # knight: the plain entry
        assert [lc0[src + to + p] for p in "qrb"] == [gen.policy_index(EMPTY, view + p) for p in "qrb"]
        assert az[src + to + "q"] == alphazero_index(view)  # queen: the queen-like plane
        assert [az[src + to + p] for p in "nbr"] == [alphazero_index(view + p) for p in "nbr"]
        assert gen.policy_move(board, lc0[src + to + "n"]) == src + to + "n"
        assert gen.policy_move(board, az[src + to + "q"], "alphazero") == src + to + "q"


def test_refusals(gen):
    board = Board()
    for bad in ("e2e", "e2e9", "E2E4", "a1d2"):
        with pytest.raises(ValueError, match="Invalid chess move"):
            gen.policy_index(board, bad)
    with pytest.raises(ValueError, match="no index in the alphazero"):
        gen.policy_index(board, "a2a4b", "alphazero")
    with pytest.raises(ValueError, match="not in 0 to 1857"):
        gen.policy_move(board, 1858)
    with pytest.raises(ValueError, match="not in 0 to 4671"):
        gen.policy_move(board, -1, "alphazero")
    with pytest.raises(ValueError, match="not in 0 to 1857"):
        gen.policy_move(board, 2**80)
    with pytest.raises(ValueError, match='expected "lc0" or "alphazero", got "az"'):
        gen.policy_indices(board, "az")
    with pytest.raises(TypeError, match="argument 'scheme'"):
        gen.policy_indices(board, 3)
    mask = bytearray(b"\x07" * 1858)
    with pytest.raises(ValueError, match="1858 one-byte items, got 4672"):
        gen.policy_mask_into(board, bytearray(4672))
    with pytest.raises(TypeError, match="read-only"):
        gen.policy_mask_into(board, bytes(1858))
    with pytest.raises(ValueError):
        gen.policy_mask_into(board, mask, "x")
    assert mask == bytearray(b"\x07" * 1858)  # untouched by every refusal
    assert board.fen() == Board().fen()
