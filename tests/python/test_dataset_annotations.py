"""Evals and clocks in datasets: which position each [%eval] and [%clk] lands
on, the filters on them, the annotation columns of batches, and datasets
written before annotations were kept."""
import json
import os
import random

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import DATA
from conftest import optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
import vemla_chess_data  # noqa: E402  python/, on the path through conftest
from vemla_chess_data import records, tool  # noqa: E402

ANNOTATED = DATA / "pgn" / "annotated.pgn"
NAN = float("nan")
# (ply, eval, mate, clock, opponent_clock, clock_after) of each record, worked
# out by hand from annotated.pgn: the eval after move p is record p's, seen
# from its side to move; None is absent.
EXPECTED = {
    "Evals and clocks": [
        (0, None, None, None, None, 180),
        (1, -0.2, None, None, 180, 178.5),
        (2, 0.25, None, 180, 178.5, 175),
        (3, None, None, 178.5, 175, 170),
        (4, 1.1, None, 175, 170, 160),
        (5, -0.5, None, 170, 160, 150),
        (6, None, 1, 160, 150, 161),
    ],
    # Black moves first: after 1... Kd7 White is to move and mated in 5.
    "From a position, Black first, mates": [
        (0, None, None, None, None, None),
        (1, None, -5, None, None, None),
        (2, None, 4, None, None, None),
    ],
    "Plain comments": [(p, None, None, None, None, None) for p in range(3)],
    "Clocks alone": [
        (0, None, None, None, None, 60),
        (1, None, None, None, 60, 59),
        (2, None, None, 60, 59, 58),
        (3, None, None, 59, 58, 57),
    ],
}
COLUMNS = ["eval", "mate", "clock", "opponent_clock", "clock_after"]


def make(out_dir, *inputs, options=()):
    status = tool.main(["pgn", str(out_dir), *map(str, inputs), "--jobs", "1", *options])
    assert status == 0
    return vemla_chess_data.open_dataset(str(out_dir))


def by_event(data):
    """{event: [(ply, eval, mate, clock, opponent_clock, clock_after)]} of a
    dataset, read through batches() in file order."""
    out = {}
    for batch in data.batches(1000):
        for i in range(len(batch["row"])):
            game = data.games(int(batch["shard"][i]))[batch["game"][i]]
            values = [float(batch[name][i]) if batch[f"has_{name}"][i] else None for name in COLUMNS]
            # Absent fields hold NaN (mate: 0), so that they cannot pass for numbers.
            for name in COLUMNS:
                if not batch[f"has_{name}"][i]:
                    assert batch[name][i] == 0 if name == "mate" else np.isnan(batch[name][i])
            out.setdefault(str(game["event"]), []).append((int(batch["ply"][i]), *values))
    return out


def approx(rows):
    return [tuple(pytest.approx(v) if isinstance(v, float) else v for v in row) for row in rows]


def test_each_position_takes_the_eval_and_clocks_that_belong_to_it(tmp_path, capsys):
    data = make(tmp_path / "d", ANNOTATED)
    assert "positions with an eval: 7 (3 of them mates), with the side to move's clock: 7" in capsys.readouterr().out
    found = by_event(data)
    assert set(found) == set(EXPECTED)
    for event, rows in EXPECTED.items():
        assert found[event] == approx(rows), event
    assert data.index["format"] == records.FORMAT
    assert data.index["annotations"] == {"clock": 7, "clock_after": 11, "eval": 4, "mate": 3, "opponent_clock": 9}
    notes = data.annotations(0)
    assert notes.dtype == records.annotation_dtype() and len(notes) == len(data.positions(0))


def test_the_filters_keep_games_with_evals_or_clocks(tmp_path):
    data = make(tmp_path / "evals", ANNOTATED, options=["--require-evals"])
    assert sorted(by_event(data)) == ["Evals and clocks", "From a position, Black first, mates"]
    assert data.index["rejected"] == {"filtered: no evals": 2}
    data = make(tmp_path / "clocks", ANNOTATED, options=["--require-clocks"])
    assert sorted(by_event(data)) == ["Clocks alone", "Evals and clocks"]
    assert data.index["rejected"] == {"filtered: no clocks": 2}
    both = make(tmp_path / "both", ANNOTATED, options=["--require-evals", "--require-clocks"])
    assert sorted(by_event(both)) == ["Evals and clocks"]
    # Another filter is another dataset: the folder refuses it.
    assert tool.main(["pgn", str(tmp_path / "both"), str(ANNOTATED), "--jobs", "1"]) == 2


def random_game(gen, rng, plies):
    board, moves = Board(), []
    while len(moves) < plies and gen(board):
        moves.append(rng.choice(gen(board)))
        board.push(moves[-1])
    return moves


