"""Reading vemla_chess datasets: shards of memory-mapped numpy records.

    import vemla_chess_data
    data = vemla_chess_data.open_dataset("data/")
    for batch in data.batches(1024, seed=0):
        batch["pieces"]            # (1024, 12) uint64 piece bitboards
        batch["policy_lc0"]        # (1024,) the move played, as lc0 indices
        batch["result"]            # (1024,) +1 / 0 / -1 for the side to move

A dataset folder (written by `vemla-dataset`, tools/dataset.py) holds
index.json and one folder per shard with positions.npy (one 128-byte record
per position, fields in records.POSITION_FIELDS) and games.npy (one row per
game: source, byte offset, ratings, result, termination, time control, start
FEN, players, event). Both open with numpy alone: np.load(path, mmap_mode="r").
Engine labels (`vemla-dataset label`) sit beside the shards in
labels/NAME/; batches(..., labels=NAME) adds them (see labels.py).

numpy is imported when a dataset is opened, not with this package.

The package also holds the commands' code: the dataset tool (`tool`, its
tasks in `sources`), perft (`perft`, the vemla-perft command) and the worker
pools they share (`pool`: this machine's processes or a Dask cluster), and
a client for UCI chess engines such as Stockfish (`engine`).
"""

import json
import os

from .records import GAMES_FILE, INDEX, POSITIONS_FILE, POSITION_FIELDS, position_dtype  # noqa: F401

__all__ = ["Dataset", "open_dataset", "piece_planes", "planes", "PLANES", "write_games"]


