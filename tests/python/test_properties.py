"""Property tests: arbitrary and grammar-built text, and random call sequences.

The outcome of every FEN and move text is predicted by a small reading of the
dialect written here from its description (docs/positions.md); the call
sequences keep a model of the positions that pop() must give back.
"""
import re

import pytest

from conftest import optional_import

if optional_import("hypothesis") is None:
    pytest.skip("hypothesis cannot be imported by this interpreter", allow_module_level=True)

from hypothesis import HealthCheck, given, settings, strategies as st  # noqa: E402
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule  # noqa: E402
from vemla_chess import Board, MoveGenerator

from chess_util import PANIC, START, epd_fens, pops_available, snapshot

# Fixed seed and no example database: every run checks the same cases.
PROPS = settings(derandomize=True, database=None, deadline=None, max_examples=400,
                 suppress_health_check=[HealthCheck.too_slow])
DOCUMENTED = (TypeError, ValueError, MemoryError, PANIC)  # UnicodeEncodeError is a ValueError
LETTERS = "PNBRQKpnbrqk"
# Unicode White_Space. "\x1c" (white space to str.split()) and "\u200b" are not.
WHITE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
ODD = ["\x1c", "\u200b", "\u00e9", "\U0001f600", "\0", "\ud800", "\udfff", "x", "O"]
FENS = epd_fens() or [START]
GEN = MoveGenerator()


class Expected(Exception):
    """A predicted failure: (exception type, message or None)."""


def fail(kind, message):
    raise Expected(kind, message)


def read_fen(text, whole=True):
    """Predicts Board(text), or bitboard_from_fen(text) if not whole: (words, last three fields)."""
    if any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        fail(UnicodeEncodeError, None)
    fields = [f for f in re.split(f"[{re.escape(WHITE)}]+", text) if f] + [None] * 4
    if fields[0] is None:
        fail(PANIC, "FEN has no piece placement field")
    words, square = [0] * 12, 0
    for c in "".join(reversed(fields[0].split("/"))):
        if c not in "0123456789" + LETTERS:
            fail(PANIC, "Invalid piece type")
        if c in LETTERS:
            words[LETTERS.index(c)] |= 1 << (square % 64)
        square += int(c) if c.isdigit() else 1
    if not whole:
        return words, None
    side, castling, ep = fields[1:4]
    for name, field, bad, reason in (  # each field in turn: missing, then malformed
            ("side-to-move", side, lambda f: f not in ("w", "b"), "side-to-move"),
            ("castling", castling, lambda f: set(f.split("-")[0]) - set("KQkq"), "castling specifier"),
            ("en-passant", ep, lambda f: f != "-" and f[0] not in "abcdefgh", "en-passant square")):
        if field is None:
            fail(PANIC, f"FEN has no {name} field")
        if bad(field):
            fail(ValueError, f"Invalid fen: Invalid {reason}")
    rights = "".join(c for c in "KQkq" if c in castling.split("-")[0]) or "-"
    return words, f"{side} {rights} {'-' if ep == '-' else ep[0] + ('6' if side == 'w' else '3')}"


def compress(squares):
    """'..P.....' -> '2P5'."""
    return re.sub(r"\.+", lambda gap: str(len(gap[0])), squares)


def write_placement(words):
    """Where several pieces share a square, the first in letter order is written."""
    def letter(square):
        return next((LETTERS[i] for i in range(12) if words[i] >> square & 1), ".")
    return "/".join(compress("".join(letter(8 * r + f) for f in range(8))) for r in range(7, -1, -1))


def plane_words(board):
    return [sum(1 << k for k, on in enumerate(plane) if on) for plane in board.bitboard()]


def mirrored(board):
    """Predicts reflect(): (words, last three FEN fields); the en-passant file stays."""
    words = [int.from_bytes(w.to_bytes(8, "little"), "big") for w in plane_words(board)]
    side, castling, ep = board.fen().split()[1:]
    side = "b" if side == "w" else "w"
    rights = "".join(c for c in "KQkq" if c.swapcase() in castling) or "-"
    return words[6:] + words[:6], f"{side} {rights} {ep if ep == '-' else ep[0] + ('6' if side == 'w' else '3')}"


