#!/usr/bin/env bash
# Perft through the Python module, on every core: ./run.sh [--jobs N | --scheduler ADDRESS] [FEN] [depth]
# Builds the module first if needed, in build/ (shared with ./test.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cache="$here/build/CMakeCache.txt"
# (Re)configure unless build/ is already set up for the module of Debian's
# python3: a build/ configured by hand for the C++ core alone, or for another
# interpreter, would not give /usr/bin/python3 a module it can import.
if [[ ! -f "$cache" ]] || ! grep -qx 'VEMLA_BUILD_PYTHON:BOOL=ON' "$cache" ||
   ! grep -qx '_Python3_EXECUTABLE:INTERNAL=/usr/bin/python3' "$cache"; then
  "$here/tools/install_deps.sh"
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release -DVEMLA_BUILD_PYTHON=ON \
    -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
fi
cmake --build "$here/build" -j2 --target vemla_chess >/dev/null
PYTHONPATH="$here/build/python" exec /usr/bin/python3 "$here/tools/perft.py" "$@"
