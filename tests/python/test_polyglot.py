"""The Polyglot key and the Polyglot opening-book reader."""
import os
import struct
from pathlib import Path

import pytest
from vemla_chess import Board, MoveGenerator, PolyglotBook

from chess_util import DATA, PANIC, START

DEBIAN_BOOK = Path("/usr/share/games/gnuchess/book.bin")


def vectors():
    lines = (DATA / "polyglot_vectors.tsv").read_text().splitlines()[1:]
    return [tuple(line.split("\t")) for line in lines]


@pytest.mark.parametrize("fen, key", vectors())
def test_published_keys(fen, key):
    board = Board.from_full_fen(fen)
    assert board.zobrist() == int(key, 16)
    # The counters are not part of the key.
    assert Board(fen).zobrist() == board.zobrist()


def test_key_follows_the_position_not_the_path():
    board = Board()
    for text in ("g1f3", "g8f6", "f3g1", "f6g8"):
        board.push(text)
    assert board.zobrist() == Board().zobrist()
    board.pop()
    assert board.zobrist() == Board("rnbqkb1r/pppppppp/5n2/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -").zobrist()


def test_en_passant_counts_only_when_a_capture_is_possible():
    def key(fen):
        return Board(fen).zobrist()

    # No white pawn beside e5: the en-passant file changes nothing.
    assert key("4k3/8/8/4p3/8/8/8/4K3 w - e6") == key("4k3/8/8/4p3/8/8/8/4K3 w - -")
    # A pawn on the other side of the board's edge is not beside: h5 and a5.
    assert key("4k3/8/8/p6P/8/8/8/4K3 w - a6") == key("4k3/8/8/p6P/8/8/8/4K3 w - -")
    assert key("4k3/8/8/P6p/8/8/8/4K3 w - h6") == key("4k3/8/8/P6p/8/8/8/4K3 w - -")
    # A white pawn on d5 or f5 can take: the file counts, on either side.
    for fen in ("4k3/8/8/3Pp3/8/8/8/4K3 w - e6", "4k3/8/8/4pP2/8/8/8/4K3 w - e6",
                "4k3/8/8/8/3pP3/8/8/4K3 b - e3", "4k3/8/8/8/Pp6/8/8/4K3 b - a3"):
        assert key(fen) != key(fen[:-2] + "-"), fen


def test_stacked_pieces_xor_every_bit():
    board = Board("4k3/8/8/8/8/8/4P3/4K3 w - -")
    board.push("e1e2")  # an illegal move stacks the king on its own pawn
    pawn = Board("4k3/8/8/8/8/8/4P3/8 b - -").zobrist()
    king = Board("4k3/8/8/8/8/8/4K3/8 b - -").zobrist()
    black_king = Board("4k3/8/8/8/8/8/8/8 b - -").zobrist()
    assert board.zobrist() == pawn ^ king ^ black_king


def write_book(path, entries):
    path.write_bytes(b"".join(struct.pack(">QHHI", *e, 0) for e in entries))
    return path


def test_book_lookup_order_and_castling(tmp_path):
    start = Board().zobrist()
    castle = Board("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -")
    e1h1 = (0 << 9) | (4 << 6) | (0 << 3) | 7
    e1a1 = (0 << 9) | (4 << 6) | (0 << 3) | 0
    e2e4 = (1 << 9) | (4 << 6) | (3 << 3) | 4
    d2d4 = (1 << 9) | (3 << 6) | (3 << 3) | 3
    entries = sorted([(start, e2e4, 7), (start, d2d4, 9), (castle.zobrist(), e1h1, 1), (castle.zobrist(), e1a1, 2)],
                     key=lambda e: e[0])
    book = PolyglotBook(write_book(tmp_path / "b.bin", entries))
    assert book.moves(Board()) == [("e2e4", 7), ("d2d4", 9)]  # file order, not by weight
    assert book.moves(board=castle) == [("e1g1", 1), ("e1c1", 2)]
    assert book.moves(Board("8/8/8/8/8/8/8/8 w - -")) == []
    # Promotions carry their piece letter.
    promo = Board("8/4P3/8/8/8/8/8/k6K w - -")
    e7e8n = (6 << 9) | (4 << 6) | (7 << 3) | 4 | (1 << 12)
    e7e8q = e7e8n + (3 << 12)
    book = PolyglotBook(str(write_book(tmp_path / "p.bin", [(promo.zobrist(), e7e8n, 1), (promo.zobrist(), e7e8q, 5)])))
    assert book.moves(promo) == [("e7e8n", 1), ("e7e8q", 5)]
    assert PolyglotBook(write_book(tmp_path / "empty.bin", [])).moves(Board()) == []


