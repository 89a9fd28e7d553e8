#!/usr/bin/env bash
# Builds the module for every supported CPython (3.10 to 3.13) found on this
# machine and runs the pytest suite under each.
#
#   tools/test_pythons.sh [--skip PYTHON]... [PYTHON...]
#
# Without PYTHON arguments it looks for Debian's /usr/bin/python3, python3.N
# on PATH and pyenv's versions (${PYENV_ROOT:-~/.pyenv}/versions/*). A
# supported version that is not found is reported, not failed. --skip leaves
# out an interpreter that was already tested (CI passes Debian's python3,
# which ./test.sh has just tested).
#
# Interpreters that share an ABI tag (e.g. two builds of 3.11) share one build
# in build-py/<tag>/. An interpreter without pytest of its own runs Debian's
# (pure Python) from /usr/lib/python3/dist-packages; the compiled packages
# there (numpy) then fail to import on other versions, and the tests that need
# them are skipped. Exits non-zero if a build or a test run fails.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
supported=(3.10 3.11 3.12 3.13)
debian_packages=/usr/lib/python3/dist-packages
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

skip=()
given=()
while (($#)); do
  case "$1" in
    --skip) skip+=("$(realpath "$2")"); shift 2 ;;
    *) given+=("$1"); shift ;;
  esac
done

candidates=("${given[@]}")
if ((${#given[@]} == 0)); then
  candidates+=(/usr/bin/python3)
  for v in "${supported[@]}"; do
    command -v "python$v" >/dev/null && candidates+=("$(command -v "python$v")")
  done
  for p in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/*/bin/python3; do
    [[ -x "$p" ]] && candidates+=("$p")
  done
fi

# What an interpreter says about itself: "<real path of its executable>
# <major.minor> <full version> <ABI tag> <headers present 0/1> <free-threaded
# 0/1>", or nothing for one that is not CPython. The real path tells apart
# interpreters that a wrapper (a pyenv shim) only names.
describe() {
  "$1" - <<'EOF' 2>/dev/null || true
import os, platform, sys, sysconfig
if platform.python_implementation() == "CPython":
    include = sysconfig.get_paths()["include"]
    print(os.path.realpath(sys.executable), "%d.%d" % sys.version_info[:2], platform.python_version(),
          sysconfig.get_config_var("EXT_SUFFIX").strip(".").removesuffix(".so"),
          int(os.path.isfile(os.path.join(include, "Python.h"))),
          int(bool(sysconfig.get_config_var("Py_GIL_DISABLED"))))
EOF
}

declare -A seen found built
failed=0
results=()
report() { results+=("$(printf '%-5s %-9s %s' "$1" "$2" "$3")"); }

for python in "${candidates[@]}"; do
  [[ -x "$python" ]] || { report "?" "-" "$python: not an executable"; failed=1; continue; }
  real="" minor=""
  read -r real minor version tag headers free_threaded <<<"$(describe "$python")" || true
  [[ -n "$minor" ]] || continue  # not CPython, or older than 3.9 (no removesuffix)
  [[ -n "${seen[$real]:-}" ]] && continue
  seen[$real]=1
  [[ " ${supported[*]} " == *" $minor "* ]] || continue
  found[$minor]=1
  if [[ " ${skip[*]} " == *" $real "* ]]; then
    report "$minor" "$version" "$python: skipped (tested elsewhere)"
    continue
  fi
  if ((free_threaded)); then
    report "$minor" "$version" "$python: free-threaded build, not supported"
    continue
  fi
  if ((!headers)); then
    report "$minor" "$version" "$python: FAILED, no development headers (Python.h)"
    failed=1
    continue
  fi

  build="$repo/build-py/$tag"
  log="$repo/build-py/python-$version.log"
  mkdir -p "$repo/build-py"
  if [[ -n "${built[$tag]:-}" ]]; then
    build_time="build shared"
  else
    started=$SECONDS
    if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEMLA_WERROR=ON \
             -DVEMLA_BUILD_TESTS=OFF -DVEMLA_BUILD_BENCHMARKS=OFF -DVEMLA_BUILD_TOOLS=OFF \
             -DVEMLA_INSTALL=OFF -DPython3_EXECUTABLE="$python" &&
           cmake --build "$build" -j"$jobs" --target vemla_chess; } >"$log" 2>&1; then
      tail -n 30 "$log" >&2
      report "$minor" "$version" "$python: FAILED to build (log: $log)"
      failed=1
      continue
    fi
    built[$tag]=1
    build_time="build $((SECONDS - started))s"
  fi

  # Debian's pytest for an interpreter that has none; appended, so that the
  # interpreter's own packages come first.
  pythonpath="${PYTHONPATH:-}"
  warnings=()
  if ! "$python" -c "import pytest" >/dev/null 2>&1; then
    pythonpath="${pythonpath:+$pythonpath:}$debian_packages"
    # Debian's pytest is older than 3.12: its own use of APIs that newer
    # interpreters deprecate is not this project's to report.
    warnings=(-W "ignore::DeprecationWarning:_pytest.assertion.rewrite"
              -W "ignore:TestResult has no addDuration method:RuntimeWarning")
  fi
  started=$SECONDS
  if (cd "$repo" && PYTHONPATH="$pythonpath" VEMLA_MODULE_DIR="$build/python" \
        "$python" -m pytest tests/python -q -p no:cacheprovider -rs "${warnings[@]}") >"$log" 2>&1; then
    summary="$(grep -E '^=*.*(passed|failed|error).* in [0-9.]+s' "$log" | tail -n 1 | tr -d '=' | xargs)"
    # "SKIPPED [3] file:line: reason" lines, summed per reason.
    skipped="$(grep -E '^SKIPPED' "$log" | sed -E 's/^SKIPPED \[([0-9]+)\] [^:]+:[0-9]+: /\1 /' |
               awk '{n = $1; $1 = ""; count[substr($0, 2)] += n} END {for (r in count) print count[r], r}' |
               paste -sd';' - || true)"
    report "$minor" "$version" "$summary ($build_time, tests $((SECONDS - started))s)${skipped:+; skipped: $skipped}"
  else
    tail -n 60 "$log" >&2
    report "$minor" "$version" "$python: FAILED tests (log: $log)"
    failed=1
  fi
done

for v in "${supported[@]}"; do
  [[ -n "${found[$v]:-}" ]] || report "$v" "-" "not found on this machine, not tested"
done
echo "Python versions:"
printf '  %s\n' "${results[@]}"
exit "$failed"
