"""The record layouts of a dataset's shards, shared by the writer and the reader.

numpy is imported by the functions that need it, so that importing the
package costs nothing and works without numpy.
"""

# 1: positions.npy and games.npy. 2: annotations.npy beside them, in the
# shards whose games carry an eval or a clock. A format-1 dataset reads as one
# whose shards have none, and a run that resumes or extends it keeps writing
# format 1, so that all its shards say the same.
FORMAT = 2
FORMATS = (1, 2)

# One 128-byte record per position, exactly as MoveGenerator.encode_game
# writes it (all little-endian).
POSITION_FIELDS = [
    ("pieces", "<u8", (12,)),     # piece bitboards, White's view: P N B R Q K p n b r q k; bit k = square k (a1 = 0)
    ("move", "<u2"),              # the move played: from | to << 6 | promotion << 12 (4 n, 5 b, 6 r, 7 q)
    ("policy_lc0", "<u2"),        # its lc0 index (0 to 1857)
    ("policy_alphazero", "<u2"),  # its alphazero index (0 to 4671)
    ("ply", "<u2"),               # plies played in the game before this position
    ("halfmove_clock", "<u2"),
    ("fullmove_number", "<u2"),
    ("white_to_move", "u1"),
    ("castling", "u1"),           # K 1, Q 2, k 4, q 8
    ("en_passant", "i1"),         # en-passant target square, -1 for none
    ("result", "i1"),             # the game's result for the side to move: 1, 0, -1
    ("repetitions", "u1"),        # occurrences of this position in its game so far, itself included
    ("reserved0", "u1", (3,)),
    ("game", "<u4"),              # row of its game in the shard's games table
    ("key", "<u8"),               # the position's Polyglot key
]
RECORD_SIZE = 128

# One 20-byte record per position, row for row beside positions.npy, as
# MoveGenerator.encode_game writes it into annotations_out. Everything is from
# the side to move's view; an absent field has its flag clear and holds NaN
# (mate: 0). Counting moves from 1, record i (the position after i moves)
# takes the [%eval] written after move i, and the [%clk] after moves i - 1
# (clock: the side to move's), i (opponent_clock) and i + 1 (clock_after: the
# side to move's once it has played the record's move).
ANNOTATION_FIELDS = [
    ("eval", "<f4"),            # pawns, > 0 good for the side to move
    ("clock", "<f4"),           # seconds left on the side to move's clock
    ("opponent_clock", "<f4"),  # seconds left on the other side's clock
    ("clock_after", "<f4"),     # the side to move's clock after the move played
    ("mate", "<i2"),            # moves to mate: > 0 the side to move mates, < 0 it is mated
    ("flags", "u1"),            # the fields present: ANNOTATION_FLAGS
    ("reserved", "u1"),
]
ANNOTATION_SIZE = 20
# The flag bit of each field, and the mask column batches() gives for it.
ANNOTATION_FLAGS = {"eval": 1, "mate": 2, "clock": 4, "opponent_clock": 8, "clock_after": 16}
ANNOTATION_COLUMNS = list(ANNOTATION_FLAGS) + [f"has_{name}" for name in ANNOTATION_FLAGS]

# Per game; the text fields are as wide as the shard's longest value.
GAME_NUMBER_FIELDS = [
    ("number", "<i8"),       # self-play: the game's number; PGN: -1
    ("source", "<i4"),       # index into the dataset's list of sources
    ("offset", "<i8"),       # byte offset of the game in its source (-1 for self-play)
    ("first", "<i8"),        # its first row in positions.npy
    ("positions", "<i4"),    # its rows there
    ("white_elo", "<i2"),    # -1 where the tag is missing or not a number
    ("black_elo", "<i2"),
]
# variant: "chess960" for a Chess960 game (start_fen is then X-FEN), else "".
GAME_TEXT_FIELDS = ["result", "termination", "time_control", "start_fen", "white", "black", "event", "variant"]

POSITIONS_FILE = "positions.npy"
GAMES_FILE = "games.npy"
ANNOTATIONS_FILE = "annotations.npy"
SHARD_MANIFEST = "shard.json"
INDEX = "index.json"
UNIQUE_FILE = "unique.npy"


def position_dtype():
    import numpy as np

    dtype = np.dtype(POSITION_FIELDS)
    assert dtype.itemsize == RECORD_SIZE
    return dtype


def annotation_dtype():
    import numpy as np

    dtype = np.dtype(ANNOTATION_FIELDS)
    assert dtype.itemsize == ANNOTATION_SIZE
    return dtype


def absent_annotations(count):
    """count annotation records with every field absent."""
    import numpy as np

    out = np.zeros(count, dtype=annotation_dtype())
    for name in ("eval", "clock", "opponent_clock", "clock_after"):
        out[name] = np.nan
    return out


def game_dtype(widths):
    """The games table's dtype, each text field `widths[name]` characters wide (at least 1)."""
    import numpy as np

    return np.dtype(GAME_NUMBER_FIELDS + [(name, f"<U{max(1, widths.get(name, 1))}") for name in GAME_TEXT_FIELDS])


def games_table(games):
    """The games table of a list of dicts holding the fields above (missing text: "")."""
    import numpy as np

    # numpy sizes each column to its longest text (at least 1) as it builds it.
    texts = {name: np.array([g.get(name) or "" for g in games], dtype=str) for name in GAME_TEXT_FIELDS}
    widths = {name: column.dtype.itemsize // 4 for name, column in texts.items()}
    table = np.zeros(len(games), dtype=game_dtype(widths))
    for name, *_ in GAME_NUMBER_FIELDS:
        table[name] = [g[name] for g in games]
    for name in GAME_TEXT_FIELDS:
        table[name] = texts[name]
    return table
