#!/usr/bin/env bash
# Line and branch coverage of the test suite, per source folder.
#
#   tests/coverage.sh [--build DIR] [--html DIR] [--json FILE] [--keep] [--no-test]
#                     [-- CTEST_ARGS...]
#
#   --build DIR   build folder (default build-coverage)
#   --html DIR    also write a detailed HTML report into DIR
#   --json FILE   also write every counted line and branch of the shipped
#                 libraries as gcovr JSON (for listing what is not taken)
#   --keep        add this run's counters to those of the last run instead
#                 of starting from zero (after a full run, run only the
#                 suites that changed: --keep -- -R NAME)
#   --no-test     report on the counters of an earlier run, run nothing
#   CTEST_ARGS    passed to ctest (for example -R api_ to run some suites)
#
# Builds everything unoptimised with gcov counters that threads update
# atomically (the library's interrupt and capture threads run beside the
# tests), runs ctest, and prints one row per folder: lines and branches
# covered.  Branches that only exceptions take and those the compiler
# proves unreachable are not counted.  Needs gcovr (Debian package gcovr).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-coverage
html=""
json=""
keep=0
run_tests=1
ctest_args=()
die() { echo "tests/coverage.sh: $*" >&2; exit 2; }
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=${2:?}; shift 2 ;;
    --html) html=${2:?}; shift 2 ;;
    --json) json=${2:?}; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-test) run_tests=0; shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; ctest_args=("$@"); break ;;
    *) die "unknown argument $1 (see --help)" ;;
    esac
done
command -v gcovr >/dev/null || die "gcovr not found (apt-get install gcovr)"

folders=(libvyxzeb sensor_q210b log demos virtual_board)
flags="--coverage -fprofile-update=atomic -O0"
status=0
if [ "$run_tests" = 1 ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
    cmake --build "$build" -j"${JOBS:-2}"
    if [ "$keep" = 0 ]; then find "$build" -name '*.gcda' -delete; fi
    # A failing test still leaves its counters; the report comes anyway and
    # the script's status says the run was not clean.
    # The check that the threshold loops are vectorised reads the machine
    # code, which -O0 leaves scalar: it runs in the optimised builds only.
    ctest --test-dir "$build" -j"${JOBS:-2}" -E '_loops_vectorised$' "${ctest_args[@]}" \
        >"$build/coverage-ctest.log" 2>&1 || status=$?
    tail -n 3 "$build/coverage-ctest.log"
fi

common=(--root . --object-directory "$build" --exclude-throw-branches --exclude-unreachable-branches
        --exclude '.*/tests/.*' --exclude '.*/fuzz/.*' --exclude '.*/bench/.*' --exclude "$build/.*")
# One table row from gcovr's JSON summary of a folder.
row='
import json, sys
s = json.load(sys.stdin)
def cell(kind):
    cov, tot = s[kind + "_covered"], s[kind + "_total"]
    return "%5.1f%% (%d/%d)" % (100.0 * cov / tot, cov, tot) if tot else "-"
print("%-16s %18s %22s" % (sys.argv[1], cell("line"), cell("branch")))
'
printf '%-16s %18s %22s\n' folder "lines" "branches"
for f in "${folders[@]}"; do
    summary=$(gcovr "${common[@]}" --filter "$f/" --json-summary 2>/dev/null) || die "gcovr failed on $f"
    python3 -c "$row" "$f" <<<"$summary"
done
if [ -n "$json" ]; then
    gcovr "${common[@]}" --filter 'libvyxzeb/' --filter 'sensor_q210b/' --json -o "$json"
    echo "JSON report: $json"
fi
if [ -n "$html" ]; then
    mkdir -p "$html"
    gcovr "${common[@]}" --filter 'libvyxzeb/' --filter 'sensor_q210b/' --filter 'log/' --filter 'demos/' \
        --filter 'virtual_board/' --html-details "$html/index.html"
    echo "HTML report: $html/index.html"
fi
exit $status
