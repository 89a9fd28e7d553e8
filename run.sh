#!/usr/bin/env bash
# Perft through the Python module, on every core: ./run.sh [--jobs N | --scheduler ADDRESS] [FEN] [depth]
# Builds the module first if needed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [[ ! -f "$here/build/CMakeCache.txt" ]]; then
  "$here/tools/install_deps.sh"
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
fi
cmake --build "$here/build" -j2 --target vemla_chess >/dev/null
PYTHONPATH="$here/build/python" exec /usr/bin/python3 "$here/tools/perft.py" "$@"
