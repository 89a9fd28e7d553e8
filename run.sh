#!/usr/bin/env bash
# Perft through the Python module, on every core:
#   ./run.sh [--jobs N | --scheduler ADDRESS] [--force] [FEN | startpos] [DEPTH]
# Builds the module first if needed, in build/ (shared with ./test.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/tools/build_module.sh"
PYTHONPATH="$here/build/python" VEMLA_PERFT_PROG="$0" exec /usr/bin/python3 "$here/tools/perft.py" "$@"