class Dataset:
    """A dataset folder's shards, memory-mapped on first use."""

    def __init__(self, path):
        self.path = path
        with open(os.path.join(path, INDEX)) as f:
            self.index = json.load(f)
        self.names = sorted(self.index["shards"])
        self.sizes = [self.index["shards"][name]["positions"] for name in self.names]
        self._positions, self._games = {}, {}
        self._unique = None
        self._label_sets, self._labels = {}, {}

    def unique(self, shard):
        """Which positions of shard number `shard` are the first of their key
        in the dataset (a dataset built with --dedup), else None."""
        import numpy as np

        if "unique" not in self.index:
            return None
        if self._unique is None:
            self._unique = np.load(os.path.join(self.path, self.index["unique"]["file"]), mmap_mode="r")
        start = sum(self.sizes[:shard])
        return self._unique[start:start + self.sizes[shard]]

    @property
    def label_sets(self):
        """The names of the label sets in the folder (labels/NAME/labels.json), sorted."""
        from .labels import LABEL_INDEX, LABELS_DIR

        folder = os.path.join(self.path, LABELS_DIR)
        if not os.path.isdir(folder):
            return []
        return sorted(name for name in os.listdir(folder)
                      if os.path.isfile(os.path.join(folder, name, LABEL_INDEX)))

    def label_index(self, name="engine"):
        """The labels.json of label set `name` (its settings and every labelled
        shard's entry), read on first use; KeyError for a set the folder lacks."""
        from .labels import LABEL_INDEX, label_root

        if name not in self._label_sets:
            path = os.path.join(label_root(self.path, name), LABEL_INDEX) if isinstance(name, str) else ""
            if not os.path.isfile(path):
                raise KeyError(f"{self.path} has no label set {name!r} (it has {self.label_sets})")
            with open(path) as f:
                self._label_sets[name] = json.load(f)
        return self._label_sets[name]

    def labels(self, shard, name="engine"):
        """The labels of shard number `shard` in label set `name` (a read-only
        memory map, one record per position, dtype labels.label_dtype), or None
        where that shard has none, or has only labels of an earlier version
        of its positions."""
        import numpy as np

        from .labels import LABEL_FILE, label_dtype, label_root

        key = (name, shard)
        if key not in self._labels:
            index = self.label_index(name)
            shard_name = self.names[shard]
            entry = index["shards"].get(shard_name)
            found = None
            if entry is not None and \
                    entry.get("source") == self.index["shards"][shard_name]["files"][POSITIONS_FILE]:
                path = os.path.join(label_root(self.path, name), shard_name, LABEL_FILE)
                found = np.load(path, mmap_mode="r")
                if found.dtype != label_dtype(index["settings"]["multipv"]) or len(found) != self.sizes[shard]:
                    raise ValueError(f"{path} holds labels of another layout ({found.dtype}, {len(found)} "
                                     "rows); it was written by another version of the dataset tool")
            self._labels[key] = found
        return self._labels[key]

    def __len__(self):
        return sum(self.sizes)

    @property
    def sources(self):
        return [s["path"] for s in self.index["sources"]]

    def positions(self, shard):
        """The position records of shard number `shard` (a read-only memory map)."""
        import numpy as np

        if shard not in self._positions:
            path = os.path.join(self.path, self.names[shard], POSITIONS_FILE)
            positions = np.load(path, mmap_mode="r")
            if positions.dtype != position_dtype():
                raise ValueError(f"{path} holds records of another layout ({positions.dtype}); "
                                 "it was written by another version of the dataset tool")
            self._positions[shard] = positions
        return self._positions[shard]

    def games(self, shard):
        """The games table of shard number `shard`."""
        import numpy as np

        if shard not in self._games:
            self._games[shard] = np.load(os.path.join(self.path, self.names[shard], GAMES_FILE), mmap_mode="r")
        return self._games[shard]

    def batches(self, batch_size, seed=None, columns=None, mix=4, drop_last=False, unique=True, labels=None):
        """Yields dicts {column: array} of batch_size positions (the last one
        may be smaller unless drop_last).

        With a seed, the order is shuffled: the shards in a seeded order,
        then the positions of `mix` shards at a time in a seeded order, read
        through the memory maps. Without one, positions come in file order.
        `columns` picks fields of the records (default: all but the reserved ones);
        "shard" is added, so that (shard, game) names a game. In a
        de-duplicated dataset only the first position of each key is given
        unless unique=False.

        `labels`, the name of a label set (or a list of names), adds its
        fields as NAME_score, NAME_mate, NAME_wdl, NAME_best_move,
        NAME_best_lc0, NAME_best_alphazero, NAME_depth, NAME_flags and
        NAME_nodes, and NAME_labelled: True where the position has a line;
        positions of shards without labels have zeros and False."""
        import numpy as np

        names = [n for n, *_ in POSITION_FIELDS if not n.startswith("reserved")] if columns is None else columns
        label_sets = [] if labels is None else [labels] if isinstance(labels, str) else list(labels)
        for name in label_sets:
            self.label_index(name)
        rng = np.random.default_rng(seed) if seed is not None else None
        order = rng.permutation(len(self.names)) if rng is not None else np.arange(len(self.names))
        carry = None
        for start in range(0, len(order), mix):
            group = [int(s) for s in order[start:start + mix]]
            shard_of = np.concatenate([np.full(self.sizes[s], s, dtype=np.int32) for s in group]) \
                if group else np.zeros(0, np.int32)
            row_of = np.concatenate([np.arange(self.sizes[s], dtype=np.int64) for s in group]) \
                if group else np.zeros(0, np.int64)
            if unique and "unique" in self.index:
                keep = np.concatenate([np.asarray(self.unique(s)) for s in group])
                shard_of, row_of = shard_of[keep], row_of[keep]
            if rng is not None:
                permutation = rng.permutation(len(row_of))
                shard_of, row_of = shard_of[permutation], row_of[permutation]
            if carry is not None:
                shard_of, row_of = np.concatenate([carry[0], shard_of]), np.concatenate([carry[1], row_of])
            full = len(row_of) - len(row_of) % batch_size
            for first in range(0, full, batch_size):
                yield self._gather(shard_of[first:first + batch_size], row_of[first:first + batch_size], names,
                                   label_sets)
            carry = (shard_of[full:], row_of[full:])
        if carry is not None and len(carry[1]) and not drop_last:
            yield self._gather(carry[0], carry[1], names, label_sets)

    def _gather(self, shard_of, row_of, names, label_sets=()):
        import numpy as np

        from .labels import LINE, label_dtype

        out = {name: np.empty((len(row_of),) + position_dtype()[name].shape, position_dtype()[name].base)
               for name in names}
        for name in label_sets:
            dtype = label_dtype(self.label_index(name)["settings"]["multipv"])
            for field in dtype.names:
                out[f"{name}_{field}"] = np.zeros((len(row_of),) + dtype[field].shape, dtype[field].base)
            out[f"{name}_labelled"] = np.zeros(len(row_of), dtype=bool)
        for shard in np.unique(shard_of):
            where = np.flatnonzero(shard_of == shard)
            rows = row_of[where]
            # Sorted reads touch each page of the map once.
            order = np.argsort(rows, kind="stable")
            records = self.positions(int(shard))[rows[order]]
            for name in names:
                out[name][where[order]] = records[name]
            for name in label_sets:
                found = self.labels(int(shard), name)
                if found is None:
                    continue
                rows_labels = found[rows[order]]
                for field in found.dtype.names:
                    out[f"{name}_{field}"][where[order]] = rows_labels[field]
                best = rows_labels["flags"] if rows_labels["flags"].ndim == 1 else rows_labels["flags"][:, 0]
                out[f"{name}_labelled"][where[order]] = (best & LINE) != 0
        out["shard"] = shard_of.astype(np.int32)
        out["row"] = row_of.astype(np.int64)
        return out

    def history_planes(self, batch, history=8, view="mover", dtype="float32"):
        """Input planes of a batch from batches() with the positions before
        each one: (N, 12 * history + 8, 8, 8), the pieces of the position and
        of the history - 1 before it in its game (the latest first), then the
        eight state planes of `planes`. Positions before the first record of
        the game (the game's start, or plies the dataset skipped or sampled
        away) give zero planes. view="mover" mirrors every step by the
        current side to move, as planes() does the position.

        These are the planes Board.planes_into(out, history, view) writes for
        the position replayed on a board (with the whole game behind it); the
        records hold no boards, so here the steps come from earlier rows."""
        import numpy as np

        shard_of, row_of = np.asarray(batch["shard"]), np.asarray(batch["row"])
        current = planes(batch, view=view, dtype=dtype)
        n = len(row_of)
        out = np.zeros((n, 12 * history + 8, 8, 8), dtype=dtype)
        out[:, :12] = current[:, :12]
        out[:, 12 * history:] = current[:, 12:]
        if history < 2:
            return out
        # Every earlier step of every position at once, shard by shard: the
        # record `step` rows back, where it is the same game `step` plies back.
        steps = np.arange(1, history)
        earlier = np.zeros((n, history - 1, 12), dtype="<u8")
        for shard in np.unique(shard_of):
            where = np.flatnonzero(shard_of == shard)
            records = self.positions(int(shard))
            here = records[row_of[where]]
            rows = row_of[where][:, None] - steps
            candidates = records[np.maximum(rows, 0)]
            ok = ((rows >= 0) & (candidates["game"] == here["game"][:, None])
                  & (candidates["ply"].astype(np.int64) == here["ply"].astype(np.int64)[:, None] - steps))
            earlier[where] = np.where(ok[..., None], candidates["pieces"], 0)
        if view == "mover":
            # Turned while still bitboards: Black's pieces first, and the
            # bytes (ranks) of each word reversed.
            black = np.asarray(batch["white_to_move"]) == 0
            earlier[black] = np.concatenate([earlier[black][:, :, 6:], earlier[black][:, :, :6]], axis=2).byteswap()
        # Byte r of a little-endian word is rank r; bit f of it is file f.
        bits = np.unpackbits(earlier.view(np.uint8).reshape(n, 12 * (history - 1), 8), axis=2, bitorder="little")
        out[:, 12:12 * history] = bits.reshape(n, 12 * (history - 1), 8, 8)
        return out


