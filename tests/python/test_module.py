"""The module object, the two type objects and the PanicException type."""
import copy
import importlib.util
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
import vemla_chess
from vemla_chess import Board, MoveGenerator

from chess_util import PANIC, START

BOARD_METHODS = ["bitboard_from_fen", "fen", "push", "pop", "bitboard", "turn", "reflect", "copy",
                 "bitboard_bytes", "bitboard_bytes_from_fen", "bitboard_into", "repetitions", "ply",
                 "from_full_fen", "full_fen", "halfmove_clock", "fullmove_number"]


def test_module_attributes():
    assert vemla_chess.__all__ == ["Board", "MoveGenerator"]
    assert vemla_chess.__doc__ == ""
    public = {name for name in vars(vemla_chess) if not name.startswith("__")}
    assert public == {"Board", "MoveGenerator", "PanicException", "PolyglotBook"}


def test_version_is_the_one_in_pyproject():
    text = (Path(__file__).resolve().parents[2] / "pyproject.toml").read_text()
    assert f'\nversion = "{vemla_chess.__version__}"\n' in text


@pytest.mark.parametrize("cls", [Board, MoveGenerator])
def test_type_object(cls):
    name = cls.__name__
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert getattr(vemla_chess, name) is cls
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    obj = cls()
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    # Identity comparison and hashing come from object.
    assert obj == obj and obj != cls() and hash(obj) == hash(obj)
    # Nothing can rebuild the native record: copying through pickling must fail,
    # not hand back a default object.
    with pytest.raises(TypeError):
        copy.copy(obj)


@pytest.mark.parametrize(
    "obj, signature",
    [
        (Board, '(fen="rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -")'),
        (MoveGenerator, "()"),
        (Board.bitboard_from_fen, "(fen)"),
        (Board.fen, "($self)"),
        (Board.push, "($self, chess_move)"),
        (Board.pop, "($self)"),
        (Board.bitboard, "($self)"),
        (Board.turn, "($self)"),
        (Board.reflect, "($self)"),
        (Board.copy, "($self)"),
        (Board.repetitions, "($self)"),
        (Board.ply, "($self)"),
        (MoveGenerator.is_check, "($self, board)"),
        (MoveGenerator.outcome, "($self, board, claim_draw=False)"),
    ],
)
def test_text_signature(obj, signature):
    assert obj.__text_signature__ == signature


def test_method_table_order():
    assert [name for name in vars(Board) if name in BOARD_METHODS] == BOARD_METHODS
    assert isinstance(vars(Board)["bitboard_from_fen"], staticmethod)


def test_panic_exception_type():
    assert issubclass(PANIC, BaseException) and not issubclass(PANIC, Exception)
    assert f"{PANIC.__module__}.{PANIC.__qualname__}" == "vemla_chess.PanicException"
    assert vemla_chess.PanicException is PANIC
    assert "PanicException" not in vemla_chess.__all__
    assert PANIC.__doc__
    # The same type object serves every failure.
    with pytest.raises(BaseException) as info:
        Board().pop()
    assert type(info.value) is PANIC
    assert info.value.args == ("no move to take back",)


def test_panic_passes_through_except_exception():
    caught = None
    try:
        try:
            Board("")
        except Exception:  # must not catch it
            caught = "Exception"
    except BaseException as e:  # noqa: B036
        caught = e
    assert isinstance(caught, PANIC)
    assert caught.args == ("FEN has no piece placement field",)
    # Caught by name, without catching KeyboardInterrupt and the like.
    try:
        Board().pop()
    except vemla_chess.PanicException as e:
        caught = e
    assert caught.args == ("no move to take back",)


def run_script(script, *args):
    """Runs script in a fresh interpreter, with the directory of the module
    under test as its first argument; returns its output lines."""
    out = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script), os.path.dirname(vemla_chess.__file__), *args],
        capture_output=True, text=True, timeout=60,
    )
    assert out.returncode == 0, out.stderr
    return out.stdout.splitlines()


