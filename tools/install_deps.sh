#!/usr/bin/env bash
# Installs, with apt, whatever the machine lacks of what the build and the
# tests need, plus any further packages named as arguments. With --main, only
# what the main job (./run.sh: perft through the module) needs; with --only,
# only the packages named.
#   tools/install_deps.sh [--main | --only] [package...]
set -euo pipefail
# Building the module and running it.
main=(cmake g++ make python3-dev)
# The test suites, the hardening checks (sanitizers, fuzzers, valgrind), the
# type check of the stubs, the Dask and numpy tools, the pictures and the
# documentation.
# python3-exceptiongroup and python3-tomli: Debian's pytest needs them when it
# runs under Python 3.10 (tools/test_pythons.sh).
# gnuchess-book: a real Polyglot opening book, which the book tests walk.
# python3-sphinx, furo, python3-myst-parser: the documentation site (tools/docs.sh).
# stockfish: the real engine of the engine client's tests and benchmark.
tests=(libgtest-dev libbenchmark-dev python3-pytest python3-hypothesis python3-numpy python3-venv
       python3-wheel python3-setuptools python3-pip python3-exceptiongroup python3-tomli
       python3-distributed mypy clang libclang-rt-14-dev valgrind librsvg2-bin python3-pil
       fonts-dejavu-core python3-zstandard gnuchess-book
       python3-sphinx furo python3-myst-parser stockfish)
packages=("${main[@]}")
if [[ "${1:-}" == --main ]]; then
  shift
elif [[ "${1:-}" == --only ]]; then
  shift
  packages=()
else
  packages+=("${tests[@]}")
fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing with apt (a minute or two): ${missing[*]}" >&2
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
