"""Helpers shared by the test files (imported after conftest set sys.path)."""
import signal
from pathlib import Path

import vemla_chess
from vemla_chess_data.perft import perft  # noqa: F401  the tools' own perft, shared by the tests

TOOLS = Path(__file__).resolve().parents[2] / "tools"

DATA = Path(__file__).resolve().parents[1] / "data"
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
EMPTY = "8/8/8/8/8/8/8/8"


def panic_type():
    """The type a failing call raises (the module's PanicException)."""
    try:
        vemla_chess.Board("")
    except BaseException as e:  # noqa: B036 - the type derives from BaseException
        return type(e)
    raise AssertionError("Board('') did not fail")


PANIC = panic_type()

# The signals a test sends to a tool, and the ones a launcher may have told
# this process to ignore or hold back.
STOP_SIGNALS = (signal.SIGINT, signal.SIGHUP, signal.SIGTERM, signal.SIGQUIT)


def signals_at_default():
    """preexec_fn for a tool that a test will signal: the tool starts with the
    stop signals at their default action and no signal blocked, as a program
    started from a terminal does.

    Ignored and blocked signals are inherited through fork and exec. A shell
    that runs a command in the background without job control ignores SIGINT
    for it, nohup ignores SIGHUP, and Python installs its Ctrl-C handler only
    where SIGINT is not ignored: without this a tool would shrug off the
    signal because of how the test run was started, not because of its code."""
    for number in STOP_SIGNALS:
        signal.signal(number, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_SETMASK, ())


def words(board_or_planes):
    """The twelve piece bitboards as integers (bit k = square k)."""
    planes = board_or_planes.bitboard() if isinstance(board_or_planes, vemla_chess.Board) else board_or_planes
    return [sum(1 << k for k, on in enumerate(plane) if on) for plane in planes]


def pops_available(board):
    """How many moves the board can take back, measured on a copy."""
    probe, n = board.copy(), 0
    while True:
        try:
            probe.pop()
        except PANIC:
            return n
        n += 1


def snapshot(board):
    return board.fen(), board.bitboard(), pops_available(board)


def epd_fens():
    """The positions of every tests/data/*.epd file (the text before the first ';')."""
    fens = []
    for path in sorted(DATA.glob("*.epd")):
        for line in path.read_text().splitlines():
            line = line.split(";")[0].strip()
            if line and not line.startswith("#"):
                fens.append(line)
    return fens


def canonical_fen(fen):
    """The four-field text the module writes for a well-formed FEN."""
    placement, side, castling, ep = fen.split()[:4]
    rights = "".join(c for c in "KQkq" if c in castling.split("-")[0]) or "-"
    ep = "-" if ep == "-" else ep[0] + ("6" if side == "w" else "3")
    return " ".join([placement, side, rights, ep])


def placement_words(placement):
    """Independent reading of a well-formed eight-rank placement."""
    out = [0] * 12
    for rank_index, rank in enumerate(reversed(placement.split("/"))):
        file = 0
        for c in rank:
            if c.isdigit():
                file += int(c)
            else:
                out["PNBRQKpnbrqk".index(c)] |= 1 << (8 * rank_index + file)
                file += 1
    return out
