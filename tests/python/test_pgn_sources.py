"""read_pgn against sources that misbehave: a readinto that keeps views of the
buffer it was handed, a keep filter that raises, and compressed files that
expand to far more than any game may hold. Whatever they do, the interpreter
survives, no game is lost without a word, and memory stays bounded."""
import bz2
import gzip
import io
import lzma
import os
import subprocess
import sys
import textwrap

import pytest
from vemla_chess import MoveGenerator

from conftest import UNDER_ASAN, optional_import

zstandard = optional_import("zstandard")
numpy = optional_import("numpy")

gen = MoveGenerator()
MODULE_DIR = os.path.dirname(sys.modules["vemla_chess"].__file__)

GAME = '[Event "e"]\n[White "w"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 1-0\n\n'
GAME_MOVES = ("e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6")


def run_child(body, *args):
    """Runs body in a new interpreter (a crash there cannot take the test run
    with it); returns its stdout. The sanitizer runtime, when preloaded, follows."""
    script = "import sys\nsys.path.insert(0, sys.argv[1])\n" + textwrap.dedent(body)
    out = subprocess.run([sys.executable, "-c", script, MODULE_DIR, *map(str, args)],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, f"child exited with {out.returncode}\n{out.stderr[-3000:]}"
    return out.stdout


# --- views of the read buffer -------------------------------------------------

VIEW_KINDS = ["memoryview", "slice", "cast", "numpy"]


@pytest.mark.parametrize("kind", VIEW_KINDS)
def test_views_made_inside_readinto_never_reach_the_readers_memory(kind):
    # The source keeps a view of every buffer it is handed. Before each new
    # read it scribbles over the view it kept last; after the reader is gone
    # it scribbles again and the process allocates and frees a lot. Nothing
    # it does may reach memory the reader owns or owned: the games read are
    # exact and the process ends normally.
    if kind == "numpy" and numpy is None:
        pytest.skip("numpy is not installed")
    out = run_child("""
        import gc
        import vemla_chess
        kind = sys.argv[2]
        if kind == "numpy":
            import numpy

        def view_of(b):
            if kind == "memoryview":
                return memoryview(b)
            if kind == "slice":
                return b[:]
            if kind == "cast":
                return b.cast("B")
            return numpy.frombuffer(b, dtype=numpy.uint8)

        def scribble(views):
            for v in views:
                v[:] = b"\\xff" * len(v) if kind != "numpy" else 0xFF

        class Keeper:
            def __init__(self, data, step):
                self.data, self.step, self.views = data, step, []

            def readinto(self, b):
                scribble(self.views[-1:])
                self.views.append(view_of(b))
                n = min(len(b), self.step, len(self.data))
                b[:n] = self.data[:n]
                self.data = self.data[n:]
                return n

        game = %r
        data = (game * 60).encode()
        gen = vemla_chess.MoveGenerator()
        for step in (41, 1 << 20):  # many short reads, then whole buffers
            source = Keeper(data, step)
            games = [g.moves for g in gen.read_pgn(source)]
            assert games == [%r] * 60, (step, len(games))
            views = source.views
            del source, games
            gc.collect()
            for _ in range(3):
                scribble(views)
                junk = [bytearray(4096) for _ in range(2000)] + [str(i) * 50 for i in range(2000)]
                del junk
                gc.collect()
            print(step, len(views), "views")
        # A reader dropped in the middle of its source, its views still held.
        source = Keeper(data, 1 << 20)
        reader = gen.read_pgn(source)
        next(reader)
        del reader
        gc.collect()
        scribble(source.views)
        print("ok")
    """ % (GAME, GAME_MOVES), kind)
    assert out.splitlines()[-1] == "ok"
    assert int(out.split()[1]) > 50  # the short reads were many


def test_every_read_is_handed_a_buffer_of_its_own_when_a_view_is_kept():
    # A buffer no view holds can be handed out again; one still viewed is not.
    seen = []

    class Source:
        def __init__(self, data, keep_views):
            self.data, self.keep_views, self.views = data, keep_views, []

        def readinto(self, b):
            seen.append((type(b.obj), id(b.obj)))
            if self.keep_views:
                self.views.append(memoryview(b))
            n = min(len(b), 100, len(self.data))
            b[:n] = self.data[:n]
            self.data = self.data[n:]
            return n

    data = (GAME * 30).encode()
    for keep_views in (False, True):
        seen.clear()
        games = list(gen.read_pgn(Source(data, keep_views)))
        assert [g.moves for g in games] == [GAME_MOVES] * 30
        assert {kind for kind, _ in seen} == {bytearray}  # Python's own memory
        assert len(set(seen)) == (len(seen) if keep_views else 1) and len(seen) > 5


# --- a keep filter that raises ------------------------------------------------

def test_a_game_whose_keep_raised_is_never_passed_over_silently():
    text = GAME.replace('"w"', '"a"') + GAME.replace('"w"', '"b"') + GAME.replace('"w"', '"c"')
    offset_b = text.index('[Event "e"]\n[White "b"]')

    def keep(tags):
        if tags["White"] == "b":
            raise KeyError("WhiteElo")
        return True

    games = gen.read_pgn(text, keep=keep)
    assert next(games).tags["White"] == "a"
    with pytest.raises(KeyError, match="WhiteElo"):
        next(games)
    # Game "b" was not read, so game "c" is not handed out as if it came next,
    # and the reader does not end as if the source were complete.
    for _ in range(2):
        with pytest.raises(RuntimeError) as failure:
            next(games)
        assert str(failure.value) == (f"read_pgn(): keep raised for the game at byte {offset_b}; "
                                      "no more games")
    # The same for a list() or a for loop: the exception ends the loop.
    with pytest.raises(KeyError):
        list(gen.read_pgn(text, keep=keep))

    # A failed read is reported the same way, with its own reason.
    class Failing:
        def readinto(self, b):
            raise OSError("disk on fire")

    games = gen.read_pgn(Failing())
    with pytest.raises(OSError):
        next(games)
    with pytest.raises(RuntimeError, match="^read_pgn\\(\\): the source failed during an earlier read; no more games$"):
        next(games)


# --- game objects -------------------------------------------------------------

def test_a_games_moves_cannot_be_changed_behind_its_board():
    (game,) = gen.read_pgn(GAME)
    assert game.moves == GAME_MOVES and type(game.moves) is tuple
    with pytest.raises(TypeError):
        game.moves[:] = ["e1e8"]
    with pytest.raises(AttributeError):
        game.moves = ("e1e8",)
    assert game.board().fen() == "r1bqkbnr/1ppp1ppp/p1n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq -"
    (empty,) = gen.read_pgn('[Event "x"]\n\n*\n')
    assert empty.moves == ()


def test_board_takes_a_ply_and_names_the_one_given():
    (game,) = gen.read_pgn(GAME)
    for flag in (True, False):
        with pytest.raises(TypeError, match="argument 'ply': 'bool' object"):
            game.board(flag)
    for ply in (2 ** 64, 2 ** 63, -(2 ** 64), 7, -1):
        with pytest.raises(IndexError) as refused:
            game.board(ply)
        assert str(refused.value) == f"ply {ply} is out of range: the game has 6 moves"
    assert game.board(ply=2).fen() == "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"


# --- decompression bombs ------------------------------------------------------

MIB = 1 << 20
BOMB_MIB = 40  # two and a half times the 16 MiB a game may take


def compressed_copies(fmt, block, copies):
    """copies of block, compressed as one member repeated: every one of these
    formats reads a concatenation of members as the concatenation of their
    contents, and a member is made in milliseconds."""
    if fmt == "gz":
        member = gzip.compress(block, 1)
    elif fmt == "bz2":
        member = bz2.compress(block, 1)
    elif fmt == "xz":
        member = lzma.compress(block, preset=0)
    else:
        member = zstandard.ZstdCompressor(level=1).compress(block)
    return member * copies


BOMBS = {
    # Gigabytes of zeros, scaled down: no line, no game.
    "zeros": (b"", bytes(MIB), "after 2 None"),
    # One endless game: zeros after its first move, a comment that never
    # closes, a tag value that never ends, legal moves without end.
    "game then zeros": (b'[Event "bomb"]\n\n1. e4 ', bytes(MIB), "bomb 1 game longer than the size limit"),
    "endless comment": (b'[Event "bomb"]\n\n1. e4 {', b"x" * MIB, "bomb 1 game longer than the size limit"),
    "endless tag": (b'[Event "', b"y" * MIB, "None 0 malformed tag pair: tag value too long"),
    "endless moves": (b'[Event "bomb"]\n\n', b"Nf3 Nf6 Ng1 Ng8 " * (MIB // 16),
                      "bomb 4194301 game longer than the size limit"),
}

READ_BOMB = """
    import resource
    import vemla_chess
    gen = vemla_chess.MoveGenerator()
    list(gen.read_pgn('[Event "warm"]\\n\\n1. e4 *\\n'))
    import gzip, bz2, lzma
    try:
        import zstandard
    except ImportError:
        pass
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    games = []
    for game in gen.read_pgn(sys.argv[2]):
        games.append((game.tags.get("Event"), len(game.moves), game.error))
        del game
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    for event, moves, error in games:
        print(event, moves, error)
    print(grown)
"""


def read_bomb(path, fmt, head, block, mib):
    """The games read from head, block mib times over, then a game that must
    still be read, as lines "event moves error"; and how far the reading
    process grew, in MiB."""
    after = b'\n[Event "after"]\n\n1. d4 d5 *\n'
    parts = [compressed_copies(fmt, head, 1)] if head else []
    parts += [compressed_copies(fmt, block, mib), compressed_copies(fmt, after, 1)]
    path.write_bytes(b"".join(parts))
    lines = run_child(READ_BOMB, path).splitlines()
    return lines[:-1], int(lines[-1]) / 1024


@pytest.mark.parametrize("fmt", ["gz", "bz2", "xz", "zst"])
def test_decompression_bombs_of_zeros_stay_bounded(tmp_path, fmt):
    if fmt == "zst" and zstandard is None:
        pytest.skip("zstandard is not installed")
    head, block, first = BOMBS["zeros"]
    games, grown = read_bomb(tmp_path / f"bomb.pgn.{fmt}", fmt, head, block, BOMB_MIB)
    assert games == [first] and grown < 8, (games, grown)


@pytest.mark.parametrize("shape", [shape for shape in BOMBS if shape != "zeros"])
def test_one_endless_game_stays_bounded_and_says_so(tmp_path, shape):
    if UNDER_ASAN:
        pytest.skip("ASan's quarantine of freed blocks is not the reader's memory")
    head, block, first = BOMBS[shape]
    games, grown = read_bomb(tmp_path / "bomb.pgn.gz", "gz", head, block, BOMB_MIB)
    assert games == [first, "after 2 None"], games
    if shape != "endless moves":
        assert grown < 40, grown  # the reader's buffer and the game's text up to the limit
    else:
        # 4 million legal plies up to the limit take some 170 MiB (their SAN,
        # moves and undo records); past the limit nothing more is kept.
        games, less = read_bomb(tmp_path / "half.pgn.gz", "gz", head, block, BOMB_MIB // 2)
        assert games == [first, "after 2 None"], games
        assert grown < less + 16, (grown, less)


# --- a plain file named by its path --------------------------------------------

def test_a_fifo_path_is_read_while_the_thread_that_feeds_it_runs(tmp_path):
    """A plain file named by its path is read straight from its descriptor,
    letting go of the interpreter while the read waits: a writer thread of the
    same process feeds the FIFO piece by piece, and every game arrives."""
    fifo = tmp_path / "games.pgn"
    os.mkfifo(fifo)
    out = run_child("""
        import threading, time
        from vemla_chess import MoveGenerator
        text = sys.argv[3] * 300
        def write():
            with open(sys.argv[2], "w") as f:
                for i in range(0, len(text), 997):
                    f.write(text[i:i + 997])
                    f.flush()
                    time.sleep(0.0005)
        writer = threading.Thread(target=write)
        writer.start()
        games = list(MoveGenerator().read_pgn(sys.argv[2]))
        writer.join()
        print(len(games), sum(g.moves == games[0].moves and g.error is None for g in games))
    """, fifo, GAME)
    assert out.split() == ["300", "300"]


def test_a_signal_during_a_waiting_read_of_a_path_stops_it(tmp_path):
    """A handler's exception ends a read that waits on a FIFO, as it would
    in Python's own reads; the games before it were delivered."""
    fifo = tmp_path / "games.pgn"
    os.mkfifo(fifo)
    out = run_child("""
        import os, signal, threading, time
        from vemla_chess import MoveGenerator
        class Alarm(Exception):
            pass
        def ring(signum, frame):
            raise Alarm
        signal.signal(signal.SIGALRM, ring)
        def write():
            f = open(sys.argv[2], "w")
            f.write(sys.argv[3] * 3)
            f.flush()
            time.sleep(30)  # open, silent: the reader waits
        threading.Thread(target=write, daemon=True).start()
        seen = []
        signal.setitimer(signal.ITIMER_REAL, 0.5)
        start = time.monotonic()
        try:
            for game in MoveGenerator().read_pgn(sys.argv[2]):
                seen.append(game.moves)
        except Alarm:
            print("alarm", len(seen), round(time.monotonic() - start) < 5)
        os._exit(0)
    """, fifo, GAME)
    assert out.split() == ["alarm", "2", "True"] or out.split() == ["alarm", "3", "True"]


def test_a_path_that_fails_to_read_raises_the_systems_error(tmp_path):
    """A directory opens on some systems and fails on read; here it fails at
    the open, as Python's open does, and nothing is read."""
    with pytest.raises(IsADirectoryError):
        list(gen.read_pgn(str(tmp_path)))
    with pytest.raises(FileNotFoundError):
        list(gen.read_pgn(str(tmp_path / "missing.pgn")))