def cannot_mate(words):
    """Only kings, or kings and one knight, or kings and bishops all on squares of one colour."""
    pawns_rooks_queens = [words[i] for i in (0, 3, 4, 6, 9, 10)]
    knights = bin(words[1]).count("1") + bin(words[7]).count("1")
    bishop_squares = [k for k in range(64) if (words[2] | words[8]) >> k & 1]
    colours = {(k % 8 + k // 8) % 2 for k in bishop_squares}
    return not any(pawns_rooks_queens) and (knights == 0 and len(colours) <= 1 or knights == 1 and not bishop_squares)


def read_move(text, board):
    """Predicts board.push(text): returns for a move that is made, raises Expected otherwise."""
    if any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        fail(UnicodeEncodeError, None)
    if len(text.encode()) not in (4, 5):
        fail(ValueError, "Invalid chess move: Unsupported move notation. Must be 4 or 5 "
                         f"(promotion) characters. Found: {text}")
    if len(text.encode()) == 5 and text[-1] not in "nbrqNBRQ":
        fail(ValueError, "Invalid chess move: Unsupported promotion type")
    for i, name in enumerate(["from_file", "from_rank", "to_file", "to_rank"]):
        if i in (0, 2) and len(text) < i + 2:  # one square (two characters) at a time
            fail(PANIC, f"index out of bounds: the len is {len(text)} but the index is {len(text)}")
        if (ord(text[i]) - ord("a1"[i % 2])) & 0xFF > 7:  # low byte of the code point, unsigned
            fail(PANIC, f"assertion failed: {name} <= 7")
    if not any(plane[ord(text[0]) - 97 + 8 * (ord(text[1]) - 49)] for plane in board.bitboard()):
        fail(PANIC, f"no piece on {text[:2]} to move")


def outcome(call, *args):
    """(result, None) or (None, exception); an undocumented exception propagates."""
    try:
        return call(*args), None
    except DOCUMENTED as e:
        return None, e


def check_prediction(predict, call, *args):
    """Runs call(*args) against predict(); returns (succeeded, result, prediction)."""
    try:
        predicted = predict()
    except Expected as e:
        result, error = outcome(call, *args)
        assert type(error) is e.args[0], (args, result, error)
        assert e.args[1] is None or error.args == (e.args[1],), (args, error.args)
        return False, None, (None, None)
    result, error = outcome(call, *args)
    assert error is None, (args, error)
    return True, result, predicted


ANY_TEXT = st.text(st.one_of(st.sampled_from(list(LETTERS + "0123456789/-wbeh" + WHITE) + ODD),
                             st.characters(blacklist_categories=())), max_size=40)


def move_texts(board):
    """Mostly parsable text, often from a square that holds a piece."""
    occupied = [k for k, pieces in enumerate(map(sum, zip(*board.bitboard()))) if pieces] or [0]
    return st.one_of(
        st.builds(lambda a, b, p: "abcdefgh"[a % 8] + str(a // 8 + 1) + "abcdefgh"[b % 8] + str(b // 8 + 1) + p,
                  st.sampled_from(occupied), st.integers(0, 63),
                  st.sampled_from(["", "", "", "q", "n", "R", "b", "k", " ", "\u00e9"])),
        st.text(st.sampled_from("abcdefgh12345678qQA0 \u00e9\ud800"), max_size=6),
        ANY_TEXT)


@PROPS
@given(ANY_TEXT)
def test_arbitrary_text_as_fen(text):
    ok, board, (words, rest) = check_prediction(lambda: read_fen(text), Board, text)
    if ok:
        assert board.fen() == f"{write_placement(words)} {rest}"
        assert plane_words(board) == words and pops_available(board) == 0
    ok, result, (words, _) = check_prediction(lambda: read_fen(text, whole=False), Board.bitboard_from_fen, text)
    if ok:
        assert result == [[bool(w >> k & 1) for k in range(64)] for w in words]


@PROPS
@given(st.sampled_from(FENS), st.integers(0, 3), st.data())
def test_arbitrary_text_as_move(fen, plies, data):
    board = Board(fen)
    for _ in range(plies):  # some history, which a failing push must keep intact
        moves = GEN(board)
        if moves:
            board.push(moves[len(moves) // 2])
    text = data.draw(move_texts(board))
    before = snapshot(board)
    if check_prediction(lambda: read_move(text, board), board.push, text)[0]:
        assert pops_available(board) == before[2] + 1
        board.pop()
    assert snapshot(board) == before


@st.composite
def fen_texts(draw):
    eight = st.text(st.sampled_from(LETTERS + "." * 12), min_size=8, max_size=8).map(compress)
    ranks = st.one_of(eight, st.text(st.sampled_from(LETTERS + "0123456789"), max_size=9))
    placement = "/".join(draw(st.lists(ranks, min_size=7, max_size=10))) or "8"
    if draw(st.sampled_from([True] + [False] * 19)):  # now and then a foreign character
        at = draw(st.integers(0, len(placement)))
        placement = placement[:at] + draw(st.sampled_from(ODD)) + placement[at:]
    fields = [placement, draw(st.sampled_from(["w", "b"] * 8 + ["W", "wb", "-"])),
              draw(st.one_of(st.just("-"), st.text(st.sampled_from("KQkq-x"), min_size=1, max_size=5))),
              draw(st.one_of(st.just("-"), st.builds(str.__add__, st.sampled_from("abcdefghi"),
                                                     st.sampled_from(["", "3", "6", "9x"])))),
              *draw(st.lists(st.sampled_from(["0", "1", "42", "x", "-"]), max_size=3))]
    if draw(st.sampled_from([True] + [False] * 9)):  # a missing field
        fields = fields[: draw(st.integers(1, 3))]
    gap = st.text(st.sampled_from(WHITE), min_size=1, max_size=3)
    text = draw(st.sampled_from(["", "", " ", "\t\u3000"])) + fields[0]
    for field in fields[1:]:
        text += draw(gap) + field
    return text + draw(st.sampled_from(["", " ", "\n", "\u2028\r"]))


@PROPS
@given(fen_texts())
def test_fen_grammar_round_trips(text):
    ok, board, (words, rest) = check_prediction(lambda: read_fen(text), Board, text)
    if not ok:
        return
    fen = board.fen()
    assert fen == f"{write_placement(words)} {rest}"
    assert Board(fen).fen() == fen
    assert Board.bitboard_from_fen(text) == board.bitboard()
    if sum(bin(w).count("1") for w in words) == bin(sum(words)).count("1"):  # no square held twice
        assert Board(fen).bitboard() == board.bitboard()


class BoardCalls(RuleBasedStateMachine):
    """Random calls on one board; `stack` holds the (fen, planes) that pop() must give back."""

    @initialize(fen=st.sampled_from(FENS))
    def start(self, fen):
        self.board, self.stack, self.kept = Board(fen), [], []

    def position(self):
        return self.board.fen(), self.board.bitboard()

    def failing(self, kind, call, *args, **kwargs):
        before = snapshot(self.board)
        with pytest.raises(kind):
            call(*args, **kwargs)
        assert snapshot(self.board) == before

    @rule(index=st.integers(0, 255), push=st.booleans())
    def generate(self, index, push):
        before = snapshot(self.board)
        moves, _ = outcome(GEN, self.board)
        assert snapshot(self.board) == before
        assert moves is None or all(re.fullmatch("([a-h][1-8]){2}[nbrq]?", m) for m in moves)
        if moves is not None:
            check, ending = GEN.is_check(self.board), GEN.outcome(self.board)
            assert snapshot(self.board) == before
            if not moves:
                assert ending == ("checkmate" if check else "stalemate")
            else:
                assert ending == ("insufficient_material" if cannot_mate(plane_words(self.board)) else None)
        if moves and push:
            self.stack.append(before[:2])
            self.board.push(moves[index % len(moves)])

    @rule(data=st.data())
    def push_text(self, data):
        before = snapshot(self.board)
        _, error = outcome(self.board.push, data.draw(move_texts(self.board)))
        if error is None:
            self.stack.append(before[:2])
        else:
            assert snapshot(self.board) == before

    @rule()
    def pop(self):
        if self.stack:
            self.board.pop()
            assert self.position() == self.stack.pop()
        else:
            self.failing(PANIC, self.board.pop)

    @rule(keep=st.booleans())
    def copy(self, keep):
        other = self.board.copy()
        assert snapshot(other) == snapshot(self.board)
        if keep and len(self.kept) < 3:  # the source must not see what happens to the copy
            self.kept.append((self.board, snapshot(self.board)))
        self.board = other

    @rule()
    def reflect(self):
        expected = mirrored(self.board)
        self.board.reflect()
        self.stack = []
        assert (plane_words(self.board), self.board.fen().split(" ", 1)[1]) == expected
        self.failing(PANIC, self.board.pop)

    @rule(which=st.integers(0, 8))
    def wrong_arguments(self, which):
        b = self.board
        self.failing(TypeError, *[(b.push, 5), (b.push,), (b.push, "e2e4", "e2e4"), (b.fen, 1), (b.pop, None),
                                  (GEN, b, b), (GEN, b.fen()), (GEN,), (Board.fen, GEN)][which])
        self.failing(TypeError, [b.push, GEN][which % 2], chess_move="e2e4", move="e2e4")

    @invariant()
    def agrees_with_model(self):
        if hasattr(self, "board"):
            placement, side = self.board.fen().split()[:2]
            assert self.board.turn() == {"w": "white", "b": "black"}[side]
            assert write_placement(plane_words(self.board)) == placement
            assert pops_available(self.board) == len(self.stack) == self.board.ply()
            current = self.position()
            assert self.board.repetitions() == 1 + self.stack.count(current)
            assert self.board.bitboard_bytes() == bytes(int(c) for plane in current[1] for c in plane)
            for board, snap in self.kept:
                assert snapshot(board) == snap


TestBoardCalls = BoardCalls.TestCase
TestBoardCalls.settings = settings(PROPS, max_examples=150, stateful_step_count=40)
