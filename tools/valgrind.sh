#!/usr/bin/env bash
# Runs the GoogleTest suite of the core under Valgrind's memcheck: invalid
# reads and writes, use of uninitialised values, bad frees, and memory that is
# definitely or indirectly lost at exit all fail the run.
#
#   tools/valgrind.sh [extra gtest arguments...]
#
# The suite is built in RelWithDebInfo (-O2 -g) without link-time optimisation,
# so that reports point at source lines, and without the Python module.
#
# The whole suite runs: about 4 to 5 minutes under memcheck on the 2-core CI
# machine (7 s natively). Only the deep perft counts are left out, as in every
# ordinary run, by unsetting VEMLA_DEEP_PERFT: under memcheck they would take
# hours. VEMLA_VALGRIND_FILTER sets a gtest filter (default '*'), for example
# '-Suite/CasePerft.*' to skip the broad perft suite (two thirds of the time).
#
# Two settings keep memcheck from reporting what is not a fault of the code:
#   - --soname-synonyms=somalloc=nouserintercepts: allocation_failure_test.cpp
#     replaces the global operator new to make allocations fail; by default
#     memcheck puts its own operator new in its place, so the refusals never
#     happen and every delete looks mismatched;
#   - a suppression for GoogleTest's fallback printer, which dumps the raw bytes
#     of a test parameter that has no printer of its own, padding included
#     (uninitialised by nature).
#
# Environment: VEMLA_VALGRIND_BUILD_DIR (default build-valgrind),
# VEMLA_VALGRIND_SKIP_DEPS=1 to skip the package check.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VEMLA_VALGRIND_BUILD_DIR:-$root/build-valgrind}"
filter="${VEMLA_VALGRIND_FILTER:-*}"

[[ "${VEMLA_VALGRIND_SKIP_DEPS:-0}" == 1 ]] || "$root/tools/install_deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF -DVEMLA_BUILD_PYTHON=OFF \
  -DVEMLA_BUILD_TESTS=ON -DVEMLA_BUILD_BENCHMARKS=OFF -DVEMLA_BUILD_FUZZERS=OFF \
  -DVEMLA_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target core_tests

suppressions="$build/gtest-printer.supp"
cat >"$suppressions" <<'END'
{
   gtest-prints-raw-bytes-of-a-parameter-cond
   Memcheck:Cond
   ...
   fun:*PrintBytesInObjectTo*
}
{
   gtest-prints-raw-bytes-of-a-parameter-value
   Memcheck:Value8
   ...
   fun:*PrintBytesInObjectTo*
}
END

unset VEMLA_DEEP_PERFT
# The differential test of the two legality paths compares a few million
# positions natively; a small share of them is enough here.
export VEMLA_DIFFERENTIAL_SCALE="${VEMLA_DIFFERENTIAL_SCALE:-2}"
echo "=== GoogleTest suite under memcheck, filter: $filter"
start=$SECONDS
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  --num-callers=30 --soname-synonyms=somalloc=nouserintercepts \
  --suppressions="$suppressions" \
  "$build/tests/core_tests" --gtest_brief=1 "--gtest_filter=$filter" "$@"
echo "memcheck: no errors, no definite or indirect leaks ($((SECONDS - start)) s)"