def test_skipped_and_sampled_positions_keep_their_annotations_row_for_row(tmp_path):
    # The eval after move p is p / 8 pawns for White (a mate every 7th), the
    # clock after it 1000 - p: every record says which ply it came from.
    gen, rng = MoveGenerator(), random.Random(5)
    texts = []
    for _ in range(30):
        moves = random_game(gen, rng, rng.randint(1, 60))
        evals = [f"#{p}" if p % 7 == 0 else p / 8 for p in range(1, len(moves) + 1)]
        clocks = [1000 - p for p in range(1, len(moves) + 1)]
        texts.append(gen.pgn(moves, result="*", evals=evals, clocks=clocks))
    source = tmp_path / "generated.pgn"
    source.write_text("\n\n".join(texts))
    data = make(tmp_path / "d", source, options=["--skip-plies", "3", "--sample", "0.5", "--seed", "2"])
    batch = next(data.batches(len(data), seed=1))
    ply = batch["ply"].astype(np.int64)
    sign = np.where(batch["white_to_move"] == 1, 1, -1)
    assert len(ply) > 100 and (ply >= 3).all()
    mate = ply % 7 == 0
    assert (batch["has_mate"] == mate).all() and (batch["has_eval"] == ~mate).all()
    assert (batch["mate"][mate] == (sign * ply)[mate]).all()
    assert np.allclose(batch["eval"][~mate], (sign * ply / 8)[~mate])
    assert (batch["clock"] == 1000 - (ply - 1)).all()
    assert (batch["opponent_clock"] == 1000 - ply).all()
    # The last move of each game has its clock after; a later one none.
    assert (batch["clock_after"][batch["has_clock_after"]] == 1000 - (ply + 1)[batch["has_clock_after"]]).all()


def test_batches_pick_annotation_columns_and_refuse_unknown_ones(tmp_path):
    data = make(tmp_path / "d", ANNOTATED)
    batch = next(data.batches(4, columns=["eval", "has_eval", "ply"]))
    assert sorted(batch) == ["eval", "has_eval", "ply", "row", "shard"]
    assert batch["eval"].dtype == np.float32 and batch["has_eval"].dtype == bool
    with pytest.raises(ValueError, match="unknown columns \\['evals'\\]"):
        next(data.batches(4, columns=["evals"]))


def downgrade(out_dir):
    """Makes a dataset look as one the tool wrote before it kept annotations
    (format 1): no annotations.npy and no trace of it in the index."""
    index = json.loads((out_dir / "index.json").read_text())
    index["format"] = 1
    index.pop("annotations", None)
    for name, entry in index["shards"].items():
        entry.pop("annotations", None)
        entry["files"].pop(records.ANNOTATIONS_FILE, None)
        (out_dir / name / records.ANNOTATIONS_FILE).unlink(missing_ok=True)
        (out_dir / name / records.SHARD_MANIFEST).write_text(json.dumps(entry))
    (out_dir / "index.json").write_text(json.dumps(index))


def test_a_dataset_of_the_first_format_reads_resumes_and_grows_as_one(tmp_path, capsys):
    out = tmp_path / "old"
    make(out, ANNOTATED)
    downgrade(out)
    data = vemla_chess_data.open_dataset(str(out))
    assert not data.annotated(0)
    assert all(value is None for row in sum(by_event(data).values(), []) for value in row[1:])
    assert (data.annotations(0)["flags"] == 0).all() and np.isnan(data.annotations(0)["eval"]).all()
    capsys.readouterr()
    # The same command finds every shard whole; a new file adds a shard of
    # the same format, without annotations.
    make(out, ANNOTATED)
    assert "0 shards written, 1 already there" in capsys.readouterr().out
    grown = make(out, ANNOTATED, DATA / "pgn" / "corpus.pgn")
    assert grown.index["format"] == 1 and len(grown.names) > 1
    assert not any(grown.annotated(i) for i in range(len(grown.names)))
    # A format this tool does not know is refused, not overwritten.
    index = json.loads((out / "index.json").read_text())
    (out / "index.json").write_text(json.dumps(dict(index, format=3)))
    assert tool.main(["pgn", str(out), str(ANNOTATED), "--jobs", "1"]) == 2
    assert "format 3, which this version of the tool does not know" in capsys.readouterr().err


def test_a_damaged_or_missing_annotations_file_is_rebuilt(tmp_path, capsys):
    out = tmp_path / "d"
    make(out, ANNOTATED)
    path = out / "shard-00000" / records.ANNOTATIONS_FILE
    whole = path.read_bytes()
    damaged = bytearray(whole)
    damaged[-3] ^= 0xFF
    path.write_bytes(bytes(damaged))
    capsys.readouterr()
    make(out, ANNOTATED)
    assert "shard-00000: annotations.npy does not match its checksum; it will be rebuilt" in capsys.readouterr().err
    assert path.read_bytes() == whole
    path.unlink()
    make(out, ANNOTATED)
    assert "annotations.npy is missing; it will be rebuilt" in capsys.readouterr().err
    assert path.read_bytes() == whole


