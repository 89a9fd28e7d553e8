"""The UCI engine client against Stockfish and against a fake engine that
misbehaves in every way an engine can (fake_engine.py)."""
import gc
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

import vemla_chess
from conftest import MODULE_DIR, PACKAGE_DIR
from vemla_chess_data.engine import Engine, EngineError, Score

STOCKFISH = "/usr/games/stockfish"
FAKE = str(Path(__file__).resolve().parent / "fake_engine.py")
needs_stockfish = pytest.mark.skipif(not os.access(STOCKFISH, os.X_OK), reason="Stockfish is not installed")
QUICK = {"Threads": 1, "Hash": 16}


def fake(mode="good", **kwargs):
    # Generous: a busy machine may take seconds to start Python.
    kwargs.setdefault("timeout", 60)
    return Engine([sys.executable, FAKE, mode], **kwargs)


def gone(pid, wait=20.0):
    """Whether process `pid` has ended (a zombie nobody reaps counts as ended),
    waiting up to `wait` seconds for it."""
    end = time.monotonic() + wait
    while True:
        try:
            with open(f"/proc/{pid}/stat") as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except FileNotFoundError:
            return True
        if state in ("Z", "X") or time.monotonic() > end:
            return state in ("Z", "X")
        time.sleep(0.05)


def reaped(pid):
    """Whether `pid`, a child of this process, is gone and reaped (no zombie)."""
    return not os.path.exists(f"/proc/{pid}")


@pytest.fixture(scope="module")
def stockfish():
    if not os.access(STOCKFISH, os.X_OK):
        pytest.skip("Stockfish is not installed")
    with Engine(STOCKFISH, QUICK, timeout=60) as engine:
        yield engine


# Stockfish: what the analysis says, and from whose side.

@needs_stockfish
def test_analysis_of_a_position_from_both_sides(stockfish):
    # Black to move, a rook up: good for the mover, bad for White.
    board = vemla_chess.Board.from_full_fen("4k3/8/8/8/8/8/r7/4K3 b - - 3 40")
    info = stockfish.analyse(board, nodes=1000)
    assert info.score.cp > 200 and info.score.mate is None
    assert info.white_score == info.score.flipped() and info.white_score.cp == -info.score.cp
    assert sum(info.wdl) == 1000 and info.white_wdl == info.wdl[::-1] and info.wdl[0] > info.wdl[2]
    assert info.fen == "4k3/8/8/8/8/8/r7/4K3 b - - 3 40"
    assert info.pv and info.move == info.pv[0] and info.bound == "exact" and info.multipv == 1
    replay = board.copy()
    for move in info.pv:
        vemla_chess.MoveGenerator().push_legal(replay, move)
    assert info.depth >= 1 and info.seldepth >= 1 and info.nodes >= 1000 and info.time >= 0
    assert stockfish.play(board, nodes=1000) in vemla_chess.MoveGenerator()(board)


@needs_stockfish
def test_mates_and_positions_without_moves(stockfish):
    # Black mates in one (Ra1#): +1 for the mover, -1 for White.
    board = vemla_chess.Board.from_full_fen("6k1/8/8/8/8/8/r4PPP/6K1 b - - 0 1")
    info = stockfish.analyse(board, depth=6)
    assert info.score == Score(mate=1) and info.score.value == 99999 and info.pv[0] == "a2a1"
    assert info.white_score.mate == -1 and info.white_score.value == -99999
    # Checkmated and stalemated on the board: no line, mate 0 / cp 0, and nothing to play.
    mated = vemla_chess.Board.from_full_fen("R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1")
    info = stockfish.analyse(mated, depth=3)
    assert (info.score.mate, info.pv, info.move) == (0, [], None)
    assert info.score.value == -100000 and info.white_score.value == 100000
    stalemate = vemla_chess.Board.from_full_fen("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1")
    assert stockfish.analyse(stalemate, depth=3).score == Score(cp=0)
    with pytest.raises(ValueError, match="no legal moves"):
        stockfish.play(mated, depth=3)


@needs_stockfish
def test_multipv_lines_and_the_moves_after_a_position(stockfish):
    lines = stockfish.analyse(vemla_chess.Board(), nodes=3000, multipv=3)
    assert [line.multipv for line in lines] == [1, 2, 3]
    assert len({line.move for line in lines}) == 3
    assert [line.score.value for line in lines] == sorted((line.score.value for line in lines), reverse=True)
    # Back to one line: a single analysis again.
    assert stockfish.analyse(vemla_chess.Board(), nodes=1000).multipv == 1
    info = stockfish.analyse(vemla_chess.Board(), nodes=1000, moves=["e2e4", "e7e5", "g1f3"])
    assert info.fen == "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2"
    # The caller's illegal move is the caller's error; the engine stays usable.
    with pytest.raises(ValueError, match="not legal"):
        stockfish.analyse(vemla_chess.Board(), nodes=1000, moves=["e2e5"])
    with pytest.raises(ValueError, match="multipv"):
        stockfish.analyse(vemla_chess.Board(), nodes=1000, multipv=0)
    with pytest.raises(ValueError, match="limit"):
        stockfish.analyse(vemla_chess.Board())
    for limits in ({"nodes": 0}, {"depth": 2.0}, {"movetime": -1}, {"nodes": True}):
        with pytest.raises(ValueError):
            stockfish.analyse(vemla_chess.Board(), **limits)
    assert stockfish.play(vemla_chess.Board(), movetime=0.05) in vemla_chess.MoveGenerator()(vemla_chess.Board())


