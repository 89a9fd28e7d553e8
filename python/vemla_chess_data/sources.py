"""The worker side of the dataset tool: each task builds one shard and writes it.

Tasks take plain arguments and return the shard's index entry, so they run
the same in this process, in worker processes or on a Dask cluster (whose
workers must see the output folder and have this package installed).
"""

import bz2
import gzip
import importlib
import io
import lzma
import os
import random
import re

from . import records, shards
from .pool import worker_state as process_state

SCORES = {"1-0": 1, "0-1": -1, "1/2-1/2": 0}
COMPRESSED = {".gz": gzip.open, ".bz2": bz2.open, ".xz": lzma.open}
# How far to look past a range boundary for the start of the next game.
SYNC_BLOCK = 1 << 16


def worker_state():
    """The process's state (pool.worker_state: the module and its one
    generator), with what the dataset tasks keep there too."""
    state = process_state()
    if not hasattr(state, "draw_rules"):
        # Builds whose outcome() knows the move-count and repetition rules.
        state.draw_rules = "claim_draw" in (state.vemla_chess.MoveGenerator.outcome.__text_signature__ or "")
    return state


def game_rng(seed, game):
    """The random generator of one self-play game: a function of the seed and the game number only."""
    return random.Random(f"vemla-selfplay/{seed}/{game}")


def chess960_start(chess960, rng, game):
    """The Chess960 start number of a self-play game: drawn by its generator
    for "random", else the game's turn in the list of numbers given."""
    if chess960 == "random":
        return rng.randrange(960)
    return chess960[game % len(chess960)]


def play_game(state, seed, game, max_plies, chess960=None):
    """One game of uniformly random legal moves: (moves, termination, result),
    or with chess960 ("random" or a list of start numbers) one from a Chess960
    start: (moves, termination, result, start board)."""
    generator, board = state.generator, state.vemla_chess.Board()
    rng = game_rng(seed, game)
    if chess960:
        board = state.vemla_chess.Board.from_chess960(chess960_start(chess960, rng, game))
    start = board.copy()
    moves = []
    while True:
        # The draws a player may claim end the game too: nobody plays on for them.
        if state.draw_rules:
            ending = generator.outcome(board, claim_draw=True)
        else:
            ending = generator.outcome(board)
            if ending is None and board.repetitions() >= 3:
                ending = "threefold_repetition"
        if ending is None and len(moves) >= max_plies:
            ending = "ply_cap"
        if ending is not None:
            break
        legal = generator(board)
        move = legal[rng.randrange(len(legal))]
        board.push(move)
        moves.append(move)
    if ending == "checkmate":
        result = "0-1" if board.turn() == "white" else "1-0"
    else:
        result = "*" if ending == "ply_cap" else "1/2-1/2"
    if chess960:
        return moves, ending, result, start
    return moves, ending, result


