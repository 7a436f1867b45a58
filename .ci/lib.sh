# Helpers shared by the CI legs (sourced by .ci/run; every leg runs with the
# project root as working directory and these functions defined).

log() { printf '\n=== %s (%s) ===\n' "$*" "$(date -u +%H:%M:%S)"; }

JOBS=${JOBS:-2}
# The suites mostly wait (a device takes over a second to initialise, frames
# come at the sensor's rate), so ctest runs three per core: 116 s of leg 10's
# suites took 55 s this way at a load of 8.  The suites wait on events, not
# on time, so the extra load is also a test of that.
CTEST_JOBS=${CTEST_JOBS:-$((JOBS * 3))}
ROOT=${ROOT:-$(pwd)}

# Runs ctest in a build folder and fails when it ran no test at all.
# Extra arguments go to ctest (for example -L or -R to pick suites).
run_ctest() {
    local dir=$1
    shift
    local out
    out=$(mktemp)
    set +e
    ctest --test-dir "$dir" --output-on-failure -j"$CTEST_JOBS" "$@" 2>&1 | tee "$out"
    local rc=${PIPESTATUS[0]}
    set -e
    if ! grep -Eq 'tests passed, [0-9]+ tests failed out of [1-9]' "$out"; then
        echo "ctest in $dir ran no tests" >&2
        rc=1
    fi
    rm -f "$out"
    return "$rc"
}
