"""read_epd: the records of EPD lines, from every kind of source, with their
operations kept as text and the moves of bm, am and pv resolved."""
import bz2
import gzip
import io
import os
import subprocess
from pathlib import Path

import pytest
from vemla_chess import Board, MoveGenerator

gen = MoveGenerator()
SUITE = Path(__file__).resolve().parent.parent / "data" / "epd" / "suite.epd"
STOCKFISH = "/usr/games/stockfish"
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"


def one(line, **options):
    records = list(gen.read_epd(line + "\n", **options))
    assert len(records) == 1
    return records[0]


def test_a_record_gives_its_position_operations_and_moves():
    r = one(START + ' bm Nf3 e4; am f3; pv e4 e5 Nf3; id "T 01; first"; c0 "a \\"b\\""; '
            'ce 25; acd 12; hmvc 4; fmvn 9; xyz a b c;')
    assert r.error is None
    assert r.line == 1
    assert r.fen == START + " 4 9"
    assert r.board().fen() == START
    assert r.operations == {"bm": ("Nf3", "e4"), "am": ("f3",), "pv": ("e4", "e5", "Nf3"),
                            "id": ("T 01; first",), "c0": ('a "b"',), "ce": ("25",),
                            "acd": ("12",), "hmvc": ("4",), "fmvn": ("9",), "xyz": ("a", "b", "c")}
    assert list(r.operations) == ["bm", "am", "pv", "id", "c0", "ce", "acd", "hmvc", "fmvn", "xyz"]
    assert (r.bm, r.am, r.pv, r.id) == (("g1f3", "e2e4"), ("f2f3",), ("e2e4", "e7e5", "g1f3"),
                                        "T 01; first")
    # Each board() is a new Board: changing one changes neither the record nor the next.
    b = r.board()
    b.push("e2e4")
    assert r.board().fen() == START
    assert isinstance(b, Board)


def test_without_operations_the_counters_are_0_and_1_and_nothing_is_resolved():
    r = one("8/8/8/4k3/8/8/8/4K3 b - -")
    assert (r.fen, r.operations, r.bm, r.am, r.pv, r.id, r.error) == (
        "8/8/8/4k3/8/8/8/4K3 b - - 0 1", {}, (), (), (), None, None)


def test_a_repeated_opcode_keeps_all_its_operands_in_one_tuple():
    r = one("4k3/8/8/8/8/8/8/6KN w - - bm Ng3; id x; bm Kh2;")
    assert r.operations == {"bm": ("Ng3", "Kh2"), "id": ("x",)}
    assert r.bm == ("h1g3", "g1h2")


FAULTS = [
    ("8/8/8 w -", None, "missing position fields: an EPD line starts with the four fields "
     "of FEN, this one has 3"),
    (START + " bm e5;", START + " 0 1",
     'bm: Illegal SAN: no legal move matches "e5" in ' + START),
    (START + " pv e4 e4;", START + " 0 1",
     'pv: move 2: Illegal SAN: no legal move matches "e4" in '
     "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"),
    # An opcode where a position field belongs is read as that field.
    ("8/8/8 w - bm e4;", None, 'invalid position "8/8/8 w - bm": Invalid fen: Invalid piece '
     "placement: expected eight ranks of eight squares"),
    (START + ' c0 "no end', START + " 0 1", "c0: unterminated quoted operand"),
    (START + " 2x a;", START + " 0 1",
     'malformed opcode "2x": an opcode is a letter, then letters, digits and _'),
]


@pytest.mark.parametrize("line, fen, error", FAULTS)
def test_a_fault_is_the_records_error_and_costs_nothing_else(line, fen, error):
    text = line + "\n" + START + " bm d4; id next;\n"
    bad, good = gen.read_epd(text)
    assert (bad.fen, bad.error, bad.text, bad.line) == (fen, error, line, 1)
    assert (good.bm, good.id, good.error, good.line) == (("d2d4",), "next", None, 2)


