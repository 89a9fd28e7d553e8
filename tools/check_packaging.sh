#!/usr/bin/env bash
# Checks the project as its users get it, outside the source tree:
#   Python: pip installs the repository into a fresh virtual environment of
#           Debian's Python (offline, --no-build-isolation); the installed
#           module plays a game, the vemla-perft command counts on worker
#           processes through the installed package's pool, mypy type-checks
#           an example against the installed stubs (and rejects a wrong one),
#           stubtest compares the stubs with the module, a source
#           distribution installs too, and pip uninstall leaves nothing
#           behind.
#   C++:    `cmake --install` of the core into a temporary prefix, then
#           examples/cpp is configured with find_package(vemla_chess), built
#           (with g++, and with clang++ when present) and run.
# Installs with apt whatever it needs and the machine lacks. Exits non-zero
# at the first failed check.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3
jobs=2

# What the build needs plus the wheel that goes into a fresh environment.
"$repo/tools/install_deps.sh" python3-wheel-whl

work="$(mktemp -d "${TMPDIR:-/tmp}/vemla-packaging.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/outside"
log="$work/log"

passed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() {
  echo "FAIL $1" >&2
  [[ -s "$log" ]] && tail -n 40 "$log" >&2
  echo "packaging: $passed passed, 1 failed"
  exit 1
}
# Runs a command with its output in $log; fails the check if it fails.
run() {
  local name="$1"
  shift
  "$@" >"$log" 2>&1 || fail "$name"
}

# ---------------------------------------------------------------- Python ----
venv="$work/venv"
run "create a virtual environment" "$python" -m venv "$venv"
# The venv has pip and setuptools; setuptools' backend also needs wheel, which
# Debian ships as a wheel file, so nothing comes from a package index.
run "install wheel into the venv" \
  "$venv/bin/pip" install --no-index --find-links /usr/share/python-wheels wheel
run "pip install the repository" \
  "$venv/bin/pip" install --no-index --no-build-isolation "$repo"
pass "pip install --no-build-isolation $repo"

site="$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')"
for f in vemla_chess-stubs/__init__.pyi vemla_chess-stubs/py.typed \
  vemla_chess_data/pool.py vemla_chess_data/perft.py vemla_chess_data/tool.py vemla_chess_data/labels.py; do
  [[ -f "$site/$f" ]] || fail "installed $f"
done
compgen -G "$site/vemla_chess.cpython-*.so" >/dev/null || fail "installed extension module"
grep -qx 'License: MIT' "$site"/vemla_chess-*.dist-info/METADATA || fail "licence in the package metadata"
for command in vemla-perft vemla-dataset; do
  [[ -x "$venv/bin/$command" ]] || fail "installed command $command"
done
pass "module, stubs, the vemla_chess_data package, its commands and the licence installed"

cd "$work/outside"
# -I: no PYTHONPATH, no user site, no script directory: only the venv counts.
run "a game with the installed module" "$venv/bin/python" -I -c '
import sys, vemla_chess
from vemla_chess import Board, MoveGenerator
assert vemla_chess.__file__.startswith(sys.prefix), vemla_chess.__file__
board, generator = Board(), MoveGenerator()
assert len(generator(board)) == 20
for move in ["e2e4", "e7e5", "g1f3", "b8c6", "f1b5"]:
    assert move in generator(board), move
    board.push(move)
assert board.fen() == "r1bqkbnr/pppp1ppp/2n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R b KQkq -", board.fen()
assert board.turn() == "black"
copy = board.copy()
for _ in range(5):
    board.pop()
assert board.fen() == Board().fen() and copy.fen() != board.fen()
assert Board.bitboard_from_fen(copy.fen()) == copy.bitboard()
'
pass "the installed module plays a game (run from $work/outside)"

