#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one in turn
# for the given number of seconds (default 60) on a fresh copy of its seed
# corpus, after replaying its saved regressions.
#
#   tools/fuzz.sh [seconds-per-target] [target...]
#
# Exits non-zero if a target crashes, leaks, times out, exceeds its memory
# limit or breaks one of its invariants. Crashing inputs are written to
# fuzz/artifacts/ (not tracked); to keep one, move it to fuzz/regressions/<target>/.
#
# Environment: VEMLA_FUZZ_BUILD_DIR (default build-fuzz) for the build
# directory, VEMLA_FUZZ_SKIP_DEPS=1 to skip the package check.
#
# VEMLA_FUZZ_SEED=N makes the run repeatable: libFuzzer's seed is fixed and
# each target makes a fixed number of runs (about the given seconds' worth on
# a 2-core machine) instead of running for a time, so the same tree always
# tries the same inputs, however fast the machine. CI runs this way: a time
# limit with a random seed would let a find depend on the machine's load.
# Longer searches for new faults run without it.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fen_fuzzer move_text_fuzzer ops_fuzzer san_fuzzer pgn_fuzzer book_fuzzer)
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: $0 [seconds-per-target] [target...]" >&2; exit 2; }

[[ "${VEMLA_FUZZ_SKIP_DEPS:-0}" == 1 ]] || "$root/tools/install_deps.sh"

build="${VEMLA_FUZZ_BUILD_DIR:-$root/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEMLA_BUILD_FUZZERS=ON -DVEMLA_BUILD_PYTHON=OFF -DVEMLA_BUILD_TESTS=OFF \
  -DVEMLA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Per-target limits: inputs longer than these only slow the search down.
declare -A max_len=([fen_fuzzer]=512 [move_text_fuzzer]=32 [ops_fuzzer]=1024 [san_fuzzer]=160 [pgn_fuzzer]=4096 [book_fuzzer]=1039)
# Runs per second of each target on one core of a 2-core machine under the
# sanitizers, for VEMLA_FUZZ_SEED's fixed run counts (others: 10000).
declare -A rate=([fen_fuzzer]=60000 [move_text_fuzzer]=100000 [ops_fuzzer]=2000 [san_fuzzer]=45000 [pgn_fuzzer]=2000 [book_fuzzer]=50000)
declare -A dict=([fen_fuzzer]=fen.dict [move_text_fuzzer]=move_text.dict [ops_fuzzer]=fen.dict [san_fuzzer]=san.dict [pgn_fuzzer]=pgn.dict)

# max_uar_stack_size_log=16: every C++ throw makes the next frame allocation
# sweep the whole fake stack kept for use-after-return checks, and the inputs
# that throw are most of them; 64 KiB per frame size (the smallest) still
# holds a thousand small frames, far more than any call chain here needs.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:max_uar_stack_size_log=16:strict_string_checks=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

artifacts="$root/fuzz/artifacts"
mkdir -p "$artifacts"
failed=()
summary=()
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  work="$build/fuzz-run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  # The committed seeds stay as they are: the run grows a copy.
  cp -r "$root/fuzz/corpus/$target/." "$work/corpus/"
  extra=()
  # Saved crashers are read as a second corpus, so each one runs first.
  regressions="$root/fuzz/regressions/$target"
  [[ -d "$regressions" ]] && extra+=("$regressions")
  options=()
  [[ -n "${dict[$target]:-}" ]] && options+=("-dict=$root/fuzz/dict/${dict[$target]}")
  [[ -n "${max_len[$target]:-}" ]] && options+=("-max_len=${max_len[$target]}")

  if [[ -n "${VEMLA_FUZZ_SEED:-}" ]]; then
    runs_wanted=$((seconds * ${rate[$target]:-10000}))
    options+=("-seed=$VEMLA_FUZZ_SEED" "-runs=$runs_wanted")
    echo "=== $target: $runs_wanted runs, seed $VEMLA_FUZZ_SEED"
  else
    options+=("-max_total_time=$seconds")
    echo "=== $target: ${seconds}s"
  fi
  # One process, no -jobs/-workers: those fork children that log to fuzz-N.log.
  # The outer timeout only guards against a fuzzer that never stops (a fixed
  # run count on a slow machine may take a few times the seconds given).
  status=0
  timeout --signal=KILL $((4 * seconds + 300)) "$binary" "$work/corpus" "${extra[@]}" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "${options[@]}" 2>"$work/log" || status=$?
  grep -E '^(stat::|Done |#[0-9]+ +DONE)|ERROR|invariant broken|SUMMARY|Test unit written' "$work/log" || true
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")"
  if ((status != 0)); then
    echo "--- $target FAILED (exit $status); last lines of $work/log:"
    tail -n 60 "$work/log"
    failed+=("$target")
  fi
  summary+=("$(printf '%-18s %-6s %12s runs' "$target" "$([[ $status == 0 ]] && echo ok || echo FAIL)" "${runs:-?}")")
done

echo "=== fuzz summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "fuzzing found failures in: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
