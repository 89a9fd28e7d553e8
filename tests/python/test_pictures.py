"""Board.svg(), Board._repr_svg_() and Board.diagram().

The SVG is checked the way a person sees it: rendered to PNG by librsvg's
rsvg-convert, then tested pixel by pixel (square colours, and piece pixels on
exactly the occupied squares, of the right colour).
"""
import inspect
import os
import shutil
import subprocess
import xml.etree.ElementTree as ET
from io import BytesIO

import pytest
from vemla_chess import Board

from conftest import optional_import

# The pixel checks read the rendered PNG with Pillow into numpy arrays; both
# come from Debian's packages, built for Debian's python3 only.
np = optional_import("numpy")
PIL_Image = optional_import("PIL.Image")
needs_pixels = pytest.mark.skipif(np is None or PIL_Image is None,
                                  reason="numpy or Pillow cannot be imported by this interpreter")

KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
LETTERS = "PNBRQKpnbrqk"
LIGHT = (0xE9, 0xDC, 0xC3)
DARK = (0xA4, 0x7C, 0x5B)
SIZE_ERROR = "Invalid size: expected a number of pixels from 64 to 4096"


def stacked_board():
    """Both kings on e1 (a ninth rank in the FEN wraps round to rank 1), and
    white pawn and knight on c2, white pawn and queen on d2, black pawn and
    knight on e7 (pushes onto a piece of the mover's own colour)."""
    board = Board("4k3/rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -")
    for move in ("d1d2", "g8e7", "b1c2"):
        board.push(move)
    return board


def occupants(board):
    """Piece indices on each square, from the planes."""
    planes = board.bitboard()
    return [[p for p in range(12) if planes[p][k]] for k in range(64)]


def render(svg_text):
    assert shutil.which("rsvg-convert"), "rsvg-convert (librsvg2-bin) is needed to render the board"
    # The renderer is an ordinary program: it gets none of the libraries that
    # the sanitizer runs preload into the interpreter.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    png = subprocess.run(["rsvg-convert", "--format=png"], input=svg_text.encode(), capture_output=True,
                         check=True, env=env).stdout
    return np.asarray(PIL_Image.open(BytesIO(png)).convert("RGB")).astype(int)


def board_box(pixels):
    """Top, left and square size of the board: the bounding box of the dark
    squares' colour spans the board whenever a1 and h8 show some of it."""
    ys, xs = np.nonzero(np.abs(pixels - np.array(DARK)).max(axis=2) <= 2)
    top, left = ys.min(), xs.min()
    side = max(ys.max() - top, xs.max() - left) + 1
    return top, left, side / 8


def square_pixels(pixels, box, row, column, inset):
    top, left, cell = box
    y0, x0 = top + row * cell, left + column * cell
    return pixels[int(y0 + inset * cell):int(y0 + (1 - inset) * cell),
                  int(x0 + inset * cell):int(x0 + (1 - inset) * cell)]


def check_picture(board, orientation, size=720):
    pixels = render(board.svg(size, orientation))
    assert pixels.shape == (size, size, 3)
    box = board_box(pixels)
    assert 0.8 * size <= 8 * box[2] <= size
    flipped = orientation == "black"
    on = occupants(board)
    for square in range(64):
        file, rank = square % 8, square // 8
        row, column = (rank, 7 - file) if flipped else (7 - rank, file)
        colour = np.array(DARK if (file + rank) % 2 == 0 else LIGHT)
        name = "abcdefgh"[file] + str(rank + 1)
        top, left, cell = box
        corner = pixels[int(top + (row + 0.12) * cell), int(left + (column + 0.12) * cell)]
        assert np.abs(corner - colour).max() <= 3, f"{name}: square colour {corner}"

        inner = square_pixels(pixels, box, row, column, 0.1)
        area = inner.shape[0] * inner.shape[1]
        ink = np.abs(inner - colour).max(axis=2) > 40
        if not on[square]:
            assert not ink.any(), f"{name}: piece pixels on an empty square"
            centre = pixels[int(top + (row + 0.5) * cell), int(left + (column + 0.5) * cell)]
            assert np.abs(centre - colour).max() <= 3, f"{name}: centre colour {centre}"
            continue
        assert ink.sum() > 0.03 * area, f"{name}: no piece drawn"
        white_fill = (inner > 245).all(axis=2).sum()
        black_fill = (inner < 50).all(axis=2).sum()
        pieces = on[square]
        if len(pieces) == 1:
            if pieces[0] < 6:
                assert white_fill > 0.05 * area, f"{name}: white piece not white"
            else:
                assert white_fill == 0 and black_fill > 0.1 * area, f"{name}: black piece not black"
        else:
            # Every piece of the stack is visible: ink in each cell of the
            # side-by-side layout, both colours when both are there, and a
            # red frame round the square.
            half = inner.shape[1] // 2
            assert ink[:, :half].sum() > 0.01 * area and ink[:, half:].sum() > 0.01 * area, name
            if any(p < 6 for p in pieces):
                assert white_fill > 0, f"{name}: white piece of the stack missing"
            if any(p >= 6 for p in pieces):
                assert black_fill > 0.02 * area, f"{name}: black piece of the stack missing"
            frame = square_pixels(pixels, box, row, column, 0.0)
            red = (frame[..., 0] > 150) & (frame[..., 1] < 90) & (frame[..., 2] < 90)
            assert red.sum() > 4 * cell, f"{name}: stacked square not marked"
    return pixels


