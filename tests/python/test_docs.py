"""The documentation site (docs/) against the code it describes.

Every public name of the module (its stubs and the compiled module itself) and
of vemla_chess_data has an entry in the API reference, and every entry names
something that exists. The examples of every page run, in page order, in a
folder holding a small PGN file: `pycon` blocks as doctests (their printed
results must match), `python` blocks as code, and `console` blocks whose
commands are `vemla-dataset` as that command. A line
`% doc-test: skip REASON` or `% doc-test: needs PATH` just before a block keeps
it from running (always, or where PATH is missing).
"""
import ast
import doctest
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

import vemla_chess
from conftest import MODULE_DIR, PACKAGE_DIR, REPO, optional_import

DOCS = REPO / "docs"
STUBS = REPO / "python" / "vemla_chess-stubs" / "__init__.pyi"
PAGES = sorted(DOCS.rglob("*.md")) + [REPO / "README.md"]
CORPUS = REPO / "tests" / "data" / "pgn" / "corpus.pgn"

DIRECTIVE = re.compile(r"^(`{3,}|~{3,})\{py:(\w+)\}\s*(.*)$")
FENCE = re.compile(r"^(`{3,}|~{3,})\s*([\w-]*)\s*$")
MARK = re.compile(r"^%\s*doc-test:\s*(skip|needs)\s+(.+?)\s*$")
# The private stub classes that stand for types without a module attribute
# say which type they are: "(type name PgnGame)".
TYPE_NAME = re.compile(r"\(type name (\w+)\)")


def documented_entries():
    """{full name: the text after the name} of every py: directive in docs/
    ({py:module} sets the module the names after it belong to)."""
    entries = {}
    for page in DOCS.rglob("*.md"):
        module = None
        for line in page.read_text().splitlines():
            match = DIRECTIVE.match(line)
            if not match:
                continue
            kind, argument = match.group(2), match.group(3).strip()
            target = re.split(r"[(\s]", argument, maxsplit=1)[0]
            if kind in ("module", "currentmodule"):
                module = target
                entries[target] = ""
            else:
                assert module, f"{page.name}: {line!r} comes before any py:module"
                entries[f"{module}.{target}"] = argument[len(target):]
    return entries


def documented_names():
    return set(documented_entries())


def stub_names():
    """Public names the stubs declare: classes, their methods and properties,
    module attributes. The constructor is the class; __call__ is public."""
    tree = ast.parse(STUBS.read_text())
    names = set()
    for node in tree.body:
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            if not node.target.id.startswith("_") or node.target.id == "__version__":
                names.add(node.target.id)
        if not isinstance(node, ast.ClassDef):
            continue
        public = node.name
        if node.name.startswith("_"):
            found = TYPE_NAME.search(ast.get_docstring(node) or "")
            if not found:
                continue
            public = found.group(1)
        names.add(public)
        for item in node.body:
            if isinstance(item, ast.FunctionDef) and (not item.name.startswith("_") or
                                                      item.name in ("__call__", "_repr_svg_")):
                names.add(f"{public}.{item.name}")
    return {f"vemla_chess.{name}" for name in names}


def runtime_names():
    """Public names the compiled module has, and those of the types it returns."""
    generator = vemla_chess.MoveGenerator()
    reader = generator.read_pgn("1. e4 *\n")
    game = next(iter(generator.read_pgn("1. e4 *\n")))
    names = {"vemla_chess.__version__"}
    owners = {name: getattr(vemla_chess, name) for name in dir(vemla_chess) if not name.startswith("_")}
    owners.update(PgnReader=type(reader), PgnGame=type(game))
    epd = generator.read_epd("8/8/8/4k3/8/8/8/4K3 w - - bm Kd2;\n")
    owners.update(EpdReader=type(epd), EpdRecord=type(next(iter(epd))))
    for name, owner in owners.items():
        names.add(f"vemla_chess.{name}")
        if isinstance(owner, type) and not issubclass(owner, BaseException):
            names.update(f"vemla_chess.{name}.{member}" for member in vars(owner)
                         if not member.startswith("_") or member in ("__call__", "_repr_svg_"))
    return names


