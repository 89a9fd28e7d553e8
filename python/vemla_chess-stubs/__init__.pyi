"""Chess positions and legal move generation.

Supported interpreters: CPython 3.10 to 3.13.

Squares are numbered 0 to 63, a1 = 0, h1 = 7, a8 = 56, h8 = 63. Internal
failures of the native code raise PanicException, which derives from
BaseException; catch it by name (it is not listed in __all__).
"""

import os
from array import array
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from os import PathLike
from typing import Literal, Protocol, final

from _typeshed import WriteableBuffer

__all__ = ["Board", "MoveGenerator"]

__version__: str
"""The package's version, e.g. "0.1.0"."""

class PanicException(BaseException):
    """Raised when the native code of vemla_chess fails internally. Like
    SystemExit, it derives from BaseException, so it passes through ordinary
    `except Exception` handlers. Its single argument is the message."""

_Scheme = Literal["lc0", "alphazero"]
_Side = Literal["white", "black"]
_View = Literal["mover", "board"]
# Every answer of MoveGenerator.outcome: the game ends, or a draw may be claimed
# (fifty_moves, threefold_repetition) where the board's counters and history say so.
_Outcome = Literal[
    "checkmate",
    "stalemate",
    "insufficient_material",
    "seventyfive_moves",
    "fivefold_repetition",
    "fifty_moves",
    "threefold_repetition",
]