def record_buffer(state, rows):
    """A zeroed (rows, RECORD_SIZE) uint8 array for encode_game: the front of
    one the process keeps from shard to shard. Fresh memory costs a page fault
    per 4 KiB at its first write, which took half of encode_game's time when
    every shard had an array of its own; the array kept is as large as the
    largest shard's records."""
    import numpy as np

    buffer = getattr(state, "records", None)
    if buffer is None or len(buffer) < rows:
        buffer = state.records = np.zeros((rows + rows // 4, records.RECORD_SIZE), dtype=np.uint8)
    view = buffer[:rows]
    view.fill(0)
    return view


def annotation_buffer(state, rows):
    """An (rows, ANNOTATION_SIZE) uint8 array for encode_game's annotations_out,
    kept from shard to shard like record_buffer's; encode_game writes every
    row it keeps, so it is not cleared."""
    import numpy as np

    buffer = getattr(state, "annotations", None)
    if buffer is None or len(buffer) < rows:
        buffer = state.annotations = np.zeros((rows + rows // 4, records.ANNOTATION_SIZE), dtype=np.uint8)
    return buffer[:rows]


def annotation_counts(notes):
    """{field: positions where it is present} of annotation records."""
    import numpy as np

    flags = notes["flags"]
    return {name: int(np.count_nonzero(flags & bit)) for name, bit in records.ANNOTATION_FLAGS.items()}


def assemble(state, out_dir, name, games, meta):
    """Encodes the games and writes them as shard `name`.

    Each game is a dict of the games table's fields plus "moves" (move
    texts), and optionally "pgn" (the game from read_pgn they were read from,
    whose evals and clocks go into the annotations) or "evals" and "clocks"
    (per move, as generator.pgn() takes them). annotations.npy is written
    when any position has an eval or a clock, unless meta["annotations"] is
    False (a dataset of format 1)."""
    import numpy as np

    generator, Board = state.generator, state.vemla_chess.Board
    total = sum(len(g["moves"]) for g in games)
    buffer = record_buffer(state, total)
    annotate = meta.pop("annotations", True)
    notes_buffer = annotation_buffer(state, total) if annotate else None
    row = 0
    kept = []
    rejected = dict(meta.pop("rejected", {}))
    for game in games:
        moves, read = game.pop("moves"), game.pop("pgn", None)
        given = {}
        if "evals" in game or "clocks" in game:
            given = {key: value for key in ("evals", "clocks") if (value := game.pop(key, None)) is not None}
        if game.get("variant") == "chess960":
            board = Board.from_full_fen(game.get("start_fen") or Board().full_fen(), chess960=True)
        else:
            board = Board.from_full_fen(game["start_fen"]) if game.get("start_fen") else Board()
        if annotate:
            written = generator.encode_game(board, read if read is not None else moves,
                                            buffer[row:row + len(moves)], SCORES.get(game["result"], 0),
                                            annotations_out=notes_buffer[row:row + len(moves)], **given)
        else:
            written = generator.encode_game(board, moves, buffer[row:row + len(moves)],
                                            SCORES.get(game["result"], 0))
        if written != len(moves):
            # The reader vouches for its moves; a game that still fails to replay is not kept.
            rejected["not replayable"] = rejected.get("not replayable", 0) + 1
            continue
        kept.append(dict(game, first=row, positions=written))
        row += written
    positions = buffer[:row].view(records.position_dtype()).reshape(row)
    notes = notes_buffer[:row].view(records.annotation_dtype()).reshape(row) if annotate else None
    skip, rate, seed = meta.pop("skip_plies", 0), meta.pop("sample", 1.0), meta.pop("seed", 0)
    if skip or rate < 1.0:
        mask = positions["ply"] >= skip
        if rate < 1.0:
            # Each game draws from its own generator, so the choice does not
            # depend on which worker reads it or on what else it reads.
            for game in kept:
                rng = np.random.default_rng(list(f"{seed}/{game['source']}/{game['offset']}/{game['number']}".encode()))
                mask[game["first"]:game["first"] + game["positions"]] &= rng.random(game["positions"]) < rate
        counts = [int(mask[g["first"]:g["first"] + g["positions"]].sum()) for g in kept]
        positions = positions[mask]
        if notes is not None:
            notes = notes[mask]
        row = len(positions)
        first = 0
        for game, count in zip(kept, counts):
            game["first"], game["positions"] = first, int(count)
            first += int(count)
    positions["game"] = np.repeat(np.arange(len(kept), dtype=np.uint32),
                                  [g["positions"] for g in kept]).astype(np.uint32)
    table = records.games_table(kept)
    entry = dict(meta, name=name, games=len(kept), positions=int(row), rejected=rejected)
    arrays = {records.POSITIONS_FILE: positions, records.GAMES_FILE: table}
    if notes is not None and np.any(notes["flags"]):
        arrays[records.ANNOTATIONS_FILE] = notes
        entry["annotations"] = annotation_counts(notes)
    return shards.write_shard(out_dir, name, arrays, entry)


def selfplay_shard(out_dir, name, seed, first, count, max_plies, chess960=None):
    """Task: plays games first .. first+count-1 and writes them as shard `name`
    (from Chess960 starts with chess960, as play_game takes it)."""
    state = worker_state()
    games = []
    for number in range(first, first + count):
        extra = {}
        if chess960:
            moves, termination, result, start = play_game(state, seed, number, max_plies, chess960)
            extra = dict(start_fen=start.full_fen(), variant="chess960")
        else:
            moves, termination, result = play_game(state, seed, number, max_plies)
        games.append(dict(number=number, source=0, offset=-1, white_elo=-1, black_elo=-1, moves=moves,
                          result=result, termination=termination, **extra))
    return assemble(state, out_dir, name, games, dict(task=["selfplay", first, count]))


# ---- PGN ---------------------------------------------------------------------------------------

def open_pgn(path):
    """A binary stream over a PGN file, decompressed by its extension."""
    extension = os.path.splitext(path)[1].lower()
    if extension in COMPRESSED:
        return COMPRESSED[extension](path, "rb")
    if extension == ".zst":
        try:
            zstandard = importlib.import_module("zstandard")
        except ImportError:
            raise RuntimeError(f"{path}: reading .zst files needs the zstandard module "
                               "(Debian: python3-zstandard; pip install zstandard)") from None
        return zstandard.ZstdDecompressor().stream_reader(open(path, "rb"), closefd=True)
    return open(path, "rb")


def is_compressed(path):
    """Whether a PGN file is read through a decompressor (by its extension)."""
    return os.path.splitext(path)[1].lower() in (*COMPRESSED, ".zst")


def unreadable(path, error):
    """The DatasetError for a compressed file whose decompressor failed (each
    raises an error type of its own)."""
    return shards.DatasetError(f"{path}: cannot be decompressed: {type(error).__name__}: {error}")


def text_size(path):
    """The number of bytes of PGN text in a file: its size, or for a
    compressed file the size of its text, found by decompressing it once."""
    if not is_compressed(path):
        return os.path.getsize(path)
    total = 0
    buffer = memoryview(bytearray(1 << 20))
    try:
        with open_pgn(path) as stream:
            while n := stream.readinto(buffer):
                total += n
    except (OSError, EOFError, ValueError, lzma.LZMAError) as error:
        raise unreadable(path, error) from None
    except Exception as error:  # zstandard.ZstdError, known only where it is installed
        if type(error).__module__.startswith("zstd"):
            raise unreadable(path, error) from None
        raise
    return total


GAME_START = re.compile(rb"\n[ \t\r]*\n[ \t]*\[")


def next_game_start(f, position, size=None):
    """The first offset at or after `position` where a game's tags begin: a '['
    that opens a line after an empty line (offset 0 is always a start), or the
    end of the input. Both readers of a boundary compute the same offset, so no
    game is lost or read twice. `f` needs seek and read at absolute offsets;
    `size`, where known, is the input's length."""
    if position <= 0:
        return 0
    if size is not None and position >= size:
        return size
    start = max(0, position - 4)
    carry = b""
    while True:
        f.seek(start)
        read = f.read(SYNC_BLOCK)
        block = carry + read
        base = start - len(carry)
        for match in GAME_START.finditer(block):
            at = base + match.end() - 1
            if at >= position:
                return at
        if len(read) < SYNC_BLOCK:
            return base + len(block)
        carry = block[-8:]
        start += SYNC_BLOCK


def read_range(path, start, end):
    """The bytes of a plain file from the game starting at or after `start` up
    to the game starting at or after `end`, and the offset of the first byte."""
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        first = next_game_start(f, start, size)
        last = next_game_start(f, end, size)
        f.seek(first)
        return f.read(max(0, last - first)), first


class StreamRanges:
    """The byte ranges of a compressed file's text, cut exactly as read_range
    cuts a plain file, from one pass of its decompressor: ranges must be asked
    for in increasing order (ranges skipped are decompressed and dropped).
    Holds the text from the last range's end on, about one range at most."""

    READ = 1 << 20

    def __init__(self, path, size=None):
        self.path, self.size = path, size  # the text's size, where known
        self.stream = None
        self.base = 0  # offset of data[0] in the text
        self.data = bytearray()
        self.at = 0
        self.eof = False

    # The file interface next_game_start needs, at absolute offsets of the text.
    def seek(self, offset):
        if offset < self.base:
            raise ValueError(f"{self.path}: range asked for out of order (offset {offset} < {self.base})")
        self.at = offset

    def read(self, n):
        self._fill(self.at + n)
        out = self._bytes(self.at, self.at + n)
        self.at += len(out)
        return out

    def _bytes(self, start, end):
        # One copy, through a view released before data can grow again.
        with memoryview(self.data) as view:
            return bytes(view[start - self.base:end - self.base])

    def _fill(self, until):
        if self.stream is None:
            self.stream = open_pgn(self.path)
        while not self.eof and self.base + len(self.data) < until:
            block = self.stream.read(self.READ)
            if block:
                self.data += block
            else:
                self.eof = True

    def _drop(self, before):
        """Forgets the text before offset `before`, decompressing up to it."""
        while before > self.base + len(self.data) and not self.eof:
            self.base += len(self.data)
            self.data = bytearray()
            self._fill(min(before, self.base + (16 << 20)))
        cut = min(max(before - self.base, 0), len(self.data))
        del self.data[:cut]
        self.base += cut

    def range(self, start, end):
        """(bytes, offset of the first) of the games starting in [start, end)."""
        # The search for a start looks from 4 bytes before it on.
        self._drop(start - 4)
        first = next_game_start(self, start, self.size)
        last = next_game_start(self, end, self.size)
        self._fill(last)
        return self._bytes(first, last), first

    def close(self):
        if self.stream is not None:
            self.stream.close()
            self.stream = None


def tag_number(tags, name):
    try:
        value = int(tags.get(name, ""))
        return value if -32768 <= value <= 32767 else -1
    except ValueError:
        return -1


# Lichess's classes by the estimated duration base + 40 * increment, in seconds.
TIME_CLASSES = (("ultrabullet", 29), ("bullet", 179), ("blitz", 479), ("rapid", 1499))


def time_class(time_control):
    """The class of a TimeControl tag: ultrabullet, bullet, blitz, rapid, classical,
    correspondence ('-') or unknown."""
    if time_control == "-":
        return "correspondence"
    base, _, increment = (time_control or "").partition("+")
    try:
        estimate = int(base) + 40 * int(increment or 0)
    except ValueError:
        return "unknown"
    for name, limit in TIME_CLASSES:
        if estimate <= limit:
            return name
    return "classical"


def game_filter(filters):
    """keep(tags) -> reason text or None, from the run's filters."""
    min_elo, elo_of = filters.get("min_elo"), filters.get("elo_of", "both")
    classes = set(filters.get("time_classes") or ())
    equals, contains = filters.get("tag_equals") or [], filters.get("tag_contains") or []

    def refusal(tags):
        if min_elo is not None:
            white, black = tag_number(tags, "WhiteElo"), tag_number(tags, "BlackElo")
            if white < 0 or black < 0:
                return "rating unknown"
            if (min(white, black) if elo_of == "both" else (white + black) / 2) < min_elo:
                return "rating"
        if classes and time_class(tags.get("TimeControl")) not in classes:
            return "time control"
        for name, value in equals:
            if tags.get(name) != value:
                return f"tag {name}"
        for name, value in contains:
            if value not in tags.get(name, ""):
                return f"tag {name}"
        return None

    return refusal


def has_evals(game):
    """Whether any move of a game from read_pgn has an [%eval] (a mate included)."""
    return any(value is not None for value in game.evals) or any(value is not None for value in game.mates)


def has_clocks(game):
    """Whether any move of a game from read_pgn has a [%clk]."""
    return any(value is not None for value in game.clocks)


def error_reason(error):
    """A short class of a reader error, for counting: its text up to the first detail."""
    return "reader: " + re.split(r"[:(]| at | in ", str(error), maxsplit=1)[0].strip()[:60]


def pgn_shard(out_dir, name, source, path, start, end, filters, text=None):
    """Task: reads the games of `path` that start in [start, end) (the whole file
    when end is None), filters them and writes them as shard `name`. `text`,
    when given, is those games' bytes and the offset of the first (the range
    of a compressed file, cut by StreamRanges where the file is decompressed)."""
    state = worker_state()
    generator = state.generator
    if text is not None:
        data, base = text
        stream = io.BytesIO(data)
    elif end is None:
        stream, base = open_pgn(path), 0
    else:
        data, base = read_range(path, start, end)
        stream = io.BytesIO(data)
    refusal = game_filter(filters)
    rejected, refused = {}, []
    require_evals, require_clocks = filters.get("require_evals"), filters.get("require_clocks")

    def keep(tags):
        reason = refusal(tags)
        if reason is not None:
            refused.append(reason)
        return reason is None

    games = []
    with stream:
        for game in generator.read_pgn(stream, keep=keep):
            if game.error is not None:
                reason = error_reason(game.error)
                rejected[reason] = rejected.get(reason, 0) + 1
                continue
            if require_evals and not has_evals(game):
                refused.append("no evals")
                continue
            if require_clocks and not has_clocks(game):
                refused.append("no clocks")
                continue
            tags = game.tags
            # The reader tells a Chess960 game by its Variant tag.
            variant = "chess960" if "Variant" in tags and game.board(0).is_chess960() else ""
            games.append(dict(
                number=-1, source=source, offset=base + game.offset, moves=game.moves, pgn=game,
                white_elo=tag_number(tags, "WhiteElo"), black_elo=tag_number(tags, "BlackElo"),
                result=tags.get("Result", game.result or "*"), termination=tags.get("Termination", ""),
                time_control=tags.get("TimeControl", ""), start_fen=game.fen or "",
                white=tags.get("White", ""), black=tags.get("Black", ""), event=tags.get("Event", ""),
                variant=variant))
    for reason in refused:
        rejected["filtered: " + reason] = rejected.get("filtered: " + reason, 0) + 1
    meta = dict(task=["pgn", source, start, end], rejected=rejected, skip_plies=filters.get("skip_plies", 0),
                sample=filters.get("sample", 1.0), seed=filters.get("seed", 0),
                annotations=filters.get("annotations", True))
    entry = assemble(state, out_dir, name, games, meta)
    return entry
