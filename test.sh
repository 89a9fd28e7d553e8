#!/usr/bin/env bash
# Builds everything and runs every test: the GoogleTest suite of the C++ core
# (through ctest) and the pytest suite of the Python module.
set -euo pipefail
cd "$(dirname "$0")"
tools/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVEMLA_WERROR=ON -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j2
# Deep perft: every count of the standard positions, to depth 5 and beyond.
VEMLA_DEEP_PERFT=1 ctest --test-dir build --output-on-failure -j2
# The module must also import in the other Python on PATH (same ABI).
if command -v python3 >/dev/null && [[ "$(command -v python3)" != /usr/bin/python3 ]]; then
  PYTHONPATH=build/python python3 -c "import vemla_chess; vemla_chess.MoveGenerator()(vemla_chess.Board())"
fi
VEMLA_MODULE_DIR="$PWD/build/python" /usr/bin/python3 -m pytest tests/python -q