def test_errors_raise_names_the_line_and_reading_goes_on():
    reader = gen.read_epd(START + " bm e4;\n\n" + START + " bm e5;\n" + START + " bm d4;\n",
                          errors="raise")
    assert next(reader).bm == ("e2e4",)
    with pytest.raises(ValueError, match=r'^read_epd\(\): line 3: bm: Illegal SAN: no legal move '
                       r'matches "e5"'):
        next(reader)
    assert next(reader).bm == ("d2d4",)
    assert list(reader) == []


def test_a_record_without_a_position_refuses_board():
    r = one("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkx - bm e4;")
    assert r.fen is None and r.bm == () and r.operations == {"bm": ("e4",)}
    assert r.error.startswith('invalid position "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w '
                              'KQkx -": Invalid fen: ')
    with pytest.raises(ValueError, match="^EPD line 1 has no position: invalid position"):
        r.board()


def test_the_suite_reads_and_its_best_moves_are_legal(tmp_path):
    records = list(gen.read_epd(SUITE))
    assert len(records) == 15
    assert [r.error for r in records] == [None] * 15
    assert [r.id for r in records] == [f"VEMLA {i:03d}" + r.id[9:] for i, r in
                                       enumerate(records, 1)]
    for r in records:
        board = r.board()
        legal = set(gen(board))
        assert len(r.bm) == len(r.operations["bm"]) and set(r.bm) <= legal
        assert set(r.am) <= legal and not set(r.am) & set(r.bm)
        for move in r.pv:
            assert move in gen(board)
            board.push(move)
    by_id = {r.id: r for r in records}
    assert by_id["VEMLA 013 - En passant"].bm == ("e5f6",)
    assert by_id["VEMLA 014 - Underpromotion avoided"].am == ("a7a8n", "a7a8b")
    assert by_id["VEMLA 015 - Long castling"].bm == ("e8c8",)
    assert by_id["VEMLA 002 - Legal"].fen.endswith(" 2 6")
    assert by_id["VEMLA 001 - Blackburne"].operations["c0"] == ("after Qg5; from the opening",)


@pytest.mark.skipif(not os.access(STOCKFISH, os.X_OK), reason="Stockfish is not installed")
def test_the_suites_moves_are_legal_for_stockfish_too():
    records = list(gen.read_epd(SUITE))
    script = "".join(f"position fen {r.fen}\ngo perft 1\n" for r in records) + "quit\n"
    out = subprocess.run([STOCKFISH], input=script, capture_output=True, text=True,
                         timeout=60).stdout
    # perft 1 prints "move: 1" per legal move and a blank line after each position.
    lists = [set(), ]
    for line in out.splitlines():
        if line.startswith("Nodes searched"):
            lists.append(set())
        elif ": " in line and len(line.split(":")[0]) in (4, 5):
            lists[-1].add(line.split(":")[0])
    for r, legal in zip(records, lists):
        assert set(r.bm) | set(r.am) <= legal, r.id
        assert set(gen(r.board())) == legal, r.id


def test_every_kind_of_source_gives_the_same_records(tmp_path):
    data = SUITE.read_bytes()
    expected = [(r.line, r.fen, r.operations, r.bm, r.am, r.pv) for r in gen.read_epd(SUITE)]

    def read(source):
        return [(r.line, r.fen, r.operations, r.bm, r.am, r.pv) for r in gen.read_epd(source)]

    (tmp_path / "s.epd.gz").write_bytes(gzip.compress(data))
    (tmp_path / "s.epd.bz2").write_bytes(bz2.compress(data))
    (tmp_path / "crlf.epd").write_bytes(data.replace(b"\n", b"\r\n"))
    assert read(str(SUITE)) == expected
    assert read(os.fsencode(SUITE)) == expected
    assert read(tmp_path / "s.epd.gz") == expected
    assert read(tmp_path / "s.epd.bz2") == expected
    assert read(tmp_path / "crlf.epd") == expected
    assert read(io.BytesIO(data)) == expected
    assert read(data.decode()) == expected
    # A str of one line without its line end is text too, and so is the empty str.
    first = data.decode().splitlines()[0]
    assert read(first) == expected[:1]
    assert read("") == []
    with pytest.raises(FileNotFoundError):
        gen.read_epd(str(tmp_path / "missing.epd"))
    with pytest.raises(TypeError, match="'int' object is not a path, a binary file object or EPD"):
        gen.read_epd(42)
    with pytest.raises(ValueError, match='errors must be "keep" or "raise", not "skip"'):
        gen.read_epd("", errors="skip")