def open_dataset(path):
    """The dataset in folder `path`."""
    return Dataset(path)


# The input planes that `planes` builds, in order.
PLANES = ["P", "N", "B", "R", "Q", "K", "p", "n", "b", "r", "q", "k",
          "white_to_move", "castling_K", "castling_Q", "castling_k", "castling_q",
          "en_passant", "halfmove_clock", "repetitions"]


def piece_planes(pieces, dtype="float32"):
    """(N, 12, 8, 8) planes [piece][rank][file] of (N, 12) piece bitboards."""
    import numpy as np

    pieces = np.ascontiguousarray(pieces, dtype="<u8")
    n = len(pieces)
    # Byte r of a little-endian word is rank r; bit f of it is file f.
    bits = np.unpackbits(pieces.view(np.uint8).reshape(n, 12, 8), axis=2, bitorder="little")
    return bits.reshape(n, 12, 8, 8).astype(dtype)


def planes(batch, view="board", dtype="float32"):
    """Input planes (N, 20, 8, 8) of a batch (a dict with the record fields),
    [plane][rank][file], rank 1 first.

    view="board": as the board stands. view="mover": from the side to move,
    so Black's positions are mirrored by rank and their colours swapped (the
    mover's pieces in planes 0-5, its castling rights in 13-14, the others'
    in 15-16). Planes 0-11 pieces; 12 one where White is to move; 13-16 ones
    for each castling right; 17 a one on the en-passant target square; 18 the
    half-move clock / 100; 19 the repetitions before this one (0, 1, 2+ as
    0, 0.5, 1)."""
    import numpy as np

    board_planes = piece_planes(batch["pieces"], dtype)
    n = len(board_planes)
    out = np.zeros((n, len(PLANES), 8, 8), dtype=dtype)
    out[:, :12] = board_planes
    castling = np.asarray(batch["castling"])
    rights = np.stack([(castling >> k) & 1 for k in range(4)], axis=1).astype(dtype)
    white = np.asarray(batch["white_to_move"]).astype(bool)
    ep = np.asarray(batch["en_passant"]).astype(np.int64)
    out[:, 12] = white[:, None, None]
    out[:, 13:17] = rights[:, :, None, None]
    has_ep = ep >= 0
    out[np.flatnonzero(has_ep), 17, ep[has_ep] // 8, ep[has_ep] % 8] = 1
    out[:, 18] = (np.asarray(batch["halfmove_clock"]) / 100.0)[:, None, None]
    out[:, 19] = (np.minimum(np.asarray(batch["repetitions"]).astype(np.int64) - 1, 2) / 2.0)[:, None, None]
    if view == "mover":
        black = np.flatnonzero(~white)
        flipped = out[black]
        flipped = flipped[:, :, ::-1, :]
        flipped[:, :12] = np.concatenate([flipped[:, 6:12], flipped[:, 0:6]], axis=1)
        flipped[:, 13:17] = np.concatenate([flipped[:, 15:17], flipped[:, 13:15]], axis=1)
        out[black] = flipped
    elif view != "board":
        raise ValueError(f'view must be "board" or "mover", not {view!r}')
    return out


def write_games(out_dir, games):
    """Writes games as a one-shard dataset in the new folder `out_dir`, in the
    format the dataset tool writes, and returns its index.

    Each game is a dict with "moves" (move texts from its start), "result"
    ("1-0", "0-1", "1/2-1/2" or "*"), and optionally "termination" and
    "start_fen" (FEN, counters included; empty or missing for the standard
    start). Needs numpy and the vemla_chess module."""
    from . import records, shards, sources, tool

    if os.path.exists(os.path.join(out_dir, INDEX)):
        raise shards.DatasetError(f"{out_dir} already holds a dataset")
    os.makedirs(out_dir, exist_ok=True)
    with shards.FolderLock(out_dir):
        rows = [dict(dict(number=i, source=0, offset=-1, white_elo=-1, black_elo=-1, termination="", start_fen=""),
                     **game) for i, game in enumerate(games)]
        entry = sources.assemble(sources.worker_state(), out_dir, "shard-00000", rows,
                                 dict(task=["games", len(rows)]))
        index = tool.totals(dict(format=records.FORMAT, kind="games", settings={}, sources=[{"path": "games"}],
                                 shards={"shard-00000": entry}))
        shards.write_index(out_dir, index)
    return index