@needs_stockfish
def test_a_node_limited_search_after_new_game_repeats_exactly(stockfish):
    boards = [vemla_chess.Board(), vemla_chess.Board.from_full_fen(
        "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4")]
    runs = []
    for _ in range(2):
        stockfish.new_game()
        runs.append([(i.score, i.pv, i.depth, i.wdl) for i in (stockfish.analyse(b, nodes=1500) for b in boards)])
    assert runs[0] == runs[1]


@needs_stockfish
def test_options_are_checked_against_the_engines_list(stockfish):
    hash_option = stockfish.options["Hash"]
    assert (hash_option.type, hash_option.min, hash_option.default) == ("spin", 1, 16)
    assert stockfish.options["Clear Hash"].type == "button" and stockfish.options["Ponder"].default is False
    cases = [({"Hash": 0}, "'Hash' takes 1 to"), ({"Nonsense": 1}, "no option 'Nonsense'"),
             ({"Ponder": "yes"}, "True or False"), ({"Threads": "many"}, "integer"),
             ({"MultiPV": 2}, "analyse"), ({"SyzygyPath": "a\nquit"}, "line break")]
    for options, message in cases:
        with pytest.raises(ValueError, match=message) as caught:
            stockfish.configure(options)
        assert "Stockfish" in str(caught.value)
    # Names in any case; check options also from text.
    stockfish.configure({"hash": 16, "UCI_AnalyseMode": "false", "clear hash": None})
    assert stockfish.analyse(vemla_chess.Board(), nodes=500).nodes >= 500


# Fake engines: each fault is an EngineError naming the engine and what it did.

FAULTS = [
    ("exit-on-go", "engine 'fake' .* exited with status 1 while analysing"),
    ("killed-on-go", "engine 'fake' .* was killed by SIGKILL while analysing"),
    ("hang-on-go", "engine 'fake' .* sent no bestmove within 1 s while analysing"),
    ("garbage", "engine 'fake' .* sent no bestmove within 1 s"),
    ("bad-info", "engine 'fake' .* sent a malformed info line: 'info depth two"),
    ("illegal-best", "engine 'fake' .* sent an illegal move e2e5 in rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR"),
    ("illegal-pv", "engine 'fake' .* sent an illegal move e2e4 in rnbqkbnr/pppppppp/8/8/4P3"),
    ("no-best", "engine 'fake' .* sent bestmove \\(none\\) in .* which has legal moves"),
    ("long-line", "engine 'fake' .* sent a line of more than"),
    ("close-output", "engine 'fake' .* closed its output while analysing"),
]


@pytest.mark.parametrize("mode, message", FAULTS)
def test_a_misbehaving_engine_is_stopped_and_named(mode, message):
    # Generous for starting (the machine may be busy); short for the searches that never end.
    engine = fake(mode, timeout=60)
    pid = engine.pid
    with pytest.raises(EngineError, match=message):
        engine.analyse(vemla_chess.Board(), nodes=100, timeout=1)
    assert engine.pid is None and reaped(pid)
    # The next call starts it again: it fails the same way, but it runs.
    with pytest.raises(EngineError, match=message):
        engine.analyse(vemla_chess.Board(), nodes=100, timeout=1)
    engine.close()
    assert isinstance(EngineError("x"), RuntimeError)


@pytest.mark.parametrize("mode, message", [
    ("silent", "engine 'python3[.0-9]*' \\(/.*fake_engine.py silent\\) sent no uciok within 1 s while starting"),
    ("exit-at-uci", "exited with status 3 while starting \\(stderr: fake: cannot start\\)"),
])
def test_an_engine_that_does_not_start(mode, message):
    with pytest.raises(EngineError, match=message):
        fake(mode, timeout=1 if mode == "silent" else 60)
    with pytest.raises(EngineError, match="could not be started"):
        Engine("/nonexistent/engine")


def test_a_refused_option_and_values_that_are_never_sent(tmp_path, monkeypatch):
    log = tmp_path / "log"
    monkeypatch.setenv("FAKE_LOG", str(log))
    with pytest.raises(EngineError, match="engine 'fake' .* refused option 'Hash': 'No such option: Hash'"):
        fake("refuse", options={"Hash": 32})
    with fake() as engine:
        assert engine.options["Style"].vars == ("Solid", "Risky", "Wild Card")
        assert engine.options["Book File"].default == "<empty>"
        before = log.read_text()
        for options in ({"Style": "Bold"}, {"Hash": 65}, {"Book File": "x\nquit"}, {"Clear Hash": 1},
                        {"Hash": 32, "Verbose": "maybe"}):
            with pytest.raises(ValueError, match="engine 'fake'"):
                engine.configure(options)
        assert log.read_text() == before
        engine.configure({"style": "wild card", "Hash": "32"})
        assert "setoption name Style value Wild Card\nsetoption name Hash value 32\n" in log.read_text()
        # What the engine gets for a search, after WDL was switched on at the start.
        # (The fake answers e2e4 whatever the position, here an illegal move.)
        with pytest.raises(EngineError, match="illegal move e2e4 in rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b"):
            engine.analyse(vemla_chess.Board(), depth=3, moves=["e2e4"])
        sent = log.read_text()
        assert "setoption name UCI_ShowWDL value true" in sent
        assert ("position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves e2e4\ngo depth 3\n"
                in sent)