@final
class Board:
    """A chess position: twelve piece bitboards, the side to move, castling
    rights and the en-passant file, with every played move kept for pop().

    Board() is the starting position; Board(fen) reads four-field FEN. The
    class cannot be subclassed, and its instances take no attributes.
    """

    # The classes are built by __new__ alone (they have no __init__ of their own).
    def __new__(cls, fen: str = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -") -> Board:
        """Reads four-field FEN; move counters after it are ignored.

        A bad side-to-move, castling or en-passant field raises ValueError;
        a bad piece letter or a missing field raises PanicException.
        """
    def fen(self) -> str:
        """The position as four-field FEN: placement, side to move, castling
        rights (KQkq order, or -) and en-passant square (or -), without counters."""
    @staticmethod
    def from_full_fen(fen: str, chess960: bool = False) -> Board:
        """Reads standard FEN: the four fields as Board(fen) does, but only in
        their standard form (eight ranks of eight squares, castling "-" or each
        of KQkq at most once, en passant "-" or a square on the rank the side
        to move captures onto), then the half-move clock and the move number
        (non-negative decimal integers, default 0 and 1).

        Every refusal, a missing field included, raises ValueError naming the
        field, e.g. "Invalid fen: Invalid piece placement: expected eight ranks
        of eight squares" or "Invalid fen: Invalid half-move clock".

        With chess960=True the board is a Chess960 board and the castling field
        is read as X-FEN or Shredder-FEN; a right without its king or rook on
        the right squares raises ValueError naming the castling field.
        """
    @staticmethod
    def from_chess960(number: int) -> Board:
        """The Chess960 start position of the given number, 0 to 959 (518 is
        the classical start), with all four castling rights."""
    def is_chess960(self) -> bool:
        """Whether the board follows Chess960's castling rules."""
    def full_fen(self, shredder: bool = False) -> str:
        """fen() followed by the half-move clock and the move number. A
        Chess960 board writes X-FEN castling rights, or Shredder-FEN with
        shredder=True."""
    def halfmove_clock(self) -> int:
        """Plies since the last capture or pawn move; follows push() and pop()."""
    def fullmove_number(self) -> int:
        """The number of the move in progress; grows after every move of Black."""
    def push(self, chess_move: str) -> None:
        """Plays a move in long algebraic text ("e2e4", "e7e8q"; castling as the
        king's move, "e1g1"), whoever is to move, and flips the side to move.

        The move is not checked for legality: use MoveGenerator for legal
        moves. Text of the wrong length or with an unknown promotion letter
        raises ValueError; a square off the board or an empty from-square
        raises PanicException (the note of a malformed square's exception
        quotes the text). The board is unchanged after any error.
        """
    def pop(self) -> None:
        """Takes back the last played move exactly; PanicException if there is none."""
    def push_null(self) -> None:
        """The side to move passes (the null move "0000" of game files): no
        piece moves, the en-passant square clears and the other side is to
        move. pop() takes it back. push("0000") is not this: it is move text."""
    def bitboard(self) -> list[list[bool]]:
        """Twelve planes of 64 booleans, white P N B R Q K then black p n b r q k;
        item k of a plane is square k."""
    def turn(self) -> _Side:
        """The side to move: "white" or "black"."""
    def reflect(self) -> None:
        """Turns the position into its colour-swapped mirror image; the moves
        played so far can no longer be taken back."""
    def copy(self) -> Board:
        """An independent copy, including the moves that pop() can take back."""
    def svg(self, size: int = 360, orientation: Literal["white", "black"] = "white") -> str:
        """The board as a standalone SVG document, size x size pixels (64 to
        4096), White at the bottom, or Black for orientation="black".

        A bad size or orientation raises ValueError; a size that is not an
        integer or an orientation that is not a str raises TypeError.
        """
    def _repr_svg_(self) -> str:
        """svg() at its defaults, so Jupyter and IPython show a Board as a board."""
    def diagram(self, orientation: Literal["white", "black"] = "white") -> str:
        """A text picture: eight rank lines (FEN letters, "." for empty), the file
        letters, and a line with the side to move, castling rights, en-passant
        square and any squares holding more than one piece."""
    @staticmethod
    def bitboard_from_fen(fen: str) -> list[list[bool]]:
        """The planes of bitboard() for the placement field of a FEN text."""
    def bitboard_bytes(self) -> bytes:
        """The planes of bitboard() as 768 bytes of 0 or 1, cell 64 * p + k for
        square k of plane p: numpy.frombuffer(..., dtype=numpy.bool_)."""
    @staticmethod
    def bitboard_bytes_from_fen(fen: str) -> bytes:
        """bitboard_bytes() for the placement field of a FEN text."""
    def bitboard_into(self, out: WriteableBuffer) -> None:
        """Writes the 768 cells of bitboard_bytes() into a writable, C-contiguous
        buffer of 768 one-byte items (bytearray, numpy bool_/uint8/int8 array).

        Any other buffer raises TypeError (not writable, items of another
        kind) or ValueError (another size, not C-contiguous), and nothing is
        written.
        """
    def planes_into(self, out: WriteableBuffer, history: int = 1, view: _View = "mover") -> None:
        """Writes the input planes of the position into a writable, C-contiguous
        buffer of (12 * history + 8) * 64 float32 items, such as
        numpy.zeros((12 * history + 8, 8, 8), numpy.float32), cells
        [plane][rank][file], rank 1 first: the twelve piece planes
        (P N B R Q K p n b r q k) of the position and of each of the
        history - 1 positions before it that pop() can reach (the latest
        first; zero planes before the start of the line), then ones where
        White is to move, one plane per castling right K, Q, k, q, a one on
        the en-passant target square, the half-move clock / 100, and the
        repetitions before this one (0, 0.5, 1 for none, one, two or more).

        view="mover" sees every position from the side to move: with Black to
        move, mirrored by rank with Black's pieces first and castling as
        k, q, K, Q. view="board" keeps the board as it stands. history is 1
        to 1024. The board is only read.

        A buffer of another size or kind raises what bitboard_into() raises
        for it (a float32 one also ValueError when not aligned to 4 bytes);
        a bad history or view raises ValueError; nothing is written then.
        """
    def repetitions(self) -> int:
        """How often the current position (pieces, side to move, castling
        rights, en-passant file) occurs among the starting position and the
        positions after each move that pop() can take back; at least 1."""
    def ply(self) -> int:
        """The number of moves that pop() can take back."""
    def zobrist(self) -> int:
        """The 64-bit Polyglot opening-book key of the position (pieces,
        castling rights, en-passant file where a pawn can take, side to move);
        the move counters do not count."""
    def piece_at(self, square: str | int) -> str | None:
        """The FEN letter of the piece on square ("e4" or 0 to 63), or None.

        A name or number that is not a square raises ValueError; any other
        type raises TypeError.
        """

@final
class MoveGenerator:
    """Holds the attack tables (4 MiB); build one and reuse it."""

    def __new__(cls) -> MoveGenerator:
        """Builds the magic-bitboard attack tables (about a millisecond)."""
    def __call__(self, board: Board) -> list[str]:
        """The legal moves of the side to move in long algebraic text, as a new
        list in a fixed order: king moves (castling king side first), knight
        moves, pawn moves, rook and queen moves along lines, bishop and queen
        moves along diagonals; by from-square within each group. Empty after
        checkmate or stalemate. The board ends as it started."""
    def is_check(self, board: Board) -> bool:
        """Whether the (lowest) king of the side to move is attacked; False
        when that side has no king."""
    def outcome(self, board: Board, claim_draw: bool = False) -> _Outcome | None:
        """How the rules end the game, or None while it goes on: the first that
        holds of "checkmate", "stalemate", "insufficient_material",
        "seventyfive_moves" (half-move clock at 150), "fivefold_repetition",
        and with claim_draw also "fifty_moves" (clock at 100) and
        "threefold_repetition". The board ends as it started."""
    def policy_indices(self, board: Board, scheme: _Scheme = "lc0") -> list[int]:
        """The policy index of every legal move, aligned with generator(board):
        lc0 (1858 entries) or alphazero (4672 = 8 x 8 x 73), seen from the
        side to move (Black's moves mirrored by rank)."""
    def policy_mask_into(self, board: Board, out: WriteableBuffer, scheme: _Scheme = "lc0") -> None:
        """Writes 1 at the index of every legal move and 0 elsewhere into a
        writable C-contiguous buffer of 1858 (lc0) or 4672 (alphazero)
        one-byte items, such as numpy.zeros(1858, numpy.uint8)."""
    def policy_index(self, board: Board, move: str, scheme: _Scheme = "lc0") -> int:
        """The index of one move text for the board's side to move (castling
        as the king's two-square move or as the king taking its rook).
        ValueError for text that is not a move or has no index."""
    def policy_move(self, board: Board, index: int, scheme: _Scheme = "lc0") -> str:
        """The move text an index stands for on this board (castling as the
        king's two-square move, promotions with their letter where the board
        has a king or pawn on the from-square). ValueError outside the scheme."""
    def encode_game(
        self,
        board: Board,
        moves: list[str] | tuple[str, ...] | _PgnGame,
        out: WriteableBuffer,
        result: Literal[1, 0, -1] = 0,
        annotations_out: WriteableBuffer | None = None,
        evals: Sequence[float | str | None] | None = None,
        clocks: Sequence[float | None] | None = None,
    ) -> int:
        """Plays the moves on the board, writing a 128-byte record of each
        position before its move into the first rows of out (at least
        len(moves) * 128 one-byte items, or at least len(moves) records of
        vemla_chess_data.records.position_dtype(); rows after them are left
        as they were). result is White's. Stops at the
        first move that is not legal; returns the number of records written.

        moves may be a game from read_pgn. With annotations_out (at least
        len(moves) * 20 one-byte items or records of
        vemla_chess_data.records.annotation_dtype(), not overlapping out),
        each position's eval, mate and clocks from the side to move's view
        are written there too, row for row: the game's [%eval] and [%clk],
        or evals and clocks given as pgn() takes them, which replace the
        game's. evals or clocks without annotations_out raise TypeError."""
    def is_legal(self, board: Board, chess_move: str) -> bool:
        """Whether chess_move is among the legal moves this generator lists."""
    def is_capture(self, board: Board, chess_move: str) -> bool:
        """Whether pushing chess_move takes a piece, en passant included."""
    def gives_check(self, board: Board, chess_move: str) -> bool:
        """Whether the side to move after chess_move is in check."""
    def push_legal(self, board: Board, chess_move: str) -> None:
        """Plays chess_move if it is legal; otherwise raises ValueError
        "Invalid chess move: not legal in <fen>: <move>" and the board stays
        as it was. Text that is not a move is not legal (is_legal is False);
        the other queries raise ValueError naming it."""

    def san(self, board: Board, chess_move: str) -> str:
        """The SAN of a legal move given as move text ("Nf3", "exd5", "O-O",
        "e8=Q+"). ValueError, naming the move and the position, if the move is
        not legal. The board ends as it started."""
    def parse_san(self, board: Board, san: str) -> str:
        """The move text of the legal move the SAN names. Accepts check and
        annotation suffixes, 0-0, e.p., e8Q, extra disambiguation and a
        missing x. ValueError naming the text and the position for malformed
        text, the null move, no match or several matches; the board ends as it
        started."""
    def push_san(self, board: Board, san: str) -> str:
        """Plays the move parse_san names and returns its move text."""
    def pgn(
        self,
        moves: Iterable[str] | _PgnGame,
        headers: Mapping[str, str] | None = None,
        fen: str | None = None,
        result: str = "*",
        comments: Sequence[str | None] | None = None,
        nags: Sequence[Iterable[int] | int | None] | None = None,
        evals: Sequence[float | str | None] | None = None,
        clocks: Sequence[float | None] | None = None,
        commands: Sequence[str | None] | None = None,
    ) -> str:
        """One game as PGN text: the seven standard tags, SetUp/FEN when fen
        is given, the other headers, then the moves (move texts, "0000" a null
        move written --) in SAN with move numbers, wrapped at 80 columns, and
        the result. ValueError for an illegal move, an unknown result, a bad
        header or FEN.

        moves may be a game from read_pgn: its tags, FEN, result and
        annotations are written unless given here. Annotations: comments and
        commands have len(moves) + 1 entries (before the first move, then
        after each move), nags, evals and clocks len(moves); None (and NaN)
        means none. evals are pawns from White's view, or "#3" / "#-3" for a
        mate; clocks seconds. Each move is followed by its NAGs ($1) and one
        comment { text [%eval 0.17] [%clk 0:03:00] commands }, which read_pgn
        reads back to the same values. A "}" in a comment is a ValueError.

        A game read with variations=True is written with its tree: the
        alternatives to a move in parentheses after it, each with its
        annotations and starting comment, a Black move numbered where a line
        starts or resumes ("3... Nf6"); the annotations given here replace
        those of its mainline."""
    def read_pgn(
        self,
        source: str | os.PathLike[str] | os.PathLike[bytes] | bytes | _BinaryReader,
        keep: Callable[[dict[str, str]], object] | None = None,
        variations: bool = False,
    ) -> _PgnReader:
        """The games of a PGN source: a path (.gz, .bz2, .xz, .zst by their
        suffix), a binary file object read with readinto, or a str of PGN
        text (empty, holding a line feed, or starting with "["). keep(tags),
        when given, is called before a game's moves are read; a game it
        refuses is skipped. With variations true, each game also has its
        tree of variations (PgnGame.tree); otherwise they are skipped."""
    def epd(
        self,
        board: Board,
        operations: Mapping[str, str | int | Iterable[str | int] | None] | None = None,
    ) -> str:
        """The board's position (four FEN fields) as an EPD line with the
        operations, in their order: opcode -> None (no operand), an operand,
        or an iterable of operands. The moves of bm and am (in the position)
        and pv (a line from it) may be SAN or move texts and are written in
        SAN, a null move of pv as "--"; other operands are quoted where they
        must be, and always for id and c0 to c9. read_epd reads the line back
        to the same moves and operands. ValueError for a malformed opcode, an
        operand holding a line end, or an illegal move; the board is left as
        it was."""
    def read_epd(
        self,
        source: str | os.PathLike[str] | os.PathLike[bytes] | bytes | _BinaryReader,
        errors: Literal["keep", "raise"] = "keep",
    ) -> _EpdReader:
        """The records of an EPD source, one per line that is not blank: a
        path (.gz, .bz2, .xz, .zst by their suffix), a binary file object
        read with readinto, or a str of EPD text (empty, holding a line end,
        or starting with a FEN placement). A line with a fault gives a record
        whose error says what; with errors="raise", next() raises ValueError
        naming the line and the fault instead, and the next call goes on."""


class _BinaryReader(Protocol):
    def readinto(self, buffer: memoryview, /) -> int | None: ...

# Not module attributes: read_pgn() makes them.
@final
class _PgnReader(Iterator[_PgnGame]):
    """The games of a PGN source, from MoveGenerator.read_pgn() (type name PgnReader)."""

    def __iter__(self) -> _PgnReader: ...
    def __next__(self) -> _PgnGame: ...

@final
class _PgnGame:
    """A game read by MoveGenerator.read_pgn() (type name PgnGame)."""

    @property
    def tags(self) -> dict[str, str]:
        """The tag pairs, in file order."""
    @property
    def moves(self) -> tuple[str, ...]:
        """The mainline moves as move texts, up to the first fault. A null
        move (--, Z0, @@@@ or 0000 in the file: the side to move passes) is
        "0000"; a move may be written in SAN or as a legal move text (g1f3)."""
    @property
    def result(self) -> str:
        """The result token, else the Result tag, else "*"."""
    @property
    def fen(self) -> str | None:
        """The FEN tag the game starts from, or None."""
    @property
    def offset(self) -> int:
        """The byte offset of the game in the source."""
    @property
    def error(self) -> str | None:
        """None, or what stopped the game: the ply, the move and the position."""
    def board(self, ply: int | None = None) -> Board:
        """A new Board at the game's end, or after its first ply moves."""
    # The mainline annotations, read from the game's comments and NAGs on
    # first use. Between-move entries have len(moves) + 1 items (index 0
    # before the first move, i after move i); per-move entries len(moves)
    # (index i - 1 for move i).
    @property
    def comments(self) -> tuple[str | None, ...]:
        """The comment before the first move, then the one after each move:
        the text with the [%...] commands taken out and trimmed, or None.
        Several comments in one place are joined by a space."""
    @property
    def commands(self) -> tuple[str | None, ...]:
        """The [%...] commands other than the [%eval] and [%clk] read into
        evals, mates and clocks, as written, placed as comments are."""
    @property
    def nags(self) -> tuple[tuple[int, ...], ...]:
        """The NAGs of each move ($n; the glyphs ! ? !! ?? !? ?! are 1 to 6)."""
    @property
    def evals(self) -> tuple[float | None, ...]:
        """Each move's [%eval] in pawns from White's view; None where it has
        none or its eval is a mate (see mates)."""
    @property
    def mates(self) -> tuple[int | None, ...]:
        """Each move's mate eval ([%eval #-3]): moves to mate from White's
        view (3: White mates in 3, -3: Black does), or None."""
    @property
    def clocks(self) -> tuple[float | None, ...]:
        """Each move's [%clk]: the mover's clock after it, in seconds, or None."""
    def eval_array(self) -> array[float]:
        """evals as array('f'), NaN for None:
        numpy.frombuffer(game.eval_array(), dtype=numpy.float32)."""
    def mate_array(self) -> array[int]:
        """mates as array('i') (int32), 0 for None."""
    def clock_array(self) -> array[float]:
        """clocks as array('d') (float64 seconds), NaN for None."""
    @property
    def tree(self) -> _PgnNode | None:
        """The root of the game's tree of moves and variations when read with
        variations=True (the start position: its children are the first
        moves, the mainline's first); None otherwise."""
    @property
    def variation_errors(self) -> tuple[str, ...]:
        """What cut variations short ("ply 5 in a variation: Illegal SAN:
        ..."): each such variation keeps the moves before its fault."""

@final
class _PgnNode:
    """A node of a game's tree, from PgnGame.tree (type name PgnNode): the
    position after a move. Nodes are handles on the game, equal when they
    name the same node of the same game."""

    @property
    def move(self) -> str | None:
        """The move that leads here as move text ("0000": a null move); None
        at the root."""
    @property
    def san(self) -> str | None:
        """That move in SAN ("--": a null move); None at the root."""
    @property
    def comment(self) -> str | None:
        """The comment after the move (at the root, before the first move),
        [%...] commands taken out, trimmed; or None."""
    @property
    def starting_comment(self) -> str | None:
        """The comment before the move where it begins a variation, trimmed;
        or None."""
    @property
    def commands(self) -> str | None:
        """The [%...] commands of the comment other than [%eval] and [%clk],
        as written; or None."""
    @property
    def nags(self) -> tuple[int, ...]:
        """The move's NAGs."""
    @property
    def eval(self) -> float | None:
        """The [%eval] after the move in pawns from White's view; None where
        there is none or it is a mate."""
    @property
    def mate(self) -> int | None:
        """The mate eval after the move ([%eval #-3]) from White's view."""
    @property
    def clock(self) -> float | None:
        """The [%clk] after the move, in seconds."""
    @property
    def children(self) -> tuple[_PgnNode, ...]:
        """The moves played from here, the one this line goes on with first."""
    @property
    def parent(self) -> _PgnNode | None:
        """The node before; None at the root."""
    @property
    def ply(self) -> int:
        """The number of moves from the game's start position."""
    def board(self) -> Board:
        """A new Board at this node."""

# Not module attributes: read_epd() makes them.
@final
class _EpdReader(Iterator[_EpdRecord]):
    """The records of an EPD source, from MoveGenerator.read_epd() (type name EpdReader)."""

    def __iter__(self) -> _EpdReader: ...
    def __next__(self) -> _EpdRecord: ...

@final
class _EpdRecord:
    """A line read by MoveGenerator.read_epd() (type name EpdRecord)."""

    @property
    def line(self) -> int:
        """The line's number in the source, from 1."""
    @property
    def text(self) -> str:
        """The line as read, without its line end."""
    @property
    def fen(self) -> str | None:
        """The position as six-field FEN (counters from hmvc and fmvn, else 0
        and 1), or None if its fields do not read."""
    @property
    def operations(self) -> dict[str, tuple[str, ...]]:
        """Every operation in line order: opcode -> operands as text. A
        repeated opcode's operands follow its first ones in one tuple."""
    @property
    def bm(self) -> tuple[str, ...]:
        """The best moves (bm) as move texts."""
    @property
    def am(self) -> tuple[str, ...]:
        """The moves to avoid (am) as move texts."""
    @property
    def pv(self) -> tuple[str, ...]:
        """The line of play (pv) as move texts, up to its first fault; a null
        move is "0000"."""
    @property
    def id(self) -> str | None:
        """The first operand of id, or None."""
    @property
    def error(self) -> str | None:
        """None, or the line's first fault."""
    def board(self) -> Board:
        """A new Board at the record's position, with its counters;
        ValueError when the record has none."""

@final
class PolyglotBook:
    """An opening book in the Polyglot format, read whole from its file."""

    def __new__(cls, path: str | bytes | PathLike[str] | PathLike[bytes]) -> PolyglotBook:
        """Reads the book. A file that cannot be read raises OSError; a size
        that is not a whole number of 16-byte entries, keys out of order or an
        unknown promotion piece raises ValueError, and so does anything but a
        regular file of at most 1 GiB (a pipe, FIFO or device is not waited
        for)."""
    def moves(self, board: Board) -> list[tuple[str, int]]:
        """The book's moves for the position (as the generator writes them,
        castling as the king's move) with their weights, in book order."""
