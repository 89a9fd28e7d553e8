#!/usr/bin/env bash
# Formats the C++ sources by .clang-format: src/, tests/cpp/, fuzz/, bench/
# and tools/.
#
#   tools/format.sh           rewrite the files in place
#   tools/format.sh --check   change nothing; list the files that would
#                             change and exit 1 if there are any
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format="${CLANG_FORMAT:-clang-format}"
command -v "$clang_format" >/dev/null || { echo "format.sh: $clang_format not found" >&2; exit 2; }

mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp' \
                                     'fuzz/*.cpp' 'fuzz/*.hpp' 'bench/*.cpp' 'tools/*.cpp')
if [[ "${1:-}" == "--check" ]]; then
  changed=0
  for f in "${files[@]}"; do
    if ! "$clang_format" --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      changed=1
    fi
  done
  exit "$changed"
fi
"$clang_format" --style=file -i "${files[@]}"
