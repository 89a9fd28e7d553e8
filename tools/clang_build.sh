#!/usr/bin/env bash
# Builds everything with clang in the configuration ./test.sh builds with GCC
# (Release, link-time optimisation, warnings as errors), runs the GoogleTest
# suite of the core on it and loads the module it built: code that only one
# of the two compilers compiles, or links, fails here.
#
#   tools/clang_build.sh
#
# Environment: VEMLA_CLANG_BUILD_DIR (default build-clang),
# VEMLA_CLANG_SKIP_DEPS=1 to skip the package check.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
[[ "${VEMLA_CLANG_SKIP_DEPS:-0}" == 1 ]] || "$root/tools/install_deps.sh"

build="$(realpath -m "${VEMLA_CLANG_BUILD_DIR:-$root/build-clang}")"
echo "=== clang Release build ($(clang++ --version | head -n 1)) in $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMLA_WERROR=ON \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { tail -n 60 "$build/build.log"; exit 1; }
# The deep perft runs are ./test.sh's; here the suite checks the same code
# compiled by the other compiler.
unset VEMLA_DEEP_PERFT
if ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 >"$build/ctest.log" 2>&1; then
  sed -n '/tests passed/,$p' "$build/ctest.log"
else
  cat "$build/ctest.log"
  exit 1
fi
PYTHONPATH="$build/python" /usr/bin/python3 -c '
import vemla_chess as vc
board, gen = vc.Board(), vc.MoveGenerator()
assert len(gen(board)) == 20
print("clang-built module loads:", vc.__file__)'