# The installed command, with the environment's Python alone (no PYTHONPATH):
# two worker processes of the installed pool count the Kiwipete tree.
kiwipete="r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
run "vemla-perft" env -u PYTHONPATH "$venv/bin/vemla-perft" --jobs 2 "$kiwipete" 3
grep -qx "position: $kiwipete" "$log" && grep -qx "e1f1: 1855" "$log" && grep -qx "Nodes searched: 97862" "$log" \
  || fail "vemla-perft: the counts of Kiwipete at depth 3"
if env -u PYTHONPATH "$venv/bin/vemla-perft" --jobs 0 >"$log" 2>&1; then
  fail "vemla-perft accepted --jobs 0"
fi
grep -q "^usage: vemla-perft " "$log" || fail "vemla-perft names itself in its usage"
run "vemla-dataset --help" env -u PYTHONPATH "$venv/bin/vemla-dataset" --help
pass "vemla-perft counts on two workers of the installed pool, vemla-dataset starts"

cp "$repo/examples/play_game.py" "$repo/examples/watch_game.py" .
run "examples/play_game.py" "$venv/bin/python" -I play_game.py 20
pass "examples/play_game.py runs"

mypy_args=(--python-executable "$venv/bin/python" --cache-dir "$work/mypy-cache" --no-error-summary)
run "mypy --strict examples/play_game.py watch_game.py" mypy --strict "${mypy_args[@]}" play_game.py watch_game.py
pass "mypy --strict accepts examples/play_game.py and examples/watch_game.py"

cat >wrong.py <<'EOF'
from vemla_chess import Board, MoveGenerator

board = Board()
board.push(5)
moves: list[int] = MoveGenerator()(board)
Board.bitboard_from_fen(fen=None)
board.push(move="e2e4")


class MyBoard(Board):
    pass
EOF
if mypy "${mypy_args[@]}" wrong.py >"$log" 2>&1; then
  fail "mypy accepted a wrong program"
fi
for expected in \
  'wrong.py:4: error: Argument 1 to "push" of "Board" has incompatible type "int"; expected "str"' \
  'wrong.py:5: error: Incompatible types in assignment' \
  'wrong.py:6: error: Argument "fen" to "bitboard_from_fen" of "Board" has incompatible type "None"' \
  'wrong.py:7: error: Unexpected keyword argument "move" for "push" of "Board"' \
  'wrong.py:10: error: Cannot inherit from final class "Board"'; do
  grep -qF "$expected" "$log" || fail "mypy did not report: $expected"
done
pass "mypy rejects a wrong program with the expected errors"

# stubtest imports the module and compares names, parameters and kinds with
# the stubs; mypy comes from Debian, the module and stubs from the venv.
run "stubtest" env PYTHONPATH="$site" "$python" -m mypy.stubtest \
  --mypy-config-file /dev/null vemla_chess
pass "stubtest: the stubs match the module"

run "pip uninstall" "$venv/bin/pip" uninstall -y vemla_chess
if compgen -G "$site/vemla_chess*" >/dev/null; then
  fail "pip uninstall left files: $(ls -d "$site"/vemla_chess*)"
fi
if compgen -G "$venv/bin/vemla-*" >/dev/null; then
  fail "pip uninstall left commands: $(ls "$venv"/bin/vemla-*)"
fi
pass "pip uninstall removes everything"