def test_an_engine_comes_back_with_its_options_after_a_crash(tmp_path, monkeypatch):
    log = tmp_path / "log"
    monkeypatch.setenv("FAKE_LOG", str(log))
    monkeypatch.setenv("FAKE_STATE", str(tmp_path / "crashed"))
    with fake("exit-once", options={"Hash": 8}) as engine:
        first = engine.pid
        with pytest.raises(EngineError, match="exited with status 1"):
            engine.analyse(vemla_chess.Board(), nodes=100)
        info = engine.analyse(vemla_chess.Board(), nodes=100)
        assert (info.move, info.score, info.white_wdl) == ("e2e4", Score(cp=30), (100, 850, 50))
        assert engine.pid not in (None, first)
        assert log.read_text().count("setoption name Hash value 8") == 2
        engine.restart()
        assert engine.play(vemla_chess.Board(), nodes=10) == "e2e4"
        assert log.read_text().count("setoption name Hash value 8") == 3
        # Killed between calls: the next call does not notice, but for the options set again.
        pid = engine.pid
        os.kill(pid, signal.SIGKILL)
        assert gone(pid)
        assert engine.analyse(vemla_chess.Board(), nodes=10).move == "e2e4"
        assert log.read_text().count("setoption name Hash value 8") == 4
    with pytest.raises(EngineError, match="closed"):
        engine.analyse(vemla_chess.Board(), nodes=100)
    engine.close()


def test_a_search_cut_short_leaves_no_answer_for_the_next_call():
    class Interrupted(Exception):
        pass

    def interrupt(signum, frame):
        raise Interrupted

    with fake("slow") as engine:
        first = engine.pid
        previous = signal.signal(signal.SIGALRM, interrupt)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            with pytest.raises(Interrupted):
                engine.analyse(vemla_chess.Board(), nodes=100)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        # The answer to the search cut short is not taken for this one's.
        assert engine.analyse(vemla_chess.Board(), nodes=100).move == "e2e4"
        assert engine.pid != first and reaped(first)


# The process: quit on close and on garbage collection, never an orphan.

def test_close_and_garbage_collection_end_the_process():
    with fake() as engine:
        pid = engine.pid
    assert engine.pid is None and reaped(pid)
    engine = fake("hang-on-go")
    pid = engine.pid
    del engine
    gc.collect()
    assert reaped(pid)
    # One that ignores quit is killed after the grace period.
    engine = fake("deaf")
    pid = engine.pid
    engine.close()
    assert reaped(pid)


def test_an_engine_outlives_the_thread_that_started_it():
    started = []
    thread = threading.Thread(target=lambda: started.append(fake()))
    thread.start()
    thread.join()
    engine = started.pop()
    time.sleep(0.2)
    assert engine.play(vemla_chess.Board(), depth=1) == "e2e4"
    engine.close()


def test_the_engine_dies_with_a_killed_parent(tmp_path):
    script = textwrap.dedent(f"""
        import sys, time
        sys.path[:0] = [{MODULE_DIR!r}, {PACKAGE_DIR!r}]
        from vemla_chess_data.engine import Engine
        engine = Engine([sys.executable, {FAKE!r}], timeout=60)
        print(engine.pid, flush=True)
        time.sleep(600)
    """)
    parent = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    try:
        pid = int(parent.stdout.readline())
        assert not gone(pid, wait=0)
        parent.send_signal(signal.SIGKILL)
        parent.wait()
        assert gone(pid)
    finally:
        parent.kill()
        parent.wait()
        parent.stdout.close()


def test_a_forked_child_leaves_its_parents_engine_alone():
    # A worker forked while an Engine exists (a pool of processes) holds a
    # copy of it: using or dropping that copy must not touch the parent's engine.
    engine = fake()
    pid = engine.pid
    reader, writer = os.pipe()
    child = os.fork()
    if child == 0:
        code = 1
        try:
            os.close(reader)
            analysed = engine.analyse(vemla_chess.Board(), nodes=10).move == "e2e4"
            own = engine.pid
            engine.close()
            del engine
            gc.collect()
            os.write(writer, f"{int(analysed)} {own}".encode())
            code = 0
        finally:
            os._exit(code)
    os.close(writer)
    with os.fdopen(reader) as f:
        analysed, own = f.read().split()
    assert os.waitpid(child, 0)[1] == 0
    assert analysed == "1" and int(own) != pid
    assert engine.pid == pid and engine.analyse(vemla_chess.Board(), nodes=10).move == "e2e4"
    engine.close()