@needs_pixels
@pytest.mark.parametrize("fen, orientation", [
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "white"),
    (KIWIPETE, "white"),
    (KIWIPETE, "black"),
    ("8/8/8/8/8/8/8/8 b - -", "white"),
])
def test_rendered_board_shows_every_piece_where_it_stands(fen, orientation):
    check_picture(Board(fen), orientation)


@needs_pixels
@pytest.mark.parametrize("orientation", ["white", "black"])
def test_rendered_board_shows_stacked_pieces(orientation):
    board = stacked_board()
    assert sum(len(o) > 1 for o in occupants(board)) == 4
    check_picture(board, orientation)


@needs_pixels
def test_flipped_picture_is_the_board_turned_round():
    # Each square moves to the opposite place, pieces still upright: the
    # square in row r, column c of one picture looks like the square in row
    # 7 - r, column 7 - c of the other. At 440 pixels a square is 50 pixels
    # wide and starts on a whole pixel, so the two match exactly.
    board = Board(KIWIPETE)
    white, black = render(board.svg(440)), render(board.svg(440, "black"))
    box = board_box(white)
    assert board_box(black) == box
    for row in range(8):
        for column in range(8):
            one = square_pixels(white, box, row, column, 0.05)
            other = square_pixels(black, box, 7 - row, 7 - column, 0.05)
            shape = min(one.shape[0], other.shape[0]), min(one.shape[1], other.shape[1])
            assert np.abs(one[:shape[0], :shape[1]] - other[:shape[0], :shape[1]]).max() <= 2, (row, column)


def test_svg_document():
    board = Board(KIWIPETE)
    for size in (64, 360, 1000, 4096):
        root = ET.fromstring(board.svg(size))
        assert root.tag == "{http://www.w3.org/2000/svg}svg"
        assert (root.get("width"), root.get("height")) == (str(size), str(size))
        assert root.get("viewBox")
    if np is not None and PIL_Image is not None:
        assert render(board.svg(64)).shape == (64, 64, 3)
    # Self-contained: nothing fetched from elsewhere.
    assert "href" not in board.svg() and "<image" not in board.svg()