def data_names():
    """Public names of vemla_chess_data: __all__, and the members of its
    classes, instance attributes set in __init__ included."""
    package = REPO / "python" / "vemla_chess_data"
    tree = ast.parse((package / "__init__.py").read_text())
    exported = next(ast.literal_eval(node.value) for node in tree.body if isinstance(node, ast.Assign)
                    and any(getattr(t, "id", None) == "__all__" for t in node.targets))
    names = {f"vemla_chess_data.{name}" for name in exported}
    for node in tree.body:
        if not (isinstance(node, ast.ClassDef) and node.name in exported):
            continue
        for item in node.body:
            if isinstance(item, ast.FunctionDef) and not item.name.startswith("_"):
                names.add(f"vemla_chess_data.{node.name}.{item.name}")
            if isinstance(item, ast.FunctionDef) and item.name == "__init__":
                for sub in ast.walk(item):
                    if (isinstance(sub, ast.Attribute) and isinstance(sub.ctx, ast.Store)
                            and getattr(sub.value, "id", None) == "self" and not sub.attr.startswith("_")):
                        names.add(f"vemla_chess_data.{node.name}.{sub.attr}")
    return names


def test_every_public_name_has_an_entry_in_the_reference():
    documented = documented_names()
    public = stub_names() | runtime_names() | data_names()
    # The enumerations themselves must see the classes and their methods.
    assert {"vemla_chess.Board.push", "vemla_chess.MoveGenerator.__call__", "vemla_chess.PgnGame.board",
            "vemla_chess.PolyglotBook.moves", "vemla_chess_data.Dataset.batches"} <= public
    assert sorted(public - documented) == []


def test_every_entry_of_the_reference_names_something_that_exists():
    import importlib

    public = stub_names() | runtime_names() | data_names()
    stray = []
    for name in sorted(documented_names()):
        if name.startswith("vemla_chess.") or name == "vemla_chess":
            if name != "vemla_chess" and name not in public:
                stray.append(name)
            continue
        # vemla_chess_data and its modules: the object must be reachable.
        parts = name.split(".")
        for cut in range(len(parts), 0, -1):
            try:
                target = importlib.import_module(".".join(parts[:cut]))
            except ImportError:
                continue
            try:
                for attribute in parts[cut:]:
                    target = getattr(target, attribute)
            except AttributeError:
                if name not in public:
                    stray.append(name)
            break
        else:
            stray.append(name)
    assert stray == []


def blocks(page):
    """The page's fenced blocks as (line, language, text, mark) in order."""
    lines = page.read_text().splitlines()
    found, i = [], 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if match:
            fence, language, start = match.group(1), match.group(2), i
            i += 1
            while i < len(lines) and lines[i].strip() != fence:
                i += 1
            previous = next((lines[j] for j in range(start - 1, -1, -1) if lines[j].strip()), "")
            mark = MARK.match(previous)
            found.append((start + 1, language, "\n".join(lines[start + 1:i]) + "\n",
                          mark.groups() if mark else None))
        i += 1
    return found


def page_id(page):
    return str(page.relative_to(REPO))


@pytest.fixture
def example_folder(tmp_path, monkeypatch):
    """A working folder with games.pgn: the first 200 games of the test corpus."""
    text = CORPUS.read_text()
    starts = [m.start() for m in re.finditer(r"^\[Event ", text, re.M)]
    (tmp_path / "games.pgn").write_text(text[:starts[200]])
    monkeypatch.chdir(tmp_path)
    return tmp_path


