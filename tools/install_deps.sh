#!/usr/bin/env bash
# Installs, with apt, whatever the build and the tests need and the machine
# lacks, plus any further packages named as arguments.
#   tools/install_deps.sh [package...]
set -euo pipefail
# python3-exceptiongroup and python3-tomli: Debian's pytest needs them when it
# runs under Python 3.10 (tools/test_pythons.sh).
packages=(cmake g++ make libgtest-dev libbenchmark-dev python3-dev python3-pytest
          python3-hypothesis python3-numpy python3-venv python3-wheel python3-setuptools
          python3-pip python3-exceptiongroup python3-tomli python3-distributed mypy clang
          libclang-rt-14-dev valgrind librsvg2-bin python3-pil fonts-dejavu-core "$@")
# gnuchess-book: a real Polyglot opening book, which the book tests walk.
packages+=(gnuchess-book)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