def test_second_initialisation_shares_the_types():
    # Both ways of initialising the module again: dropping it from
    # sys.modules and importing, and building a module through importlib from the file again.
    lines = run_script(
        """
        import importlib.util, sys
        sys.path.insert(0, sys.argv[1])
        import vemla_chess as first
        del sys.modules["vemla_chess"]
        import vemla_chess as second
        found = importlib.util.spec_from_file_location("vemla_chess", first.__file__)
        third = importlib.util.module_from_spec(found)
        found.loader.exec_module(third)
        for m in (second, third):
            print(m is not first, m.Board is first.Board, m.MoveGenerator is first.MoveGenerator,
                  m.PanicException is first.PanicException, m.__all__)
        # Objects of either module work with the other's.
        print(len(first.MoveGenerator()(third.Board())), second.Board().fen())
        """
    )
    assert lines == ["True True True True ['Board', 'MoveGenerator']"] * 2 + [f"20 {START}"]


# Runs in the subinterpreter: argv[1] is the module's directory, argv[2] the
# file that receives the outcome of the import.
SUBINTERPRETER_IMPORT = """
import sys
sys.path.insert(0, {path!r})
try:
    import vemla_chess
except ImportError:
    result = "ImportError"
else:
    result = "imported"
with open({report!r}, "w") as f:
    f.write(result)
"""


def test_refused_subinterpreter_import_leaves_nothing_behind(tmp_path):
    # The import is refused in the subinterpreter; afterwards the main
    # interpreter imports the module as if nothing had happened.
    for name in ("_interpreters", "_xxsubinterpreters"):
        if importlib.util.find_spec(name):
            break
    else:
        pytest.skip("this interpreter offers no subinterpreters")
    report = tmp_path / "report"
    lines = run_script(
        """
        import sys
        sys.path.insert(0, sys.argv[1])
        interpreters = __import__(sys.argv[2])
        interp = interpreters.create()
        interpreters.run_string(interp, sys.argv[3])
        interpreters.destroy(interp)
        import vemla_chess
        board = vemla_chess.Board()
        print(len(vemla_chess.MoveGenerator()(board)), type(board).__module__)
        """,
        name,
        SUBINTERPRETER_IMPORT.format(path=os.path.dirname(vemla_chess.__file__), report=str(report)),
    )
    assert report.read_text() == "ImportError"
    assert lines == ["20 builtins"]


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer reserves the address space this test caps")
def test_native_memory_exhaustion_is_memory_error():
    # With the address space capped just above what the interpreter already
    # uses, the generator's 4 MiB of tables cannot be allocated: the call
    # fails with MemoryError and the interpreter goes on.
    script = textwrap.dedent(
        """
        import resource, sys
        sys.path.insert(0, sys.argv[1])
        import vemla_chess
        board = vemla_chess.Board()
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (2 << 20), resource.RLIM_INFINITY))
        try:
            vemla_chess.MoveGenerator()
        except MemoryError:
            print("MemoryError")
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        print(len(vemla_chess.MoveGenerator()(board)))
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", script, os.path.dirname(vemla_chess.__file__)],
        capture_output=True, text=True, timeout=60,
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["MemoryError", "20"]


def test_stubs_describe_every_public_call():
    # What an IDE shows: every method of both classes is in the stubs, with a
    # docstring, and the fixed answers are typed as literals.
    import ast

    stub = ast.parse((Path(__file__).resolve().parents[2] / "python" / "vemla_chess-stubs" / "__init__.pyi")
                     .read_text())
    classes = {node.name: node for node in stub.body if isinstance(node, ast.ClassDef)}
    for cls in (Board, MoveGenerator):
        methods = {node.name: node for node in classes[cls.__name__].body if isinstance(node, ast.FunctionDef)}
        public = {name for name in vars(cls) if not name.startswith("__")} | {"__new__"}
        if cls is MoveGenerator:
            public.add("__call__")
        assert public <= set(methods), f"{cls.__name__}: not in the stubs: {public - set(methods)}"
        for name, node in methods.items():
            assert ast.get_docstring(node), f"{cls.__name__}.{name} has no docstring in the stubs"
    aliases = {node.targets[0].id: ast.unparse(node.value) for node in stub.body
               if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name)}
    assert aliases["_Side"] == "Literal['white', 'black']"
    turn = next(node for node in classes["Board"].body if getattr(node, "name", "") == "turn")
    assert ast.unparse(turn.returns) == "_Side"
    board, generator = Board(), MoveGenerator()
    assert f"'{generator.outcome(Board('k7/8/8/8/8/8/8/K7 w - -'))}'" in aliases["_Outcome"]
    assert f"'{board.turn()}'" in aliases["_Side"]