def test_svg_arguments(Panic):
    board = Board(KIWIPETE)
    default = board.svg()
    assert board._repr_svg_() == default
    assert default == board.svg(360) == board.svg(360, "white") == board.svg(orientation="white", size=360)
    if np is not None:
        assert board.svg(np.int64(360)) == default  # anything with __index__
    assert board.svg(orientation="black") == board.svg(360, "black") != default
    assert list(inspect.signature(Board.svg).parameters.values())[1:] == [
        inspect.Parameter("size", inspect.Parameter.POSITIONAL_OR_KEYWORD, default=360),
        inspect.Parameter("orientation", inspect.Parameter.POSITIONAL_OR_KEYWORD, default="white")]
    assert Board.diagram.__text_signature__ == '($self, orientation="white")'
    assert Board._repr_svg_.__text_signature__ == "($self)"

    for size in (63, 4097, 0, -1, 2**64, -2**80, True):
        with pytest.raises(ValueError) as error:
            board.svg(size)
        assert str(error.value) == SIZE_ERROR
    cases = [
        ((360.0,), {}, TypeError, "argument 'size': 'float' object cannot be interpreted as an integer"),
        (("360",), {}, TypeError, "argument 'size': 'str' object cannot be interpreted as an integer"),
        ((None,), {}, TypeError, "argument 'size': 'NoneType' object cannot be interpreted as an integer"),
        ((360, "up"), {}, ValueError, 'Invalid orientation: expected "white" or "black", got "up"'),
        ((), {"orientation": "Black"}, ValueError, 'Invalid orientation: expected "white" or "black", got "Black"'),
        ((360, 1), {}, TypeError, "argument 'orientation': 'int' object cannot be converted to 'str'"),
        ((360, "white", 1), {}, TypeError, "Board.svg() takes from 0 to 2 positional arguments but 3 were given"),
        ((360,), {"size": 400}, TypeError, "Board.svg() got multiple values for argument 'size'"),
        ((), {"colour": "white"}, TypeError, "Board.svg() got an unexpected keyword argument 'colour'"),
        # Both arguments are converted before the size's range is checked.
        ((10, "up"), {}, ValueError, 'Invalid orientation: expected "white" or "black", got "up"'),
        ((10, 1), {}, TypeError, "argument 'orientation': 'int' object cannot be converted to 'str'"),
    ]
    for args, kwargs, kind, message in cases:
        with pytest.raises(kind) as error:
            board.svg(*args, **kwargs)
        assert type(error.value) is kind and str(error.value) == message, (args, kwargs)
    with pytest.raises(TypeError):
        board._repr_svg_(360)
    # The board is left as it was, free for the next call.
    assert board.fen() == KIWIPETE
    board.push("e1g1")
    assert board.svg() != default


def test_size_conversion_may_use_the_board():
    # Converting the size runs Python code (__index__). The board is not held
    # meanwhile: that code can change it, and the picture is of the position
    # once every argument is converted.
    board = Board()
    before = board.svg(400)

    class Size:
        def __index__(self):
            board.push("e2e4")
            return 400

    drawn = board.svg(Size())
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
    assert drawn == board.svg(400) != before


def test_diagram_matches_the_fen_both_ways_up():
    board = Board(KIWIPETE)
    board.push("e2a6")
    fen = board.fen()
    ranks = [r for r in fen.split()[0].split("/")]
    rows = ["".join("." * int(c) if c.isdigit() else c for c in r) for r in ranks]  # rank 8 first
    white = board.diagram().split("\n")
    assert board.diagram("white") == board.diagram(orientation="white") == "\n".join(white)
    assert len(white) == 10
    assert white[:8] == [f"{8 - i} " + " ".join(row) for i, row in enumerate(rows)]
    assert white[8] == "  a b c d e f g h"
    assert white[9] == "black to move, castling KQkq, en passant -"
    black = board.diagram("black").split("\n")
    assert black[:8] == [f"{i + 1} " + " ".join(reversed(row)) for i, row in enumerate(reversed(rows))]
    assert black[8] == "  h g f e d c b a" and black[9] == white[9]


def test_diagram_of_stacked_pieces_and_bad_arguments():
    board = stacked_board()
    assert board.diagram().endswith("black to move, castling KQkq, en passant -, stacked e1=Kk c2=PN d2=PQ e7=pn")
    assert board.diagram().split("\n")[7] == "1 R . B . K B N R"  # the lowest piece index, as in fen()
    for args, kind, message in [
        (("up",), ValueError, 'Invalid orientation: expected "white" or "black", got "up"'),
        ((0,), TypeError, "argument 'orientation': 'int' object cannot be converted to 'str'"),
        (("white", "black"), TypeError, "Board.diagram() takes from 0 to 1 positional arguments but 2 were given"),
    ]:
        with pytest.raises(kind) as error:
            board.diagram(*args)
        assert str(error.value) == message


def test_repr_is_unchanged():
    assert repr(Board()).startswith("<builtins.Board object at 0x")