def run_console(text, where):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([MODULE_DIR, PACKAGE_DIR, os.environ.get("PYTHONPATH", "")]))
    for line in text.splitlines():
        if not line.startswith("$ "):
            continue
        command = shlex.split(line[2:], comments=True)
        assert command[0] == "vemla-dataset", f"{where}: only vemla-dataset commands run here: {line}"
        done = subprocess.run([sys.executable, "-m", "vemla_chess_data.tool", *command[1:]], env=env,
                              capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, f"{where}: {line}\n{done.stdout}{done.stderr}"


def examples(page):
    return [b for b in blocks(page) if b[1] in ("python", "pycon", "console") and not (b[3] and b[3][0] == "skip")]


@pytest.mark.parametrize("page", [page for page in PAGES if examples(page)], ids=page_id)
def test_the_examples_of_a_page_run(page, example_folder):
    runnable = examples(page)
    if optional_import("numpy") is None and "numpy" in page.read_text():
        pytest.skip("numpy cannot be imported by this interpreter")
    namespace = {"__name__": "__docs__"}
    parser, ran = doctest.DocTestParser(), 0
    for line, language, text, mark in runnable:
        where = f"{page_id(page)}:{line}"
        if mark and not Path(mark[1]).exists():
            continue
        ran += 1
        if language == "python":
            exec(compile(text, where, "exec"), namespace)
        elif language == "console":
            run_console(text, where)
        else:
            test = parser.get_doctest(text, namespace, where, str(page), line)
            runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
            output = []
            runner.run(test, out=output.append, clear_globs=False)
            namespace.update(test.globs)  # DocTest works on a copy
            assert runner.failures == 0, "".join(output)
    if not ran:
        pytest.skip("every example of the page needs a file this machine lacks")


def parameters(arguments):
    """[(name, default)] of an ast.arguments, defaults as normalised source."""
    plain = arguments.posonlyargs + arguments.args
    defaults = [None] * (len(plain) - len(arguments.defaults)) + list(arguments.defaults)
    pairs = list(zip(plain, defaults)) + list(zip(arguments.kwonlyargs, arguments.kw_defaults))
    return [(arg.arg, None if default is None else ast.unparse(default)) for arg, default in pairs
            if arg.arg not in ("self", "cls")]


def documented_parameters(text):
    """The parameters of a documented signature such as '(board, scheme="lc0") -> int'."""
    depth = 0
    for end, char in enumerate(text):
        depth += {"(": 1, ")": -1}.get(char, 0)
        if depth == 0:
            break
    return parameters(ast.parse(f"def f{text[:end + 1]}: pass").body[0].args)


def stub_functions():
    """{full name: the stub's FunctionDef}; a class stands for its __new__."""
    functions = {}
    for node in ast.parse(STUBS.read_text()).body:
        if not isinstance(node, ast.ClassDef):
            continue
        found = TYPE_NAME.search(ast.get_docstring(node) or "")
        public = found.group(1) if node.name.startswith("_") and found else node.name
        for item in node.body:
            if isinstance(item, ast.FunctionDef):
                name = public if item.name == "__new__" else f"{public}.{item.name}"
                functions[f"vemla_chess.{name}"] = item
    return functions


def test_documented_signatures_are_those_of_the_code():
    import importlib
    import inspect

    stubs = stub_functions()
    checked, wrong = 0, []
    for name, text in sorted(documented_entries().items()):
        if not text.startswith("("):
            continue
        if name.startswith("vemla_chess."):
            want = parameters(stubs[name].args)
        else:
            module, _, attribute = name.rpartition(".")
            owner = None
            while owner is None:
                try:
                    owner = importlib.import_module(module)
                except ImportError:
                    module, _, outer = module.rpartition(".")
                    attribute = f"{outer}.{attribute}"
            for part in attribute.split("."):
                owner = getattr(owner, part)
            want = [(p.name, None if p.default is p.empty else ast.unparse(ast.parse(repr(p.default), mode="eval")))
                    for p in inspect.signature(owner).parameters.values() if p.name != "self"]
        checked += 1
        if documented_parameters(text) != want:
            wrong.append((name, documented_parameters(text), want))
    assert checked > 50
    assert wrong == []
