#!/usr/bin/env bash
# Builds the vemla_chess module for Debian's python3 in build/ (shared with
# ./test.sh), configuring build/ first if needed, and says so while it works;
# installs with apt what the build lacks. Prints nothing when the module is
# up to date. Used by ./run.sh and tools/python.
#   tools/build_module.sh
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build"
cache="$build/CMakeCache.txt"
say() { printf '%s\n' "$*" >&2; }

# (Re)configure unless build/ is already set up for the module of Debian's
# python3: a build/ configured by hand for the C++ core alone, or for another
# interpreter, would not give /usr/bin/python3 a module it can import.
if [[ ! -f "$cache" ]] || ! grep -qx 'VEMLA_BUILD_PYTHON:BOOL=ON' "$cache" ||
   ! grep -qx '_Python3_EXECUTABLE:INTERNAL=/usr/bin/python3' "$cache"; then
  "$repo/tools/install_deps.sh" --main
  say "configuring build/ with CMake ..."
  mkdir -p "$build"
  if ! cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMLA_BUILD_PYTHON=ON \
         -DPython3_EXECUTABLE=/usr/bin/python3 >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    exit 1
  fi
fi

# The build's own progress lines, shown on one line of a terminal; elsewhere
# one line says what is going on. The whole output is kept in build/build.log.
log="$build/build.log"
: >"$log"
building=0
while IFS= read -r line; do
  printf '%s\n' "$line" >>"$log"
  if [[ "$line" =~ ^\[\ *([0-9]+)%\]\ (Building|Linking) ]]; then
    if ((!building)); then
      say "building the module in build/ (from scratch: about a minute on two idle cores) ..."
      building=1
    fi
    if [[ -t 2 ]]; then
      step="${line#*] }"
      printf '\r\033[K  [%3s%%] %s' "${BASH_REMATCH[1]}" "${step:0:70}" >&2
    fi
  fi
done < <(cmake --build "$build" -j2 --target vemla_chess 2>&1; echo "exit status $?")
[[ -t 2 ]] && ((building)) && printf '\r\033[K' >&2
if [[ "$(tail -n 1 "$log")" != "exit status 0" ]]; then
  say "building the module failed:"
  cat "$log" >&2
  exit 1
fi
