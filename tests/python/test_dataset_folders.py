"""The dataset tool's folder and file names as an adversary picks them: links
inside the output folder that point outside it, names with spaces, non-ASCII
or undecodable bytes or a leading dash, and a Dask worker killed mid-run."""
import contextlib
import glob
import os
import signal
import subprocess
import sys
import time

import pytest

from chess_util import DATA, TOOLS
from conftest import MODULE_DIR, UNDER_ASAN, optional_dask, optional_import

np = optional_import("numpy")
pytestmark = pytest.mark.skipif(np is None, reason="numpy cannot be imported by this interpreter")
from vemla_chess_data.pool import InlinePool  # noqa: E402
from vemla_chess_data import shards, tool  # noqa: E402

SELFPLAY = ["--games", "4", "--games-per-shard", "2", "--seed", "1", "--jobs", "1"]
PGN = DATA / "pgn" / "corpus.pgn"


def files_under(directory):
    """{relative path: bytes} of every file below directory, the lock left out."""
    found = {}
    for root, _, names in os.walk(directory):
        for name in names:
            if name != ".lock":
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, directory)] = f.read()
    return found


def dataset(out_dir, capsys, *args, source="selfplay"):
    """(exit status, stdout, stderr) of the tool run in this process."""
    code = tool.main([source, str(out_dir), *map(str, args)], prog="vemla-dataset")
    out, err = capsys.readouterr()
    return code, out, err


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    out = tmp_path_factory.mktemp("reference")
    assert tool.main(["selfplay", str(out), *SELFPLAY]) == 0
    return files_under(out)


@pytest.fixture
def outside(tmp_path):
    """A file and a folder beside the dataset folder that no run may change."""
    folder = tmp_path / "elsewhere"
    folder.mkdir()
    (folder / "notes.txt").write_text("keep me\n")
    return folder / "notes.txt", folder


# Each case plants a link in the output folder before the run; the target is
# the outside file or folder.
LINKS = {
    ".lock": "file",            # was opened, truncated and written through
    "index.json": "file",
    "unique.npy": "file",
    "shard-00000": "folder",
    "shard-00001/positions.npy": "file",
}


@pytest.mark.parametrize("name", LINKS)
def test_a_link_inside_the_folder_is_refused_and_nothing_outside_changes(tmp_path, outside, capsys, name):
    out = tmp_path / "out"
    (out / "shard-00001").mkdir(parents=True)
    os.symlink(outside[0] if LINKS[name] == "file" else outside[1], out / name)
    before = files_under(outside[1])
    code, _, err = dataset(out, capsys, *SELFPLAY)
    assert code == 2 and err.count("\n") == 1, err
    assert f"vemla-dataset: {out / name} is a symbolic link; the dataset tool writes only inside {out}" in err
    assert files_under(outside[1]) == before
    assert os.path.islink(out / name)


def test_links_left_where_temporary_files_go_are_removed_not_followed(tmp_path, outside, capsys, reference):
    out = tmp_path / "out"
    out.mkdir()
    os.symlink(outside[1], out / ".tmp-shard-00000-1-dead")
    os.symlink(outside[0], out / "index.json.1.tmp")
    before = files_under(outside[1])
    code, _, err = dataset(out, capsys, *SELFPLAY)
    assert code == 0, err
    assert files_under(outside[1]) == before and files_under(out) == reference
    assert not os.path.lexists(out / ".tmp-shard-00000-1-dead") and not os.path.lexists(out / "index.json.1.tmp")


def test_an_index_that_is_a_fifo_is_refused_instead_of_read_forever(tmp_path, capsys):
    out = tmp_path / "out"
    out.mkdir()
    os.mkfifo(out / "index.json")
    code, _, err = dataset(out, capsys, *SELFPLAY)
    assert code == 2 and f"{out / 'index.json'} is not a regular file" in err


def test_an_output_folder_that_is_itself_a_link_is_followed(tmp_path, capsys, reference):
    real = tmp_path / "real"
    real.mkdir()
    os.symlink(real, tmp_path / "named")
    code, _, err = dataset(tmp_path / "named", capsys, *SELFPLAY)
    assert code == 0, err
    assert os.path.islink(tmp_path / "named") and files_under(real) == reference