def test_bytes_that_are_not_utf8_are_replaced_not_lost():
    r = next(gen.read_epd(io.BytesIO(START.encode() + b' id "caf\xe9"; bm e4;\n')))
    assert (r.id, r.bm, r.error) == ("caf\ufffd", ("e2e4",), None)


def test_a_source_that_fails_breaks_the_reader_for_good():
    class Failing(io.RawIOBase):
        def __init__(self):
            self.calls = 0

        def readable(self):
            return True

        def readinto(self, b):
            self.calls += 1
            if self.calls > 1:
                raise OSError("disk gone")
            line = (START + " bm e4;\n").encode()
            b[:len(line)] = line
            return len(line)

    reader = gen.read_epd(Failing())
    with pytest.raises(OSError, match="disk gone"):
        list(reader)
    with pytest.raises(RuntimeError, match="the source failed during an earlier read"):
        next(reader)


def test_a_next_from_inside_the_sources_read_is_a_borrow_conflict():
    seen = []

    class Reentrant(io.RawIOBase):
        def readable(self):
            return True

        def readinto(self, b):
            if not seen:
                try:
                    next(reader)
                except RuntimeError as e:
                    seen.append(str(e))
            return 0

    reader = gen.read_epd(Reentrant())
    assert list(reader) == []
    assert seen == ["Already borrowed"]


def test_epd_writes_a_line_that_reads_back_to_the_same_moves_and_operands():
    board = Board()
    line = gen.epd(board, {"bm": ["e2e4", "Nf3"], "am": "f3", "pv": ("e4", "e5", "0000", "Nc6"),
                           "id": 'a "q" \\ ;', "acd": 12, "noop": None, "c0": ""})
    assert line == (START + ' bm e4 Nf3; am f3; pv e4 e5 -- Nc6; id "a \\"q\\" \\\\ ;"; acd 12; '
                    'noop; c0 "";')
    r = one(line)
    assert (r.bm, r.am, r.pv, r.id, r.error) == (("e2e4", "g1f3"), ("f2f3",),
                                                 ("e2e4", "e7e5", "0000", "b8c6"), 'a "q" \\ ;', None)
    assert r.operations["noop"] == () and r.operations["acd"] == ("12",)
    assert gen.epd(board) == START
    assert board.fen() == START and board.ply() == 0


def test_the_suite_round_trips_through_the_writer():
    for r in gen.read_epd(SUITE):
        # The resolved moves as move texts in place of the SAN as written.
        ops = {op: getattr(r, op) if op in ("bm", "am", "pv") else operands
               for op, operands in r.operations.items()}
        again = one(gen.epd(r.board(), ops))
        assert (again.operations, again.bm, again.am, again.pv, again.fen) == (
            r.operations, r.bm, r.am, r.pv, r.fen)


@pytest.mark.parametrize("operations, kind, message", [
    ({"1x": 1}, ValueError, 'malformed opcode "1x"'),
    ({"bm": "e5"}, ValueError, 'bm: Illegal SAN: no legal move matches "e5"'),
    ({"pv": ["e4", "e4"]}, ValueError, 'pv: move 2: Illegal SAN: no legal move matches "e4"'),
    ({"c0": "a\nb"}, ValueError, "c0: an operand cannot hold a line end"),
    ({"bm": True}, TypeError, "operands must be str or int, not 'bool'"),
    ({"bm": [1.5]}, TypeError, "operands must be str or int, not 'float'"),
    ({3: 1}, TypeError, "opcodes must be str, not 'int'"),
    (5, TypeError, "'int' object is not a mapping of opcode to operands"),
])
def test_epd_refuses_what_it_cannot_write_and_leaves_the_board_alone(operations, kind, message):
    board = Board()
    board.push("d2d4")
    with pytest.raises(kind, match=message.replace("(", r"\(")):
        gen.epd(Board() if "e5" in str(operations) or "e4" in str(operations) else board,
                operations)
    assert board.fen() == "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3"
    assert board.ply() == 1