def test_a_shard_of_games_without_annotations_has_no_annotations_file(tmp_path):
    plain = tmp_path / "plain.pgn"
    plain.write_text("[Event \"x\"]\n\n1. e4 { fine } e5 $1 *\n")
    data = make(tmp_path / "d", plain, ANNOTATED)
    assert [data.annotated(i) for i in range(2)] == [False, True]
    assert not os.path.exists(tmp_path / "d" / data.names[0] / records.ANNOTATIONS_FILE)
    batch = next(data.batches(100))
    assert batch["has_eval"].tolist() == [False, False] + [row[1] is not None
                                                         for row in EXPECTED["Evals and clocks"]] + [False] * 10


def test_write_games_takes_evals_and_clocks_per_move(tmp_path):
    moves = ["e2e4", "e7e5", "g1f3"]
    vemla_chess_data.write_games(str(tmp_path / "d"), [
        dict(moves=moves, result="1-0", evals=[0.5, "#-2", None], clocks=[10, 9.5, 8]),
        dict(moves=moves, result="*")])
    data = vemla_chess_data.open_dataset(str(tmp_path / "d"))
    notes = data.annotations(0)
    assert notes["flags"].tolist() == [16, 1 | 8 | 16, 2 | 4 | 8 | 16, 0, 0, 0]
    assert notes["eval"][1] == -0.5 and notes["mate"][2] == -2 and notes["clock_after"][2] == 8


class TestEncodeGame:
    """encode_game's annotations_out: from a game of read_pgn or from arguments."""

    @pytest.fixture
    def game(self):
        return next(iter(MoveGenerator().read_pgn(ANNOTATED)))

    def test_a_game_from_read_pgn_gives_its_moves_and_annotations(self, game):
        gen, n = MoveGenerator(), len(game.moves)
        out, notes = np.zeros(n, records.position_dtype()), np.zeros(n, records.annotation_dtype())
        assert gen.encode_game(Board(), game, out, 1, annotations_out=notes) == n
        plain = np.zeros(n, records.position_dtype())
        gen.encode_game(Board(), list(game.moves), plain, 1)
        assert out.tobytes() == plain.tobytes()
        assert notes["eval"][1] == pytest.approx(-0.2) and notes["mate"][6] == 1
        # Arguments replace the game's own; None clears.
        gen.encode_game(Board(), game, out, 1, annotations_out=notes, evals=[None] * n)
        assert not (notes["flags"] & 3).any() and notes["clock_after"][0] == 180

    def test_annotations_stop_with_the_records_at_an_illegal_move(self):
        gen = MoveGenerator()
        notes = np.full(4 * 20, 0xAA, np.uint8)
        written = gen.encode_game(Board(), ["e2e4", "e7e5", "e1e3", "d2d4"], bytearray(4 * 128),
                                  annotations_out=notes, clocks=[5, 4, 3, 2])
        assert written == 2
        assert (notes[40:] == 0xAA).all()
        assert notes[:40].view(records.annotation_dtype())["clock_after"].tolist() == [5, 4]

    def test_buffers_and_arguments_it_refuses(self):
        gen, moves, board = MoveGenerator(), ["e2e4", "e7e5"], Board()
        out = bytearray(2 * 128)
        with pytest.raises(TypeError, match="argument 'evals': needs annotations_out"):
            gen.encode_game(board, moves, out, evals=[1, 2])
        with pytest.raises(TypeError, match="argument 'clocks': needs annotations_out"):
            gen.encode_game(board, moves, out, clocks=[1, 2])
        with pytest.raises(ValueError, match="annotations_out.*at least 40 one-byte items or 2 annotation records"):
            gen.encode_game(board, moves, out, annotations_out=bytearray(39))
        with pytest.raises(TypeError, match="annotations_out"):
            gen.encode_game(board, moves, out, annotations_out=np.zeros(2, records.position_dtype()))
        shared = bytearray(2 * 128 + 40)
        with pytest.raises(ValueError, match="shares memory with argument 'out'"):
            gen.encode_game(board, moves, shared, annotations_out=memoryview(shared)[200:])
        with pytest.raises(ValueError, match="argument 'evals': expected 2 entries"):
            gen.encode_game(board, moves, out, annotations_out=bytearray(40), evals=[1])
        # Nothing was played by the refused calls.
        assert board.fen() == Board().fen() and bytes(out) == bytes(256)
        # Apart, the same bytes work.
        assert gen.encode_game(board, moves, memoryview(shared)[:256], annotations_out=memoryview(shared)[256:]) == 2