def test_what_a_dead_worker_was_writing_is_gone_after_a_run_that_succeeds(tmp_path, reference):
    # A worker killed mid-shard leaves its temporary folder; its task runs
    # again elsewhere and the run succeeds, and must not leave that folder.
    out = tmp_path / "out"

    class DyingWorkerPool(InlinePool):
        def run(self, function, tasks):
            (out / ".tmp-shard-00000-99999-0badf00d").mkdir()
            (out / ".tmp-shard-00000-99999-0badf00d" / "positions.npy").write_bytes(b"half")
            yield from super().run(function, tasks)

    settings = dict(seed=1, games_per_shard=2, max_plies=400)
    tool.build(str(out), "selfplay", settings, [{"path": "selfplay"}],
               tool.selfplay_plan_of(str(out), settings, 4, print), lambda: contextlib.nullcontext(DyingWorkerPool()),
               print)
    assert files_under(out) == reference and not glob.glob(str(out / ".tmp-*"))


def copy_of_corpus(path, games=40):
    """The first games of the corpus, as a file at path."""
    text = PGN.read_bytes()
    cut = 0
    for _ in range(games):
        cut = text.index(b"\n\n[", cut + 1)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(text[:cut + 1])
    return path


@pytest.mark.parametrize("name", ["two words.pgn", "партия ♞ 1.pgn", "-starts-with-a-dash.pgn", "[x]*?.pgn"])
def test_input_names_are_taken_as_they_are(tmp_path, capsys, monkeypatch, name):
    plain = copy_of_corpus(tmp_path / "plain" / "games.pgn")
    assert dataset(tmp_path / "expected", capsys, plain, "--jobs", "1", source="pgn")[0] == 0
    copy_of_corpus(tmp_path / "in" / name)
    monkeypatch.chdir(tmp_path / "in")
    # A name that starts with a dash is written after `--`, as for any command.
    code, out, err = dataset(tmp_path / "out", capsys, "--jobs", "1", "--", name, source="pgn")
    assert code == 0, err
    index = shards.read_index(str(tmp_path / "out"))
    assert [source["path"] for source in index["sources"]] == [str(tmp_path / "in" / name)]
    expected = files_under(tmp_path / "expected")
    assert {k: v for k, v in files_under(tmp_path / "out").items() if k != "index.json"} == \
           {k: v for k, v in expected.items() if k != "index.json"}


def environment(**extra):
    path = os.pathsep.join(p for p in (MODULE_DIR, os.environ.get("PYTHONPATH")) if p)
    return dict(os.environ, PYTHONPATH=path, **extra)


def test_names_that_are_not_utf8_are_printed_escaped_on_a_strict_terminal(tmp_path):
    # Under a UTF-8 locale such as en_US.UTF-8 standard output refuses the
    # undecodable byte; the run must not fail at its last line for it.
    source = copy_of_corpus(tmp_path / os.fsdecode(b"caf\xe9.pgn"))
    out = tmp_path / os.fsdecode(b"out-\xe9")
    done = subprocess.run([sys.executable, str(TOOLS / "dataset.py"), "pgn", str(out), str(source), "--jobs", "1"],
                          env=environment(PYTHONIOENCODING="utf-8:strict"), capture_output=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert b"Traceback" not in done.stderr and b"out-\\udce9 (" in done.stdout
    assert shards.read_index(str(out))["sources"][0]["path"] == str(source)


distributed = optional_dask() if not UNDER_ASAN else None


def descendants(pid):
    found = []
    for listing in glob.glob(f"/proc/{pid}/task/*/children"):
        try:
            with open(listing) as f:
                children = [int(word) for word in f.read().split()]
        except FileNotFoundError:
            continue
        for child in children:
            found += [child, *descendants(child)]
    return found


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except FileNotFoundError:
        return ""


@pytest.mark.skipif(distributed is None, reason="Dask is not available here")
def test_a_dask_worker_killed_mid_run_loses_and_leaves_nothing(tmp_path):
    settings = ["--games", "120", "--games-per-shard", "4", "--seed", "3"]
    expected = tmp_path / "expected"
    assert tool.main(["selfplay", str(expected), *settings, "--jobs", "1"]) == 0
    out = tmp_path / "out"
    run = subprocess.Popen([sys.executable, str(TOOLS / "dataset.py"), "selfplay", str(out), *settings,
                            "--scheduler", "local", "--jobs", "2"], env=environment(),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 240
    while run.poll() is None and time.monotonic() < deadline and \
            not (out.is_dir() and sum(name.startswith("shard-") for name in os.listdir(out)) >= 3):
        time.sleep(0.05)
    workers = [pid for pid in descendants(run.pid) if "spawn_main" in command_line(pid)]
    assert run.poll() is None and workers, run.communicate()
    os.kill(workers[0], signal.SIGKILL)
    printed, err = run.communicate(timeout=600)
    # Dask logs the lost connection in its own words; the run goes on.
    assert run.returncode == 0, err
    assert printed.startswith("30 shards written, 0 already there; the dataset holds 120 games"), printed
    assert files_under(out) == files_under(expected)