# The source distribution must carry everything the build needs.
cd "$repo"
run "setup.py sdist" "$venv/bin/python" setup.py -q sdist -d "$work/dist"
cd "$work/outside"
run "pip install the sdist" \
  "$venv/bin/pip" install --no-index --no-build-isolation "$work"/dist/*.tar.gz
run "the module from the sdist" "$venv/bin/python" -I -c '
from vemla_chess import Board, MoveGenerator
assert len(MoveGenerator()(Board())) == 20'
run "vemla-perft from the sdist" env -u PYTHONPATH "$venv/bin/vemla-perft" --jobs 2 2
grep -qx "Nodes searched: 400" "$log" || fail "vemla-perft from the sdist: perft 2 of the starting position"
pass "the source distribution builds and installs, with its commands"

# ------------------------------------------------------------------- C++ ----
prefix="$work/prefix"
run "configure the core" cmake -S "$repo" -B "$work/core" -DCMAKE_BUILD_TYPE=Release \
  -DVEMLA_BUILD_TESTS=OFF -DVEMLA_BUILD_BENCHMARKS=OFF -DVEMLA_BUILD_PYTHON=OFF
run "build the core" cmake --build "$work/core" --target vemla_core -j"$jobs"
run "cmake --install" cmake --install "$work/core" --prefix "$prefix"
# Exactly the core's headers: every header under src/ but the binding's, and
# the forwarding headers at the old paths of headers that moved (compat/).
forwarding="$(cd "$repo/compat" && find . -name '*.hpp' | sort)"
expected="$( (cd "$repo/src" && find . -name '*.hpp' -not -path './binding/*'; echo "$forwarding") | sort)"
installed="$(cd "$prefix/include/vemla_chess" && find . -type f | sort)"
[[ "$installed" == "$expected" ]] ||
  fail "installed headers differ from the core's: $(diff <(echo "$expected") <(echo "$installed") | grep '^[<>]' | xargs)"
grep -rlq 'Python\.h' "$prefix/include" && fail "an installed header includes Python.h"
# Every quoted include of an installed header resolves inside the installed
# tree, and each chief header (*/mod.hpp) compiles on its own against it.
(cd "$prefix/include/vemla_chess" &&
  grep -ho '^#include "[^"]*"' $installed | cut -d'"' -f2 | sort -u | while read -r target; do
    [[ -f "$target" ]] || { echo "$target"; exit 1; }
  done) >"$log" 2>&1 || fail "an installed header includes a header that is not installed: $(cat "$log")"
for header in $(grep '/mod\.hpp$' <<<"$installed"); do
  echo "#include \"${header#./}\"" >"$work/header.cpp"
  run "installed ${header#./} compiles alone" \
    g++ -std=c++20 -fsyntax-only -I"$prefix/include/vemla_chess" "$work/header.cpp"
done
pass "cmake --install: the core's $(wc -w <<<"$installed") headers under include/vemla_chess, none of the binding's"
# A program that still includes a header by its old path builds.
for header in $forwarding; do
  echo "#include \"${header#./}\"" >"$work/header.cpp"
  run "forwarding header ${header#./} compiles alone" \
    g++ -std=c++20 -fsyntax-only -I"$prefix/include/vemla_chess" "$work/header.cpp"
done
pass "the $(wc -w <<<"$forwarding") forwarding headers at old paths compile against the installed tree"

compilers=(g++)
command -v clang++ >/dev/null && compilers+=(clang++)
for cxx in "${compilers[@]}"; do
  build="$work/example-$cxx"
  run "configure examples/cpp ($cxx)" env CXX="$cxx" cmake -S "$repo/examples/cpp" -B "$build" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
  run "build examples/cpp ($cxx)" cmake --build "$build" -j"$jobs"

  "$build/vemla_example" 3 >"$log" 2>&1 || fail "run examples/cpp ($cxx)"
  grep -qx "legal moves (20):.*" "$log" && grep -qx "perft 3: 8902" "$log" \
    || fail "examples/cpp ($cxx): perft of the starting position"
  "$build/vemla_example" 1 e2e4 e7e5 >"$log" 2>&1 || fail "run examples/cpp with moves ($cxx)"
  grep -qx "fen: rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6" "$log" \
    && grep -qx "perft 1: 29" "$log" || fail "examples/cpp ($cxx): moves played"
  if "$build/vemla_example" 1 e2e5 >"$log" 2>&1; then
    fail "examples/cpp ($cxx) accepted an illegal move"
  fi
  pass "examples/cpp builds against the installed package with $cxx and runs"
done

echo "packaging: $passed passed, 0 failed"
