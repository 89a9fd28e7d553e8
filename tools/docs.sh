#!/usr/bin/env bash
# Builds the documentation site (docs/, Sphinx with MyST Markdown and the furo
# theme, all from Debian's packages) into build/docs/html, with every warning
# an error. Needs no network and not the compiled module.
#   tools/docs.sh [OUTPUT_DIR]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$repo/build/docs/html}"
"$repo/tools/install_deps.sh" --only python3-sphinx furo python3-myst-parser
# -W: warnings fail the build; --keep-going: report them all first;
# -E: read every page again, so no warning hides in a cached page.
/usr/bin/python3 -m sphinx -b html -W --keep-going -E -q -d "$repo/build/docs/doctrees" "$repo/docs" "$out"
echo "docs: $out/index.html"