def test_bad_books_raise_and_never_read_past_the_end(tmp_path):
    good = struct.pack(">QHHI", 5, 0x31C, 1, 0)
    cases = {
        "truncated": (good + good[:9], "Invalid book: size 25 is not a multiple of 16 bytes"),
        "short": (b"\x00" * 15, "Invalid book: size 15 is not a multiple of 16 bytes"),
        "unsorted": (struct.pack(">QHHI", 9, 0x31C, 1, 0) + good,
                     "Invalid book: keys are not in ascending order at entry 1"),
        "promotion": (good + struct.pack(">QHHI", 6, 0x5000 | 0x31C, 1, 0),
                      "Invalid book: unknown promotion piece at entry 1"),
    }
    for name, (data, message) in cases.items():
        path = tmp_path / name
        path.write_bytes(data)
        with pytest.raises(ValueError) as info:
            PolyglotBook(path)
        assert str(info.value) == message
    not_a_file = "^Invalid book: not a regular file \\(a pipe, device or socket cannot hold a book\\)$"
    with pytest.raises(ValueError, match=not_a_file):
        PolyglotBook("/dev/zero")
    with pytest.raises(FileNotFoundError):
        PolyglotBook(tmp_path / "absent.bin")
    with pytest.raises(IsADirectoryError):
        PolyglotBook(tmp_path)
    with pytest.raises(TypeError):
        PolyglotBook(5)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'path'"):
        PolyglotBook()
    book = PolyglotBook(write_book(tmp_path / "ok.bin", []))
    with pytest.raises(TypeError, match="argument 'board'"):
        book.moves("e2e4")


def test_only_a_regular_file_of_at_most_1_gib_is_read(tmp_path):
    not_a_file = "^Invalid book: not a regular file \\(a pipe, device or socket cannot hold a book\\)$"
    # A FIFO without a writer: opening it used to wait for one forever.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    with pytest.raises(ValueError, match=not_a_file):
        PolyglotBook(fifo)
    # A pipe with a writer that never closes it.
    read_end, write_end = os.pipe()
    try:
        os.write(write_end, struct.pack(">QHHI", 5, 0x31C, 1, 0))
        with pytest.raises(ValueError, match=not_a_file):
            PolyglotBook(f"/proc/self/fd/{read_end}")
    finally:
        os.close(read_end)
        os.close(write_end)
    # A sparse file far over the limit is refused by its size, before any of it is read.
    huge = tmp_path / "huge.bin"
    with open(huge, "wb") as f:
        f.truncate(64 << 30)
    with pytest.raises(ValueError, match="^Invalid book: larger than 1 GiB$"):
        PolyglotBook(huge)
    over = tmp_path / "over.bin"
    with open(over, "wb") as f:
        f.truncate((1 << 30) + 16)
    with pytest.raises(ValueError, match="^Invalid book: larger than 1 GiB$"):
        PolyglotBook(over)
    with pytest.raises(ValueError, match=not_a_file):
        PolyglotBook("/dev/null")
    with pytest.raises(IsADirectoryError):
        PolyglotBook(tmp_path)


@pytest.mark.skipif(not DEBIAN_BOOK.exists(), reason="Debian's gnuchess-book is not installed")
def test_debian_book_holds_every_position_its_lines_reach():
    """Walks the whole tree of the book's moves from the start: every move must
    be legal, and the positions must be found under the keys computed here."""
    book = PolyglotBook(os.fspath(DEBIAN_BOOK))
    gen = MoveGenerator()
    seen, stack = set(), [Board()]
    found = leaves = 0
    while stack:
        board = stack.pop()
        key = board.zobrist()
        if key in seen:
            continue
        seen.add(key)
        moves = book.moves(board)
        if not moves:
            leaves += 1  # a line's last position: the book stores no move for it
            continue
        found += 1
        legal = gen(board)
        for text, weight in moves:
            assert text in legal, (board.fen(), text)
            child = board.copy()
            child.push(text)
            stack.append(child)
    # Debian's book (gnuchess-book 1.02): any error in a key entry (castling,
    # en passant, turn) would lose whole subtrees and change these counts.
    assert (found, leaves) == (112294, 22826)
    assert [m for m, _ in book.moves(Board())][:4] == ["e2e4", "d2d4", "g1f3", "c2c4"]
