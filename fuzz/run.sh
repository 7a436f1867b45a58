#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while; any
# finding fails the run.
#
#   fuzz/run.sh [--seconds N] [--jobs N] [--build DIR] [TARGET...]
#
#   --seconds N   run time per target (default 60)
#   --jobs N      targets run at once (default 2)
#   --build DIR   build folder (default build-fuzz)
#   TARGET        names without the fuzz_ prefix (default: every target)
#
# Each target starts from its seed corpus fuzz/corpus/<target>/ copied into
# DIR/corpus/<target>/ (the tree's corpus never grows on its own).  A finding
# is written to DIR/findings/<target>/; keep it by copying it into
# fuzz/corpus/<target>/ with a name that says what it found: from then on
# every build with tests replays it (CTest label "fuzz").
#
# Needs clang-15 and libfuzzer-15-dev (Debian).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
jobs=2
build=build-fuzz
targets=()
die() { echo "fuzz/run.sh: $*" >&2; exit 2; }
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --build) build=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) targets+=("$1"); shift ;;
    esac
done
[[ "$seconds" =~ ^[0-9]+$ && "$jobs" =~ ^[1-9][0-9]*$ ]] || die "--seconds and --jobs take whole numbers"
command -v clang++-15 >/dev/null || die "clang++-15 not found (apt-get install clang-15 libfuzzer-15-dev)"

if [ ${#targets[@]} -eq 0 ]; then
    for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

CC=clang-15 CXX=clang++-15 cmake -S . -B "$build" -G Ninja -DVYX_FUZZ=ON -DVYX_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

# One target: fresh working corpus, bounded run, log kept for the report.
run_one() {
    local t=$1 corpus="$build/corpus/$1" findings="$build/findings/$1"
    rm -rf "$corpus" "$findings"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$t"/* "$corpus"/
    if timeout $((seconds + 120)) "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$build/fuzz_$t.log" 2>&1; then
        echo "fuzz_$t: $(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$build/fuzz_$t.log" | grep -Eo '[0-9]+$') runs in ${seconds} s, no finding"
    else
        echo "fuzz_$t: FINDING (log $build/fuzz_$t.log, input in $findings/)"
        grep -E 'ERROR|SUMMARY|^fuzz_' "$build/fuzz_$t.log" | head -5
        return 1
    fi
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
    [ -d "fuzz/corpus/$t" ] || die "no corpus for target $t"
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
exit $failed
